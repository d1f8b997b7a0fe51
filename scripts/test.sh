#!/usr/bin/env bash
# The whole test suite: unit, end-to-end and recorded-log tests; the same again under
# AddressSanitizer + UndefinedBehaviorSanitizer; the threaded tests under ThreadSanitizer;
# then every fuzz target for a bounded time. Stops at the first failure.
#   scripts/test.sh            everything (what CI runs)
#   scripts/test.sh --quick    the plain build and its tests only
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1
fuzz_seconds=${VANTORA_FUZZ_SECONDS:-30}
jobs=$(nproc)

bash scripts/setup.sh
export QT_QPA_PLATFORM=offscreen

stage() { printf '\n=== %s (%s)\n' "$1" "$(date +%T)"; }

stage "build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build
stage "tests"
ctest --test-dir build --output-on-failure -j"$jobs"
[ $quick -eq 1 ] && exit 0

stage "tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTORA_BENCH=OFF \
  -DVANTORA_SANITIZE=address,undefined >/dev/null
ninja -C build-asan
ASAN_OPTIONS=detect_leaks=1 LSAN_OPTIONS=suppressions="$PWD/tests/lsan.supp" \
  UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build-asan --output-on-failure -j"$jobs"

stage "threaded tests under ThreadSanitizer"
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVANTORA_BENCH=OFF -DVANTORA_GUI=OFF \
  -DVANTORA_SANITIZE=thread >/dev/null
ninja -C build-tsan
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -L threads

stage "fuzz targets, ${fuzz_seconds}s each"
cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVANTORA_FUZZ=ON -DVANTORA_GUI=OFF \
  -DCMAKE_CXX_COMPILER=clang++-14 >/dev/null
ninja -C build-fuzz fuzz-targets
for target in build-fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=build-fuzz/corpus/$name
  mkdir -p "$corpus"
  # The recorded logs seed every target; new finds go to the first (scratch) folder only.
  seeds=(tests/logs)
  echo "--- $name"
  "$target" -max_total_time="$fuzz_seconds" -print_final_stats=1 -detect_leaks=1 \
    -artifact_prefix=build-fuzz/ "$corpus" "${seeds[@]}" 2>&1 |
    sed -n '/ERROR\|SUMMARY\|Done [0-9]* runs/p'
done
stage "all passed"
