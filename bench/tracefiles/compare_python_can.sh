#!/bin/sh
# Converts a 1,000,000-line PCAN trace (version 1.1) to CSV with
# busvista-cli and with python-can (Debian's python3-can), and prints both times.
# Usage: compare_python_can.sh PATH/TO/busvista-cli [LINES]
set -e
CLI=${1:?busvista-cli path}
LINES=${2:-1000000}
PYTHON=/usr/bin/python3
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

"$PYTHON" - "$WORK/in.trc" "$LINES" <<'PY'
import sys
path, lines = sys.argv[1], int(sys.argv[2])
with open(path, "w") as f:
    f.write(";$FILEVERSION=1.1\n;$STARTTIME=46362.7500000000\n;\n")
    for i in range(lines):
        ident = 0x100 + i % 200
        ext = i % 7 == 0
        idtext = ("%08X" if ext else "%04X") % ident
        data = " ".join("%02X" % ((i >> b) & 0xFF) for b in range(8))
        f.write("%6d) %11.1f  %-5s %8s  8  %s\n" % (i + 1, i * 0.25, "Tx" if i % 5 == 0 else "Rx", idtext, data))
PY

now() { date +%s.%N; }
start=$(now)
/usr/bin/time -f "%U %S" -o "$WORK/ours.cpu" "$CLI" convert "$WORK/in.trc" "$WORK/busvista.csv" > /dev/null
mid=$(now)
/usr/bin/time -f "%U %S" -o "$WORK/theirs.cpu" "$PYTHON" - "$WORK/in.trc" "$WORK/python.csv" <<'PY'
import sys, can
with can.TRCReader(sys.argv[1]) as reader, can.CSVWriter(sys.argv[2]) as writer:
    for message in reader:
        writer.on_message_received(message)
PY
end=$(now)
"$PYTHON" - "$start" "$mid" "$end" "$LINES" "$WORK/ours.cpu" "$WORK/theirs.cpu" <<'PY'
import sys
start, mid, end, lines = map(float, sys.argv[1:5])
cpu = [sum(map(float, open(path).read().split())) for path in sys.argv[5:7]]
ours, theirs = mid - start, end - mid
print("busvista-cli convert: %.2f s wall, %.2f s CPU (%.2f million lines/s wall)" % (ours, cpu[0], lines / ours / 1e6))
print("python-can TRC->CSV:  %.2f s wall, %.2f s CPU (%.2f million lines/s wall)" % (theirs, cpu[1], lines / theirs / 1e6))
print("ratio: %.1fx wall, %.1fx CPU" % (theirs / ours, cpu[1] / cpu[0]))
PY
wc -l "$WORK/busvista.csv" "$WORK/python.csv" | head -2
