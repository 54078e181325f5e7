#!/bin/sh
# Plays the same generated 60 s candump log (periods 1 ms to 1 s, bursts)
# at 1x with busvista-cli replay (pipe bus) and with python-can's player
# (python3 -m can.player on its virtual bus, Debian's python3-can), one after
# the other in one run, and prints p50/p99/max of |actual - planned| send
# time for both. Both are measured the same way: the wall-clock time of each
# write (ours: the time stamp of the line it writes; python-can's: time.time()
# right after VirtualBus.send), planned = first send + trace time distance.
# Usage: compare_player.sh PATH/TO/busvista-cli PATH/TO/bench_replay [RATE] [SECONDS]
set -e
CLI=${1:?busvista-cli path}
BENCH=${2:?bench_replay path}
RATE=${3:-1000}
SECONDS_=${4:-60}
PYTHON=/usr/bin/python3
# In memory where there is a tmpfs: the pipe bus writes every frame to its
# output file while python-can keeps its records in memory, and a disk
# journal shared with other programs would stall only our side.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    WORK=$(mktemp -d -p /dev/shm)
else
    WORK=$(mktemp -d)
fi
trap 'exec 3>&-; rm -rf "$WORK"' EXIT

"$BENCH" --write "$WORK/in.log" "$RATE"
if [ "$SECONDS_" -lt 60 ]; then
    # A shorter run plays the first SECONDS_ of the trace.
    awk -v end="$SECONDS_" 'NR == 1 { sub(/^\(/, "", $1); first = $1 + 0 }
        { t = substr($1, 2) + 0; if (t - first < end) print }' "$WORK/in.log" > "$WORK/cut.log"
    mv "$WORK/cut.log" "$WORK/in.log"
fi
mkfifo "$WORK/bus.in"
exec 3<>"$WORK/bus.in"   # a writer that never writes keeps the bus input open

"$CLI" replay "$WORK/in.log" --pipe "$WORK/bus.in" "$WORK/ours.log" > "$WORK/ours.txt"

"$PYTHON" - "$WORK/in.log" "$WORK/theirs.txt" <<'PY'
import runpy, sys, time
from can.interfaces.virtual import VirtualBus
infile, out = sys.argv[1], sys.argv[2]
sent = []
original = VirtualBus.send
def send(self, msg, timeout=None):
    original(self, msg, timeout)
    sent.append((time.time(), msg.arbitration_id))
VirtualBus.send = send
sys.argv = ["can.player", "-i", "virtual", "-c", "busvista-bench", infile]
try:
    runpy.run_module("can.player", run_name="__main__")
finally:
    with open(out, "w") as f:
        for t, ident in sent:
            f.write("%.6f %X\n" % (t, ident))
PY

"$PYTHON" - "$WORK/in.log" "$WORK/ours.log" "$WORK/theirs.txt" "$RATE" <<'PY'
import sys
def planned(path):
    rows = []
    for line in open(path):
        # "(stamp) interface frame", with or without a direction marker
        fields = line.split()
        if len(fields) < 3:
            continue
        stamp, frame = fields[0], fields[2]
        rows.append((float(stamp[1:-1]), frame.split("#")[0].upper().lstrip("0") or "0"))
    return rows
def report(name, plan, actual):
    n = min(len(plan), len(actual))
    in_order = len(plan) == len(actual) and all(plan[i][1] == actual[i][1] for i in range(n))
    late = sorted(abs((actual[i][0] - actual[0][0]) - (plan[i][0] - plan[0][0])) * 1000.0 for i in range(n))
    pick = lambda p: late[min(len(late) - 1, int(p / 100.0 * len(late)))]
    print("%-24s %d of %d frames, %s; |actual - planned| p50 %.3f ms, p99 %.3f ms, max %.3f ms"
          % (name, len(actual), len(plan), "in order" if in_order else "NOT all in order",
             pick(50), pick(99), late[-1]))
plan = planned(sys.argv[1])
ours = [(t, i) for t, i in planned(sys.argv[2])]
theirs = []
for line in open(sys.argv[3]):
    t, ident = line.split()
    theirs.append((float(t), ident.lstrip("0") or "0"))
print("Replay at 1x, %s frames/s, %.0f s trace:" % (sys.argv[4], plan[-1][0] - plan[0][0]))
report("busvista-cli replay:", plan, ours)
report("python-can can.player:", plan, theirs)
PY
cat "$WORK/ours.txt"
