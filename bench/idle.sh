#!/usr/bin/env bash
# Idle cost: Quarvel sitting in the tray with timed checking on and nothing to do. Prints the CPU time
# it used and the wake-ups of its threads (voluntary and involuntary context switches of every task)
# over the measured span; the hope is a figure near zero.
#
#   bench/idle.sh [-d SECONDS] [-s SETTLE_SECONDS] [-i] [BUILD_DIR]
#
# BUILD_DIR (default build-bench) must hold app/quarvel and tools/quarvel-reg. The profile is a fresh
# temporary folder: one active mailbox on 127.0.0.1 at a closed port (a check would fail at once), timed
# checking every 30 minutes (so none falls into the measured minute), a LAN connection, no first start.
# With -i the mailbox is an IMAP one on a private Dovecot (tests/servers/quarvel-demo-server of
# BUILD_DIR), so that its idle connection is measured too: it should wake the program at most once per
# 25 minutes, apart from what the server sends of its own accord.
# Nothing is sent anywhere but to the loopback address.
set -euo pipefail

duration=60
settle=5
imap=0
while getopts "d:s:ih" opt; do
  case $opt in
    d) duration=$OPTARG ;;
    s) settle=$OPTARG ;;
    i) imap=1 ;;
    *) sed -n '2,14p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
quarvel=$build/app/quarvel
reg=$build/tools/quarvel-reg
for f in "$quarvel" "$reg"; do
  [ -x "$f" ] || { echo "Nicht gebaut: $f (cmake --build $build --target quarvel quarvel-reg)" >&2; exit 1; }
done

# Port 1 of the loopback address: nobody listens there without root rights. Make sure of it.
port=1
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "Auf 127.0.0.1:$port hört ein Dienst; das Maß braucht einen geschlossenen Port." >&2
  exit 1
fi

profile=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-idle.XXXXXX")
pid=""
server=""
cleanup() {
  for p in "$pid" "$server"; do
    if [ -n "$p" ] && kill -0 "$p" 2>/dev/null; then
      kill -TERM "$p" 2>/dev/null || true
      wait "$p" 2>/dev/null || true
    fi
  done
  rm -rf "$profile"
}
trap cleanup EXIT
export QUARVEL_PROFILE=$profile

account_type=0
if [ "$imap" = 1 ]; then
  [ -x "$build/tests/servers/quarvel-demo-server" ] || {
    echo "Nicht gebaut: $build/tests/servers/quarvel-demo-server (cmake --build $build --target quarvel-demo-server)" >&2
    exit 1
  }
  source "$root/scripts/demo-server.sh"
  start_demo_server "$build" "$profile" anna idle-kennwort || exit 1
  server=$demo_server
  port=$(demo_server_value "$profile" IMAPPORT)
  account_type=1
fi

key='HKCU\Software\Tessmar Software\Quarvel'
box="$key\\POP3\\Settings\\0"
{
  "$reg" add "$box" /v Active /d 1 /f
  "$reg" add "$box" /v POP3SERVERNAME /d 127.0.0.1 /f
  "$reg" add "$box" /v POP3PORT /d "$port" /f
  "$reg" add "$box" /v POP3KONTONAME /d anna /f
  "$reg" add "$box" /v POP3PASSWORD /password /d idle-kennwort /f
  "$reg" add "$box" /v AccountType /t REG_DWORD /d "$account_type" /f
  "$reg" add "$key\\POP3\\Settings" /v POP3EMAILCHECK /d YES /f
  "$reg" add "$key\\POP3\\Settings" /v POP3EMAILCHECKTIME /d 1800 /f
  "$reg" add "$key\\Main" /v ConnectionType /d 0 /f
  "$reg" add "$key\\View" /v FirstStart_Free /d 0 /f
} >/dev/null

QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$quarvel" >"$profile/quarvel.out" 2>&1 &
pid=$!
sleep "$settle"
if ! kill -0 "$pid" 2>/dev/null; then
  echo "Quarvel läuft nicht mehr:" >&2
  cat "$profile/quarvel.out" >&2
  exit 1
fi

ticks=$(getconf CLK_TCK)
declare -A vol invol run name
cpu_ticks() {
  # Fields after the command name: utime and stime are the 12th and 13th.
  local stat
  stat=$(<"/proc/$pid/stat")
  set -- ${stat##*) }
  echo $(( ${12} + ${13} ))
}
# Fills vol/invol/run/name with prefix $1 for every task of the process (run: nanoseconds on a CPU,
# finer than the clock ticks of utime and stime).
sample_tasks() {
  local task tid sched
  for task in /proc/"$pid"/task/*; do
    tid=${task##*/}
    name[$tid]=$(<"$task/comm") || continue
    sched=$(<"$task/schedstat") || sched=0
    run[$1$tid]=${sched%% *}
    vol[$1$tid]=$(awk '/^voluntary_ctxt_switches/ {print $2}' "$task/status" 2>/dev/null || echo 0)
    invol[$1$tid]=$(awk '/^nonvoluntary_ctxt_switches/ {print $2}' "$task/status" 2>/dev/null || echo 0)
  done
}

cpu0=$(cpu_ticks)
sample_tasks a
t0=$(date +%s.%N)
sleep "$duration"
cpu1=$(cpu_ticks)
sample_tasks b
t1=$(date +%s.%N)
rss=$(awk '/^VmRSS/ {print $2}' "/proc/$pid/status")

wall=$(awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.1f", b - a}')
cpu_ms=$(( (cpu1 - cpu0) * 1000 / ticks ))
what="Postfach an einem geschlossenen Port"
[ "$imap" = 1 ] && what="IMAP-Postfach auf Dovecot 127.0.0.1:$port mit IDLE-Verbindung"
echo "Quarvel im Infobereich, zeitgesteuerte Prüfung an, nichts zu tun ($what): ${wall} s gemessen nach ${settle} s Anlauf"
printf '  %-18s %8s %8s %8s %10s\n' "Thread" "freiw." "unfreiw." "Summe" "CPU (µs)"
total_v=0
total_i=0
total_r=0
for tid in $(printf '%s\n' "${!name[@]}" | sort -n); do
  v=$(( ${vol[b$tid]:-${vol[a$tid]:-0}} - ${vol[a$tid]:-0} ))
  i=$(( ${invol[b$tid]:-${invol[a$tid]:-0}} - ${invol[a$tid]:-0} ))
  r=$(( (${run[b$tid]:-${run[a$tid]:-0}} - ${run[a$tid]:-0}) / 1000 ))
  [ -n "${vol[b$tid]:-}" ] || name[$tid]="${name[$tid]} (beendet)"
  [ -n "${vol[a$tid]:-}" ] || name[$tid]="${name[$tid]} (neu)"
  total_v=$((total_v + v))
  total_i=$((total_i + i))
  total_r=$((total_r + r))
  printf '  %-18s %8d %8d %8d %10d\n' "${name[$tid]}" "$v" "$i" $((v + i)) "$r"
done
printf '  %-18s %8d %8d %8d %10d\n' "alle Threads" "$total_v" "$total_i" $((total_v + total_i)) "$total_r"
awk -v n=$((total_v + total_i)) -v w="$wall" -v c="$cpu_ms" -v us="$total_r" -v r="$rss" 'BEGIN {
  printf "  Aufwachen: %.2f je Sekunde; CPU-Zeit (utime+stime): %d ms, laut schedstat %.2f ms (%.4f %% eines Kerns)\n",
         n / w, c, us / 1000, us / (w * 1e4)
  printf "  VmRSS am Ende: %.1f MiB\n", r / 1024 }'
