#!/usr/bin/env bash
# Builds everything and runs every test: once in a normal build, once more with
# AddressSanitizer and UndefinedBehaviorSanitizer; then the tests where threads meet
# several times over under ThreadSanitizer; last a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# Cheap, and worth failing on before any build: no layer includes one above it.
bash scripts/check-layers.sh

jobs="${PALVORO_JOBS:-2}"
# Where the time goes, for keeping the whole run within CI's budget.
phase() { echo "== ${SECONDS} s: $1"; }
summary="$(mktemp)"
trap 'rm -f "$summary"' EXIT

phase "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" | tee -a "$summary"
phase "benchmarks"
./build/src/palvoro-bench-detection
./build/src/palvoro-bench-media-scan
./build/src/palvoro-bench-erase
./build/src/palvoro-bench-queue-depth
./build/src/palvoro-bench-many-drives
phase "install and package"
bash scripts/check-install.sh build
bash scripts/check-metrics.sh build

phase "AddressSanitizer and UndefinedBehaviorSanitizer build"
# Only what the tests need, and minimal debug information (line tables, enough for a
# sanitizer's stack trace): full debug information costs a tenth of the compile time.
debug_flags=(-DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g1")
cmake -S . -B build-asan -G Ninja "${debug_flags[@]}" -DPALVORO_SANITIZE=ON -DPALVORO_TSAN=OFF
cmake --build build-asan -j "$jobs" --target palvoro_tests
asan=(env ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1)

# Under a sanitizer a process takes a tenth of a second and more to start: run one per test,
# as ctest does, that would be most of a phase. So each test executable runs whole, two at a
# time, and prints what failed; `commands` holds the executables, each with its arguments.
whole_tests() {  # the environment to run them in
  local logs command name rc n status=0 running=0
  local -a argv
  logs=$(mktemp -d)
  for command in "${commands[@]}"; do
    read -r -a argv <<< "$command"
    name=$(basename "${argv[0]}")
    # The subshell inherits errexit: without set +e a failing executable would end the whole
    # script through wait, before its log is printed.
    ( set +e
      QT_QPA_PLATFORM=offscreen timeout 1200 "$@" "${argv[@]}" --gtest_brief=1 > "$logs/$name.log" 2>&1
      echo $? > "$logs/$name.rc" ) &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
      wait -n || true
      running=$((running - 1))
    fi
  done
  wait
  for command in "${commands[@]}"; do
    read -r -a argv <<< "$command"
    name=$(basename "${argv[0]}")
    rc=$(cat "$logs/$name.rc")
    # A crashed executable printed no count: grep finds nothing, which must not end the script.
    n=$(grep -Eo '\[  PASSED  \] [0-9]+ test' "$logs/$name.log" | tail -1 | awk '{print $4}' || true)
    if [ "$rc" != 0 ]; then
      cat "$logs/$name.log"
      echo "$name: failed (exit status $rc)"
      status=1
    else
      echo "$name: 100% tests passed, 0 tests failed out of ${n:-0}" | tee -a "$summary"
    fi
  done
  rm -rf "$logs"
  return "$status"
}
commands=(build-asan/test/*_tests)
whole_tests "${asan[@]}"
# The corpus replays are one process per target anyway.
"${asan[@]}" ctest --test-dir build-asan --output-on-failure -j "$jobs" -L '^fuzz$' | tee -a "$summary"

# A race that passes by luck once is still a race: the tests where threads meet run again
# and again under ThreadSanitizer, this many times over (the first race stops the run).
# They are every window test (a dialog's worker meets the GUI thread), the diagnostics
# tests that run the worker or the schedule on a thread of their own, the command line's
# runs (its worker meets the console loop), the service's runs on several drives at once
# and the kernel backend's block queues (the fallback's threads meet the caller's).
repeats="${PALVORO_REPEATS:-2}"
threaded_commands() {  # build directory
  commands=("$1/test/gui_tests --gtest_repeat=$repeats"
         "$1/test/diagnostics_tests --gtest_filter=*WorkerThread*:RunScheduleTest.* --gtest_repeat=$repeats"
         "$1/test/app_tests --gtest_filter=*CliRunTest*:*ConsoleLoopTest* --gtest_repeat=$repeats"
         "$1/test/service_tests --gtest_repeat=$repeats"
         "$1/test/platform_tests --gtest_filter=LinuxBlockQueueTest.* --gtest_repeat=$repeats")
}

# ThreadSanitizer cannot share a build with the address sanitizer, so it has its own
# directory, and only the executables with threaded tests are built there. The other
# tests run on one thread: the race detector has nothing to see in them. Qt itself is not
# instrumented; its internal threads synchronise in ways the detector cannot see, so only
# races with a side in our own code are reported.
phase "ThreadSanitizer build and threaded tests"
cmake -S . -B build-tsan -G Ninja "${debug_flags[@]}" -DPALVORO_TSAN=ON -DPALVORO_SANITIZE=OFF
cmake --build build-tsan -j "$jobs" --target diagnostics_tests gui_tests app_tests service_tests platform_tests
threaded_commands build-tsan
whole_tests env TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1
# Every parser of outside data, fuzzed briefly from its corpus: a finding fails the run and
# prints its reproducer. Longer campaigns: scripts/fuzz.sh TARGET SECONDS.
phase "fuzzing"
PALVORO_FUZZ_CXXFLAGS="${PALVORO_FUZZ_CXXFLAGS:--O0 -gline-tables-only}" \
  bash scripts/fuzz.sh all "${PALVORO_FUZZ_SECONDS:-3}"
phase "done"

# One closing line over the three runs (each run above already stopped the script on a
# failure).
passed=$(grep -Eo 'tests passed, [0-9]+ tests failed out of [0-9]+' "$summary" | awk '{s += $NF} END {print s + 0}')
echo "total: ${passed} passed, 0 failed"