#!/bin/sh
# Converts N messages (default 300,000) of a Vector BLF or ASC log to CSV with
# busvista-cli and with python-can (Debian's python3-can), one run side by
# side, and prints both times and their ratio.
# Usage: compare_convert.sh PATH/TO/busvista-cli blf|asc [N]
set -e
CLI=${1:?busvista-cli path}
KIND=${2:?blf or asc}
COUNT=${3:-300000}
PYTHON=/usr/bin/python3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

"$PYTHON" - "$WORK/in.$KIND" "$COUNT" "$KIND" <<'PY'
import sys, can
path, count, kind = sys.argv[1], int(sys.argv[2]), sys.argv[3]
writer = can.BLFWriter(path) if kind == "blf" else can.ASCWriter(path)
t = 1765100000.0
for i in range(count):
    ident = 0x100 + i % 200
    writer.on_message_received(can.Message(timestamp=t + i * 0.00025, arbitration_id=ident, is_extended_id=i % 7 == 0,
                                           is_rx=i % 5 != 0, data=bytes((i >> b) & 0xFF for b in range(i % 9))))
writer.stop()
PY

now() { date +%s.%N; }
start=$(now)
/usr/bin/time -f "%U %S" -o "$WORK/ours.cpu" "$CLI" convert "$WORK/in.$KIND" "$WORK/busvista.csv" > /dev/null
mid=$(now)
/usr/bin/time -f "%U %S" -o "$WORK/theirs.cpu" "$PYTHON" - "$WORK/in.$KIND" "$WORK/python.csv" "$KIND" <<'PY'
import sys, can
reader = can.BLFReader(sys.argv[1]) if sys.argv[3] == "blf" else can.ASCReader(sys.argv[1])
with can.CSVWriter(sys.argv[2]) as writer:
    for message in reader:
        writer.on_message_received(message)
PY
end=$(now)
"$PYTHON" - "$start" "$mid" "$end" "$COUNT" "$WORK/ours.cpu" "$WORK/theirs.cpu" "$KIND" <<'PY'
import sys
start, mid, end, count = map(float, sys.argv[1:5])
cpu = [sum(map(float, open(path).read().split())) for path in sys.argv[5:7]]
ours, theirs = mid - start, end - mid
kind = sys.argv[7].upper()
print("busvista-cli convert %s->CSV: %.2f s wall, %.2f s CPU" % (kind, ours, cpu[0]))
print("python-can %s->CSV:          %.2f s wall, %.2f s CPU" % (kind, theirs, cpu[1]))
print("ratio: %.1fx wall, %.1fx CPU (%d messages)" % (theirs / ours, cpu[1] / cpu[0], count))
PY
wc -l "$WORK/busvista.csv" "$WORK/python.csv" | head -2
