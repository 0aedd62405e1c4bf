#!/usr/bin/env bash
# Builds the lab program and opens it on its built-in simulated machine. Extra arguments
# go to the program (for example: --machine my-machine.json, or --print for the drive
# table on the console).
#
# The windows need a display (DISPLAY or WAYLAND_DISPLAY). Without one, run this script
# under xvfb-run (package xvfb), or set QT_QPA_PLATFORM=offscreen to run without showing
# anything; the program says so when it finds none.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "${PALVORO_JOBS:-2}" --target palvoro-lab
exec ./build/src/palvoro-lab "$@"
