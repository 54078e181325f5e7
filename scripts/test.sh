#!/usr/bin/env bash
# Builds Busvista with its tests and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DBUSVISTA_BENCH=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure
