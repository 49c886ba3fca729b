#!/usr/bin/env bash
# Load benchmark for orvella-server (not a test): alert requests per second
# with a new connection for each request (as the program makes them) and with
# keep-alive, then the server's memory while it takes a million requests.
# Everything runs on 127.0.0.1; a local SMTP server (Debian's
# python3-aiosmtpd) counts the mail that comes out.
#
#   bench/server_load.sh [build folder]     (default: build)
#
# Environment: DURATION (seconds per wrk run, default 10), CONNECTIONS (32),
# THREADS (2), REQUESTS (1000000). Needs wrk and apache2-utils (ab).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build}" && pwd)
SERVER=$BUILD/bin/orvella-server
DURATION=${DURATION:-10}
CONNECTIONS=${CONNECTIONS:-32}
THREADS=${THREADS:-2}
REQUESTS=${REQUESTS:-1000000}

for tool in wrk ab curl /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install wrk apache2-utils python3-aiosmtpd)"; exit 1; }
done
[ -x "$SERVER" ] || { echo "build orvella-server first: $SERVER"; exit 1; }

WORK=$(mktemp -d)
PIDS=()
cleanup() {
    for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

/usr/bin/python3 "$ROOT/tests/server/smtpsink.py" --maildir "$WORK/maildir" >"$WORK/sink.out" &
PIDS+=($!)
until grep -q ready "$WORK/sink.out" 2>/dev/null; do sleep 0.1; done
SMTP_PORT=$(awk '{print $2}' "$WORK/sink.out")

# The caps per client are lifted: every request comes from 127.0.0.1, and
# the point is the cost of the alert path itself (allow-list, address check,
# hold-off), not of the 429 or 503 answer.
cat >"$WORK/server.conf" <<CONF
[server]
spool = $WORK/spool
max_connections = 256
max_connections_per_client = 256
max_slow_headers = 256
max_slow_headers_per_client = 256
[smtp]
url = smtp://127.0.0.1:$SMTP_PORT
starttls = off
from = Orvella <alerts@example.net>
[alerts]
allow = guard+cam@example.com
holdoff = 3600
max_requests_per_second = 1000000
CONF

# --lenient: an older server that lacks some of these keys still runs, for
# before/after pairs.
LENIENT=--lenient
"$SERVER" --help | grep -q -- --lenient || LENIENT=
"$SERVER" --check-config $LENIENT --config "$WORK/server.conf" >/dev/null 2>&1
PORT=$(/usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
URL="http://127.0.0.1:$PORT/updates/orvemailer.php?x=guard%2Bcam@example.com"
# One log line per request: kept off the disk, it costs only the write.
"$SERVER" $LENIENT --config "$WORK/server.conf" --listen "127.0.0.1:$PORT" 2>/dev/null &
SERVER_PID=$!
PIDS+=($SERVER_PID)
until curl -s -o /dev/null "http://127.0.0.1:$PORT/software/lantrel/"; do
    kill -0 "$SERVER_PID" || { echo "orvella-server did not start"; exit 1; }
    sleep 0.1
done

rss() { awk '/VmRSS/ {print $2 " kB"}' "/proc/$SERVER_PID/status"; }

cat >"$WORK/close.lua" <<'LUA'
wrk.headers["Connection"] = "close"
LUA

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "RSS at start: $(rss)"
echo
echo "== new connection per request: wrk -t$THREADS -c$CONNECTIONS -d${DURATION}s -s close.lua"
wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" -s "$WORK/close.lua" "$URL"
echo
echo "== keep-alive: wrk -t$THREADS -c$CONNECTIONS -d${DURATION}s"
wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" "$URL"
echo
echo "RSS after the wrk runs: $(rss)"

echo
echo "== $REQUESTS requests, keep-alive: ab -k -n $REQUESTS -c $CONNECTIONS (RSS every quarter)"
QUARTER=$((REQUESTS / 4))
for i in 1 2 3 4; do
    ab -q -k -n "$QUARTER" -c "$CONNECTIONS" "$URL" >"$WORK/ab.out" 2>&1 || true
    echo "after $((i * QUARTER)) more: RSS $(rss), $(grep -E 'Requests per second|Failed requests|Non-2xx' "$WORK/ab.out" | tr -s ' ' | tr '\n' ';')"
done

echo
# The whole run lies inside one hold-off: one mail is the rule.
for _ in $(seq 50); do
    [ -n "$(ls "$WORK/maildir/new" 2>/dev/null)" ] && break
    sleep 0.1
done
echo "mails delivered: $(ls "$WORK/maildir/new" 2>/dev/null | wc -l) (expected 1), spool waiting: $(ls "$WORK/spool" | grep -c '\.mail$' || true)"
