#!/usr/bin/env bash
# The daemon's figures, measured on the real programs (read, never asserted):
#   - wake-ups per second with no base station, and with one searching for a tracker that never
#     comes (context switches of all its threads over a quiet window);
#   - its resident memory after the first upload and after SESSIONS uploads (pellux-demo).
# Usage: bench/daemon_figures.sh BUILD_DIR [SESSIONS] [WINDOW_SECONDS]
set -uo pipefail
build="${1:-build/linux}"
sessions="${2:-100}"
window="${3:-10}"
uplinker="$build/service/uplinker"
sim="$build/sim/pellux-sim"
work=$(mktemp -d /tmp/pellux-figures-XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$work"' EXIT

switches() {  # all threads' context switches of process $1
  local total=0
  for status in /proc/"$1"/task/*/status; do
    while read -r name value; do
      case "$name" in voluntary_ctxt_switches:|nonvoluntary_ctxt_switches:) total=$((total + value));; esac
    done < "$status"
  done
  echo "$total"
}

wakeups() {  # label, settings.json contents
  mkdir -p "$work/$1"/{state,logs,run}
  echo "$2" > "$work/$1/state/settings.json"
  STATE_DIRECTORY="$work/$1/state" LOGS_DIRECTORY="$work/$1/logs" RUNTIME_DIRECTORY="$work/$1/run" \
    "$uplinker" 2>/dev/null &
  local pid=$!
  sleep 5
  local before after
  before=$(switches "$pid")
  sleep "$window"
  after=$(switches "$pid")
  kill -TERM "$pid"; wait "$pid"
  echo "$1: $(( (after - before) / window )) wake-ups per second ($((after - before)) in ${window} s)"
}

wakeups "no base station" '{"Tracker":{"SerialPort":"/nonexistent/tty"}}'
"$sim" --fault out-of-range > "$work/sim.out" 2>/dev/null &
simpid=$!
sleep 1
pty=$(head -n 1 "$work/sim.out")
wakeups "one base station searching" "{\"Tracker\":{\"SerialPort\":\"$pty\"}}"
kill -TERM "$simpid"; wait "$simpid" 2>/dev/null

# Memory: the demo's daemon through SESSIONS uploads, its VmRSS sampled as it goes.
"$build/demo/pellux-demo" --sessions "$sessions" > "$work/demo.out" 2>&1 &
demo=$!
first="" last=""
while kill -0 "$demo" 2>/dev/null; do
  pid=$(pgrep -P "$demo" -x uplinker | head -n 1)
  if [ -n "$pid" ]; then
    rss=$(awk '/^VmRSS:/ {print $2}' /proc/"$pid"/status 2>/dev/null)
    if [ -n "$rss" ]; then
      last=$rss
      if [ -z "$first" ] && grep -q "Commanding tracker to sleep" "$work/demo.out"; then
        first=$rss
      fi
    fi
  fi
  sleep 2
done
wait "$demo"
grep '^Summary' "$work/demo.out"
echo "resident memory: ${first:-?} kB after the first upload, ${last:-?} kB before the stop after $sessions upload(s)"
