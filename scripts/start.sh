#!/usr/bin/env bash
# Builds Busvista and starts it on the simulated bus with the example symbol
# file loaded and two signals in the plotter. Without a display it runs
# offscreen, takes a screenshot after a few seconds and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build --target busvista

exe=build/app/busvista
demo=(--sim --sym "$PWD/resources/examples/simulation.sym" --plot Motor.Drehzahl,Antrieb2.Position --tab 1)
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    shot="$PWD/build/busvista-screenshot.png"
    rm -f "$shot"
    QT_QPA_PLATFORM=offscreen "$exe" "${demo[@]}" --no-update-check --delay 3000 --screenshot "$shot"
    if [ ! -s "$shot" ]; then
        echo "Kein Bildschirmfoto entstanden." >&2
        exit 1
    fi
    echo "Bildschirmfoto: $shot"
else
    exec "$exe" "${demo[@]}"
fi
