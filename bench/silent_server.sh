#!/usr/bin/env bash
# How long one mailbox check lasts against a server that stops answering: quarvel-check with the default
# time-outs against a POP3 server on 127.0.0.1 that is silent in one of these ways, and prints the wall
# time of each run:
#   greeting  accepts the connection and never says a word;
#   top       greets, takes any login, announces 5 messages, and never answers TOP;
#   drip      as top, but answers TOP with one header line every 5 seconds, for ever.
#
#   bench/silent_server.sh [-r RETRIES] [BUILD_DIR] [MODE...]
#
# RETRIES is the mailbox's POP3SERVERRETRIES (default 3, so that the repeated attempts show); BUILD_DIR
# (default build-bench) must hold tools/quarvel-check and tools/quarvel-reg. Each run has a fresh
# temporary profile. Nothing is sent anywhere but to the loopback address. All modes take about 7 minutes.
set -euo pipefail

retries=3
while getopts "r:h" opt; do
  case $opt in
    r) retries=$OPTARG ;;
    *) sed -n '2,13p' "$0"; exit 2 ;;
  esac
done
shift $((OPTIND - 1))
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
shift || true
modes=("$@")
[ ${#modes[@]} -gt 0 ] || modes=(greeting top drip)
check=$build/tools/quarvel-check
reg=$build/tools/quarvel-reg
for f in "$check" "$reg"; do
  [ -x "$f" ] || { echo "Nicht gebaut: $f (cmake --build $build --target quarvel-check quarvel-reg)" >&2; exit 1; }
done

server_py='
import socket, sys, threading, time
mode, port_file = sys.argv[1], sys.argv[2]
srv = socket.socket()
srv.bind(("127.0.0.1", 0))
srv.listen(16)
open(port_file, "w").write(str(srv.getsockname()[1]))
def serve(c):
    f = c.makefile("rwb")
    try:
        if mode == "greeting":
            while f.readline():
                pass
            return
        f.write(b"+OK ready\r\n"); f.flush()
        for line in f:
            cmd = line.strip().split(b" ")[0].upper()
            if cmd == b"CAPA": f.write(b"-ERR\r\n")
            elif cmd in (b"USER", b"PASS", b"NOOP"): f.write(b"+OK\r\n")
            elif cmd == b"STAT": f.write(b"+OK 5 5000\r\n")
            elif cmd == b"QUIT": f.write(b"+OK\r\n"); f.flush(); return
            elif cmd == b"TOP" and mode == "drip":
                f.write(b"+OK\r\n"); f.flush()
                while True:
                    time.sleep(5); f.write(b"X-Drip: one more line\r\n"); f.flush()
            else:
                continue
            f.flush()
    except OSError:
        pass
while True:
    c, _ = srv.accept()
    threading.Thread(target=serve, args=(c,), daemon=True).start()
'

key='HKCU\Software\Tessmar Software\Quarvel\POP3\Settings\0'
for mode in "${modes[@]}"; do
  profile=$(mktemp -d "${TMPDIR:-/tmp}/quarvel-silent.XXXXXX")
  python3 -c "$server_py" "$mode" "$profile/port" &
  server=$!
  for _ in $(seq 50); do [ -s "$profile/port" ] && break; sleep 0.1; done
  port=$(cat "$profile/port")
  export QUARVEL_PROFILE=$profile
  "$reg" add "$key" /v POP3SERVERNAME /d 127.0.0.1 /f >/dev/null
  "$reg" add "$key" /v POP3PORT /d "$port" /f >/dev/null
  "$reg" add "$key" /v POP3KONTONAME /d bench /f >/dev/null
  "$reg" add "$key" /v POP3PASSWORD /password /d secret /f >/dev/null
  "$reg" add "$key" /v POP3SERVERRETRIES /d "$retries" /f >/dev/null
  start=$(date +%s.%N)
  code=0
  "$check" >/dev/null 2>"$profile/err" || code=$?
  end=$(date +%s.%N)
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  printf '%-8s retries %s: %6.1f s, exit %s: %s\n' "$mode" "$retries" "$(awk "BEGIN { print $end - $start }")" "$code" \
    "$(head -n 1 "$profile/err")"
  rm -rf "$profile"
done
