#!/usr/bin/env bash
# Builds the lab program and runs it on its built-in simulated machine. Extra arguments
# go to the program (for example: --machine my-machine.json).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "${PALVORO_JOBS:-2}" --target palvoro-lab
exec ./build/src/palvoro-lab "$@"
