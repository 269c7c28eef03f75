#!/usr/bin/env bash
# How long the daemon takes to stop (SIGTERM to exit) while HTTP exchanges hang: a server that
# accepts and never answers, and COUNT "U" requests sent to it over the UI socket (as root, who
# may send them). Read, never asserted.
# Usage: bench/daemon_stop_time.sh BUILD_DIR [COUNT]
set -uo pipefail
build="${1:-build/linux}"
count="${2:-3}"
work=$(mktemp -d /tmp/pellux-stop-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work"/{state,logs,run}
echo '{"Tracker":{"SerialPort":"/nonexistent/tty","LogActivity":1,"MaxLogDays":1}}' > "$work/state/settings.json"

# The silent server: accepts, reads, never answers.
python3 - "$work/port" <<'PY' &
import socket, sys, time
# The URL of a U message takes a port of at most four digits.
server = socket.socket()
for port in range(8100, 10000):
    try:
        server.bind(("127.0.0.1", port))
        break
    except OSError:
        continue
server.listen(16)
open(sys.argv[1], "w").write(str(server.getsockname()[1]))
held = []
while True:
    connection, _ = server.accept()
    held.append(connection)
PY
while [ ! -s "$work/port" ]; do sleep 0.1; done
port=$(cat "$work/port")

STATE_DIRECTORY="$work/state" LOGS_DIRECTORY="$work/logs" RUNTIME_DIRECTORY="$work/run" \
  "$build/service/uplinker" 2>"$work/stderr" &
daemon=$!
while [ ! -S "$work/run/service.sock" ]; do sleep 0.1; done
for i in $(seq 1 "$count"); do
  python3 - "$work/run/service.sock" "U @bench$i http://127.0.0.1:$port/hang$i" <<'PY'
import socket, sys
client = socket.socket(socket.AF_UNIX)
client.connect(sys.argv[1])
client.sendall(sys.argv[2].encode())
client.close()
PY
done
sleep 2
ss -tn state established "( dport = :$port )" | tail -n +2 | wc -l | sed "s/^/established to the silent server: /" >&2
start=$(date +%s.%N)
kill -TERM "$daemon"
wait "$daemon"
code=$?
end=$(date +%s.%N)
aborted=$(cat "$work"/logs/* 2>/dev/null | grep -c "aborted: the service is stopping")
marker=$(cat "$work"/logs/* 2>/dev/null | grep -c "<<< APPLICATION TERMINATED >>>")
echo "stopped $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }') s after SIGTERM with $count exchanges hanging (exit $code, closing marker written: $marker, exchanges aborted: $aborted)"
