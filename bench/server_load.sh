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

BUILD=$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/../build}" && pwd)
DURATION=${DURATION:-10}
CONNECTIONS=${CONNECTIONS:-32}
THREADS=${THREADS:-2}
REQUESTS=${REQUESTS:-1000000}

for tool in wrk ab curl /usr/bin/python3; do
    command -v "$tool" >/dev/null || { echo "missing: $tool (apt-get install wrk apache2-utils python3-aiosmtpd)"; exit 1; }
done
source "$(dirname "${BASH_SOURCE[0]}")/server_common.sh"
start_sink

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

URL_PATH="/updates/orvemailer.php?x=guard%2Bcam@example.com"
# One log line per request: kept off the disk, it costs only the write.
start_server /dev/null
URL="http://127.0.0.1:$PORT$URL_PATH"

cat >"$WORK/close.lua" <<'LUA'
wrk.headers["Connection"] = "close"
LUA

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "RSS at start: $(rss) kB"
echo
echo "== new connection per request: wrk -t$THREADS -c$CONNECTIONS -d${DURATION}s -s close.lua"
wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" -s "$WORK/close.lua" "$URL"
echo
echo "== keep-alive: wrk -t$THREADS -c$CONNECTIONS -d${DURATION}s"
wrk -t"$THREADS" -c"$CONNECTIONS" -d"${DURATION}s" "$URL"
echo
echo "RSS after the wrk runs: $(rss) kB"

echo
echo "== $REQUESTS requests, keep-alive: ab -k -n $REQUESTS -c $CONNECTIONS (RSS every quarter)"
QUARTER=$((REQUESTS / 4))
for i in 1 2 3 4; do
    ab -q -k -n "$QUARTER" -c "$CONNECTIONS" "$URL" >"$WORK/ab.out" 2>&1 || true
    echo "after $((i * QUARTER)) more: RSS $(rss) kB, $(grep -E 'Requests per second|Failed requests|Non-2xx' "$WORK/ab.out" | tr -s ' ' | tr '\n' ';')"
done

echo
# The whole run lies inside one hold-off: one mail is the rule.
for _ in $(seq 50); do
    [ -n "$(ls "$WORK/maildir/new" 2>/dev/null)" ] && break
    sleep 0.1
done
echo "mails delivered: $(ls "$WORK/maildir/new" 2>/dev/null | wc -l) (expected 1), spool waiting: $(ls "$WORK/spool" | grep -c '\.mail$' || true)"
