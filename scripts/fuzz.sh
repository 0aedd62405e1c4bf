#!/usr/bin/env bash
# Fuzzes the parsers of outside data with libFuzzer under AddressSanitizer and
# UndefinedBehaviorSanitizer: every target, or the one named, for SECONDS each (default
# 300). Builds with clang in build-fuzz, installing clang and its runtime from Debian when
# missing. The corpus in fuzz/corpus/ seeds each run and is never written: new inputs go
# to a scratch folder. A finding ends the script with status 1 and the path of its
# reproducer; copy the reproducer into the target's corpus with the fix.
#
#   scripts/fuzz.sh [TARGET|all] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."

which="${1:-all}"
seconds="${2:-300}"
jobs="${PALVORO_JOBS:-2}"

bash scripts/install-deps.sh clang libclang-rt-14-dev

targets=()
for source in fuzz/*_fuzz.cpp; do
  name="$(basename "$source" _fuzz.cpp)"
  if [ "$which" = all ] || [ "$which" = "$name" ]; then targets+=("$name"); fi
done
if [ "${#targets[@]}" -eq 0 ]; then
  echo "fuzz.sh: no target named $which (targets: $(ls fuzz/*_fuzz.cpp | xargs -n1 basename | sed 's/_fuzz.cpp//' | xargs))" >&2
  exit 2
fi

# -O1 with line tables: quick to build, fast enough to fuzz, and a finding's stack names
# its lines. Assertions stay on. A run of seconds (CI's) is better off with -O0, which
# builds in two thirds of the time: PALVORO_FUZZ_CXXFLAGS.
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE= \
  -DCMAKE_CXX_FLAGS="${PALVORO_FUZZ_CXXFLAGS:--O1 -gline-tables-only}" \
  -DCMAKE_CXX_COMPILER=clang++ -DPALVORO_FUZZ=ON -DPALVORO_SANITIZE=ON -DPALVORO_BUILD_TESTS=OFF > /dev/null
cmake --build build-fuzz -j "$jobs" --target "${targets[@]/#/fuzz_}"

findings=build-fuzz/findings
mkdir -p "$findings"
status=0
for name in "${targets[@]}"; do
  scratch="$(mktemp -d)"
  log="build-fuzz/$name.log"
  echo "== $name: ${seconds} s"
  if ./build-fuzz/fuzz/fuzz_"$name" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=2048 \
      -artifact_prefix="$findings/$name-" "$scratch" "fuzz/corpus/$name" > "$log" 2>&1; then
    # Executions, and the coverage the last status line reports.
    grep -E '^stat::number_of_executed_units' "$log" | sed "s/^/  /" || true
    grep -E '#[0-9]+.*(cov|ft):' "$log" | tail -n 1 | sed "s/^/  last: /" || true
  else
    status=1
    echo "  FINDING in $name; the fuzzer said:"
    grep -E 'ERROR|fuzz check failed|Test unit written|SUMMARY' "$log" | sed "s/^/  /" || tail -n 30 "$log"
  fi
  rm -rf "$scratch"
done
exit "$status"
