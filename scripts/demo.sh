#!/usr/bin/env bash
# The demo: a private POP3 server (Dovecot, unprivileged, on 127.0.0.1) with a mailbox of sample mail,
# a separate Quarvel profile with that mailbox, a few spam rules and timed checking on, and Quarvel
# started on it. Your real profile is not touched. The server stops when Quarvel ends.
#   scripts/demo.sh [--tls]
# With --tls the mailbox is reached over TLS (port of its own, a self-signed certificate): the first check
# by hand shows the certificate and asks whether to trust it.
set -euo pipefail
tls=""
[ "${1:-}" = "--tls" ] && tls="--tls"
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
build=${QUARVEL_DEMO_BUILD_DIR:-build-demo}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARVEL_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target quarvel quarvel-reg quarvel-rules quarvel-demo-server

profile=${QUARVEL_DEMO_PROFILE:-$(mktemp -d "${TMPDIR:-/tmp}/quarvel-demo.XXXXXX")}
export QUARVEL_PROFILE="$profile"
user=anna
password=demo123

messages=(resources/demo/*.eml)
for sample in /usr/share/doc/spamassassin/examples/sample-spam.txt /usr/share/doc/spamassassin/examples/sample-nonspam.txt; do
  [ -f "$sample" ] && messages+=("$sample")
done

source scripts/demo-server.sh
start_demo_server "$build" "$profile" $tls "$user" "$password" "${messages[@]}" || exit 1
server=$demo_server
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
port=$(demo_server_value "$profile" PORT)

reg="$build/tools/quarvel-reg"
key='HKCU\Software\Tessmar Software\Quarvel'
box="$key\\POP3\\Settings\\0"
"$reg" add "$box" /v Active /d 1 /f
"$reg" add "$box" /v POP3SERVERNAME /d 127.0.0.1 /f
if [ -n "$tls" ]; then
  tlsport=$(demo_server_value "$profile" TLSPORT)
  fingerprint=$(demo_server_value "$profile" FINGERPRINT)
  "$reg" add "$box" /v POP3PORT /d "$tlsport" /f
  "$reg" add "$box" /v POP3Security /d 2 /f
else
  "$reg" add "$box" /v POP3PORT /d "$port" /f
fi
"$reg" add "$box" /v POP3KONTONAME /d "$user" /f
"$reg" add "$box" /v POP3PASSWORD /password /d "$password" /f
"$reg" add "$key\\POP3\\Settings" /v POP3EMAILCHECK /d YES /f
"$reg" add "$key\\POP3\\Settings" /v POP3EMAILCHECKTIME /d 60 /f
"$reg" add "$key\\POP3\\Settings" /v AutoKillSPAM /d 1 /f
"$reg" add "$key\\POP3\\Settings" /v ShowUserInfoBeforeKillSPAM /d 1 /f
"$reg" add "$key\\POP3\\Settings" /v NewMailMsg /d 1 /f
"$reg" add "$key\\Main" /v ConnectionType /d 0 /f
"$reg" add "$key\\View" /v FirstStart_Free /d 0 /f

rules="$build/tools/quarvel-rules"
"$rules" add subject contains "GTUBE"
"$rules" add subject contains "GEWONNEN"
"$rules" add subject contains "V1agra"
"$rules" add header Received contains "spammer.example"

cat <<MSG
Quarvel-Demo
  Profil:      $profile
  Mailserver:  127.0.0.1:${tlsport:-$port}${tls:+ über TLS} (Benutzer $user, Kennwort $password), ${#messages[@]} Nachrichten
  Spam-Regeln: $("$rules" list | wc -l)
Quarvel sitzt jetzt im Infobereich. Ein Klick auf das Symbol zeigt das Hauptfenster;
"Auf neue E-Mails jetzt prüfen" zeigt die Nachrichten mit markiertem Spam. Im Infobereich
prüft Quarvel von selbst (etwa zwei Minuten nach dem Start) und meldet den Spam.
MSG
if [ -n "$tls" ]; then
  cat <<MSG
Das Zertifikat des Servers ist selbst signiert (SHA-256: $fingerprint).
Bei der ersten Prüfung von Hand zeigt Quarvel es und fragt, ob Sie ihm vertrauen; bis dahin
meldet die Prüfung im Hintergrund das Postfach als fehlerhaft.
MSG
fi
"$build/app/quarvel"
