#!/usr/bin/env bash
# Builds everything and runs every test: once in a normal build, once more with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the tests of the threaded layers
# several times over, under AddressSanitizer and under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# Cheap, and worth failing on before any build: no layer includes one above it.
bash scripts/check-layers.sh

jobs="${PALVORO_JOBS:-2}"
summary="$(mktemp)"
trap 'rm -f "$summary"' EXIT

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" | tee -a "$summary"
./build/src/palvoro-bench-detection
./build/src/palvoro-bench-media-scan
./build/src/palvoro-bench-erase

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPALVORO_SANITIZE=ON -DPALVORO_TSAN=OFF
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" | tee -a "$summary"
# A race that passes by luck once is still a race: the layers where a worker meets the
# timer or the GUI thread run again, each test up to this many more times, stopping at
# the first failure.
repeats="${PALVORO_REPEATS:-4}"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs" -L '^(diagnostics|ui)$' \
  --repeat until-fail:"$repeats" | tee -a "$summary"

# ThreadSanitizer cannot share a build with the address sanitizer, so it has its own
# directory. Only the layers with threads are built and run there, by their labels (which
# leaves out the other layers' unbuilt executables): the diagnostics, whose worker and
# timer threads share the test-run values, and the windows, whose workers reach the GUI
# thread. Qt itself is not instrumented; its internal threads synchronise in ways the
# detector cannot see, so only races with a side in our own code are reported.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DPALVORO_TSAN=ON -DPALVORO_SANITIZE=OFF
cmake --build build-tsan -j "$jobs" --target diagnostics_tests gui_tests
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1 \
  ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L '^(diagnostics|ui)$' \
  --repeat until-fail:"$((repeats + 1))" | tee -a "$summary"

# One closing line over the three runs (each run above already stopped the script on a
# failure).
passed=$(grep -Eo 'tests passed, [0-9]+ tests failed out of [0-9]+' "$summary" | awk '{s += $NF} END {print s + 0}')
echo "total: ${passed} passed, 0 failed"