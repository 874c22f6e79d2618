#!/usr/bin/env bash
# make demo: runs the demo plant for ten seconds and sums the run up: tag
# writes per second, change-wait wake-up latency, alarm messages sent and
# received, and the process table as it stood before the stop.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# The demo's own names: its RTDB's objects and the kgd names of its namespace.
ours() { ls /dev/shm | grep -E "^${RKNAMESPACE:-}(DEMO_|RKNT_RK)" || true; }
before=$(ours)

"$build/rkctl" run examples/demo/plant.toml --for 10s --dump-at-stop | tee "$log"

value() {   # value KEY: the number after KEY= in the clients' closing lines
  sed -n "s/.*[ ]$1=\([0-9.]*\).*/\1/p" "$log" | tail -1
}
writes=$(value writes); seconds=$(value seconds)
median=$(value median_us); p99=$(value p99_us); changes=$(value changes)
sent=$(value sent); received=$(value received)

echo
echo "=== demo summary ==="
awk -v w="$writes" -v s="$seconds" 'BEGIN { printf "tag writes:          %d in %.1f s = %.0f per second\n", w, s, w / s }'
echo "change-wait wake-up: median ${median} us, 99th percentile ${p99} us (${changes} wake-ups)"
if [ "$sent" = "$received" ]; then
  echo "alarm messages:      ${sent} sent, ${received} received: none lost"
else
  echo "alarm messages:      ${sent} sent, ${received} received: LOST $((sent - received))"
fi
echo "rkctl dump procs (before the stop):"
awk '/^Dump of Client Process Table:/ { on = 1; print "  " $0; next }
     on && (/^id:/ || /^ *[0-9]+: x/) { print "  " $0; next }
     on { on = 0 }' "$log"
after=$(ours)
if [ "$before" = "$after" ]; then
  echo "/dev/shm: nothing left behind"
else
  echo "/dev/shm: left behind:"; comm -13 <(echo "$before") <(echo "$after")
  exit 1
fi
[ "$sent" = "$received" ]
