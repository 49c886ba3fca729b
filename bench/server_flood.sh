#!/usr/bin/env bash
# Flood measurement for orvella-server (not a test): alerts for many distinct
# addresses of an allowed @domain, as an attacker would send them once the
# hourly mail cap is spent, then the server's memory and processor time in
# the minute after. Everything runs on 127.0.0.1 with a local SMTP server
# (Debian's python3-aiosmtpd).
#
#   bench/server_flood.sh [build folder]     (default: build)
#
# Environment: ADDRESSES (100000), IDLE (seconds watched afterwards, 60).
# Prints RSS at start, after the flood and after the idle minute, the
# server's processor time in that minute, the answers counted and the mails
# delivered.
set -euo pipefail

BUILD=$(cd "${1:-$(dirname "${BASH_SOURCE[0]}")/../build}" && pwd)
ADDRESSES=${ADDRESSES:-100000}
IDLE=${IDLE:-60}
source "$(dirname "${BASH_SOURCE[0]}")/server_common.sh"
start_sink

# The configuration the attack was first tried on; the rate cap per client
# is lifted so that one client can send the whole flood quickly.
cat >"$WORK/server.conf" <<CONF
[server]
spool = $WORK/spool
[smtp]
url = smtp://127.0.0.1:$SMTP_PORT
starttls = off
from = Orvella <alerts@example.net>
[alerts]
allow = you@example.com, @example.org
holdoff = 30
max_per_hour = 60
max_requests_per_second = 1000000
CONF

start_server "$WORK/server.log"

# User and system time of the process, in clock ticks.
ticks() { awk '{print $14 + $15}' "/proc/$SERVER_PID/stat"; }

echo "machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
START_RSS=$(rss)
echo "RSS at start: $START_RSS kB"

# 100 requests a connection (the server's keep-alive limit), sent at once.
/usr/bin/python3 - "$PORT" "$ADDRESSES" <<'PY'
import collections, socket, sys, time
port, total = int(sys.argv[1]), int(sys.argv[2])
answers = collections.Counter()
begin = time.time()
n = 0
while n < total:
    batch = min(100, total - n)
    request = b"".join(
        b"GET /updates/orvemailer.php?x=u%d@example.org HTTP/1.1\r\nHost: x\r\n\r\n" % (n + i)
        for i in range(batch))
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.sendall(request)
        reply = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            reply += chunk
    for head in reply.split(b"HTTP/1.1 ")[1:]:
        answers[head.split(b"\r\n\r\n", 1)[1][:7].strip()] += 1
    n += batch
seconds = time.time() - begin
print("flood: %d requests in %.1f s (%.0f/s), answers: %s" % (
    total, seconds, total / seconds,
    ", ".join("%s %d" % (k.decode(), v) for k, v in sorted(answers.items()))))
PY

echo "RSS after the flood: $(rss) kB"
BEFORE=$(ticks)
sleep "$IDLE"
AFTER=$(ticks)
END_RSS=$(rss)
HZ=$(getconf CLK_TCK)
awk -v t=$((AFTER - BEFORE)) -v hz="$HZ" -v s="$IDLE" \
    'BEGIN { printf "processor time in the %d s after the flood: %.2f s (%.2f %% of one core)\n", s, t / hz, 100 * t / hz / s }'
echo "RSS after that: $END_RSS kB ($(( (END_RSS - START_RSS) )) kB over the start)"
echo "log: $(wc -l <"$WORK/server.log") lines, $(du -k "$WORK/server.log" | cut -f1) kB; journal: $(cat "$WORK/spool/holdoffs" 2>/dev/null | wc -l) lines"
echo "mails delivered: $(ls "$WORK/maildir/new" 2>/dev/null | wc -l)"
