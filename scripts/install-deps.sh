#!/usr/bin/env bash
# Installs every Debian package Quarvel needs to build, run and test. Quick when all is present.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-multimedia-dev qt6-svg-dev libqt6svg6 qt6-image-formats-plugins
  libgmime-3.0-dev libssl-dev libsqlite3-dev libc-ares-dev qtkeychain-qt6-dev
  # signing in at a mail provider with OAuth2 (PKCE, loopback answer)
  qt6-networkauth-dev
  # run: QtKeychain reaches the desktop's keyring (Secret Service) through libsecret
  libsecret-1-0
  # run: the desktop's default mail program is found through xdg-mime; HTTPS trusts the system's store
  xdg-utils ca-certificates
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  openssl
  dovecot-core dovecot-pop3d dovecot-imapd python3 python3-aiosmtpd dnsmasq
  spamassassin libpython3.11-testsuite
  # the keyring tests: a private session bus with its own Secret Service
  dbus-bin dbus-daemon gnome-keyring libsecret-tools
  # installing and packaging: the Debian package's library scan, and the checks of the installed files
  dpkg-dev file gzip groff-base desktop-file-utils appstream
  # seeing the real program: a virtual display, a tray host, screenshots
  xvfb trayer imagemagick x11-utils
  # the desktop tests: a window manager with a task bar list, closing a window as a user does, a private
  # session bus with a StatusNotifier watcher in Python, clicks of the newcomer walk
  openbox wmctrl xdotool dbus-daemon python3-dbus python3-gi
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# Package scripts may try to start services (Dovecot); the tests start their own private instances.
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
