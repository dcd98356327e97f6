#!/usr/bin/env bash
# Bounded fuzz run of every target (CI): builds the libFuzzer targets with
# clang into build-fuzz and runs each for FUZZ_SECONDS (default 20) from the
# committed corpus, with the BER dictionary. New inputs go to a scratch
# corpus, so the repository stays as it is; a finding fails the run and its
# input is left in build-fuzz/findings/<target>/ for fuzz/regressions/.
set -euo pipefail
cd "$(dirname "$0")/.."

dir=${FUZZ_BUILD_DIR:-build-fuzz}
seconds=${FUZZ_SECONDS:-20}
CC=clang CXX=clang++ cmake -S . -B "$dir" -DUSBINK_FUZZ=ON -DUSBINK_TESTS=OFF \
  -DUSBINK_BENCHMARKS=OFF >/dev/null
targets=$(sed -n '/^set(USBINK_FUZZ_TARGETS/,/)/{s/set(USBINK_FUZZ_TARGETS//;s/)//;p}' fuzz/targets.cmake)
cmake --build "$dir" -j "$(nproc)" --target $(printf 'fuzz_%s ' $targets)

failed=0
for t in $targets; do
  scratch="$dir/scratch/$t"
  findings="$dir/findings/$t"
  rm -rf "$scratch"
  mkdir -p "$scratch" "$findings"
  seeds=()
  for d in "fuzz/corpus/$t" "fuzz/regressions/$t"; do [ -d "$d" ] && seeds+=("$d"); done
  if "$dir/bin/fuzz_$t" -dict=fuzz/ber.dict -max_total_time="$seconds" -max_len=4096 \
      -timeout=10 -print_final_stats=1 -artifact_prefix="$findings/" \
      "$scratch" "${seeds[@]}" >"$dir/$t.log" 2>&1; then
    echo "fuzz $t: $(awk '/number_of_executed_units/ {print $2}' "$dir/$t.log") runs, no finding"
  else
    echo "fuzz $t: FINDING, see $dir/$t.log and $findings/" >&2
    tail -40 "$dir/$t.log" >&2
    failed=1
  fi
done
exit $failed
