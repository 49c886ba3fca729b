# Shared by the orvella-server measurements (sourced, not run): a work
# folder removed at exit with every process started here, the test SMTP
# server (Debian's python3-aiosmtpd) and the server itself on 127.0.0.1.
#   BUILD=... source bench/server_common.sh
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SERVER=$BUILD/bin/orvella-server
[ -x "$SERVER" ] || { echo "build orvella-server first: $SERVER"; exit 1; }

WORK=$(mktemp -d)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# Starts the SMTP server, storing mail in $WORK/maildir; sets SMTP_PORT.
start_sink() {
    /usr/bin/python3 "$ROOT/tests/server/smtpsink.py" --maildir "$WORK/maildir" >"$WORK/sink.out" &
    PIDS+=($!)
    until grep -q ready "$WORK/sink.out" 2>/dev/null; do sleep 0.1; done
    SMTP_PORT=$(awk '{print $2}' "$WORK/sink.out")
}

# Starts the server with $WORK/server.conf on a free port, its log going to
# the file given; waits until it answers. Sets PORT and SERVER_PID.
start_server() {
    # --lenient: an older server that lacks some keys still runs, for
    # before/after pairs.
    local lenient=--lenient
    "$SERVER" --help | grep -q -- --lenient || lenient=
    "$SERVER" --check-config $lenient --config "$WORK/server.conf" >/dev/null 2>&1
    PORT=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    "$SERVER" $lenient --config "$WORK/server.conf" --listen "127.0.0.1:$PORT" 2>"$1" &
    SERVER_PID=$!
    PIDS+=($SERVER_PID)
    until curl -s -o /dev/null "http://127.0.0.1:$PORT/software/lantrel/"; do
        kill -0 "$SERVER_PID" || { echo "orvella-server did not start"; exit 1; }
        sleep 0.1
    done
}

# The server's resident memory in kB.
rss() { awk '/VmRSS/ {print $2}' "/proc/$SERVER_PID/status"; }
