#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: once in a normal
# build with warnings as errors, once under AddressSanitizer and UBSan.
set -euo pipefail
cd "$(dirname "$0")/.."

start=$(date +%s)
step() { echo "== $1: $(( $(date +%s) - start )) s"; }
scripts/install-deps.sh
step "packages installed"
jobs=$(nproc)

run_suite() {
  local dir=$1; shift
  # The probe path lies in the build tree, where the tests' stand-in goes.
  cmake -S . -B "$dir" -DUSBINK_WERROR=ON -DSUPPLYPROBE_PATH="$PWD/$dir/standin/supplyprobe" "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  step "$dir built"
  # Most tests wait on peers and deadlines rather than the processor.
  ctest --test-dir "$dir" --output-on-failure -j "$(( jobs * 2 ))"
  step "$dir tested"
}

run_suite build
if [ "${USBINK_SKIP_ASAN:-0}" != 1 ]; then
  # Unoptimised: it builds in a third of the time, and the sanitizers still check every access.
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build-asan -DUSBINK_SANITIZE=ON -DUSBINK_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=Debug
fi
# A bounded fuzz run of every target (the long runs are done by hand).
if [ "${USBINK_SKIP_FUZZ:-0}" != 1 ]; then
  FUZZ_SECONDS=${FUZZ_SECONDS:-10} scripts/fuzz.sh
  step "fuzzed"
fi
echo "all tests passed in $(( $(date +%s) - start )) s"
