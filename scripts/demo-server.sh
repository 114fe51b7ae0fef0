# Sourced by the scripts that run the private Dovecot of tests/servers (quarvel-demo-server).
#
# start_demo_server BUILD_DIR OUT_DIR ARGS... starts BUILD_DIR/tests/servers/quarvel-demo-server with ARGS,
# its output in OUT_DIR/server.out and server.err, and waits until it is ready (its "PORT" line, at most
# 30 s). Sets demo_server to its process id; false, with the server's errors on stderr, when it does not
# start.
start_demo_server() {
  local build=$1 out=$2
  shift 2
  "$build/tests/servers/quarvel-demo-server" "$@" >"$out/server.out" 2>"$out/server.err" &
  demo_server=$!
  for _ in $(seq 1 150); do
    grep -q '^PORT ' "$out/server.out" && return 0
    kill -0 "$demo_server" 2>/dev/null || break
    sleep 0.2
  done
  kill "$demo_server" 2>/dev/null || true
  echo "Der Demo-Mailserver startet nicht:" >&2
  cat "$out/server.err" >&2
  return 1
}

# demo_server_value OUT_DIR NAME: what the server printed after NAME ("PORT", "IMAPPORT", "TLSPORT",
# "FINGERPRINT").
demo_server_value() {
  sed -n "s/^$2 \(.*\)\$/\1/p" "$1/server.out"
}
