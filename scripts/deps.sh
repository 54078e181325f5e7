#!/usr/bin/env bash
# Installs the Debian packages Busvista needs to build, test and run, when
# they are missing. As root it installs them; otherwise it prints the exact
# apt-get line and stops.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    qt6-base-dev qt6-base-dev-tools libgl-dev
    qt6-declarative-dev qml6-module-qtquick qml6-module-qtquick-window
    qml6-module-qtqml-workerscript qml6-module-qtcharts qt6-charts-dev
    qt6-translations-l10n
    libbenchmark-dev zlib1g-dev libdeflate-dev
    libsocketcan-dev
    g++-mingw-w64-x86-64-posix
    python3 python3-can python3-canmatrix
    openssl
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

if [ "$(id -u)" -ne 0 ]; then
    echo "Es fehlen Pakete. Bitte als root ausführen:" >&2
    echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
    exit 1
fi

echo "Installiere: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq "${missing[@]}" >/dev/null
