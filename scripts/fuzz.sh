#!/usr/bin/env bash
# Builds the libFuzzer harnesses (fuzz/) with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer into build-fuzz/ (or $FUZZ_BUILD_DIR) with two
# jobs, then runs each for SECONDS seconds (default 20) on its seed corpus
# fuzz/corpus/<target>/. Fails on the first crash, leak, sanitizer report or
# hang; the input that did it is left in build-fuzz/crashes/<target>/ and
# becomes a regression test. Inputs found on the way are kept in
# build-fuzz/corpus/<target>/ (the committed seeds are never changed).
#   bash scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build_dir=${FUZZ_BUILD_DIR:-build-fuzz}

# -O1 with line tables: what libFuzzer is usually built with, quick to compile.
CC=clang CXX=clang++ cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" -DCMAKE_C_FLAGS_DEBUG="-O1 -gline-tables-only" \
  -DLOBBY_FUZZ=ON -DLOBBY_TESTS=OFF -DLOBBY_BENCH=OFF -DLOBBY_GUI=OFF >/dev/null
mapfile -t targets <"$build_dir/fuzz_targets.txt"
cmake --build "$build_dir" -j2 --target "${targets[@]}" >/dev/null

failed=0
for target in "${targets[@]}"; do
  found="$build_dir/corpus/$target"
  crashes="$build_dir/crashes/$target"
  mkdir -p "$found" "$crashes"
  start=$SECONDS
  # -timeout: one input taking this long counts as a hang.
  if "$build_dir/bin/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$crashes/" "$found" "fuzz/corpus/$target" >"$build_dir/$target.log" 2>&1; then
    runs=$(grep -oE '^#[0-9]+' "$build_dir/$target.log" | tail -1 || true)
    echo "fuzz: $target: no crash in $((SECONDS - start)) s (${runs:-#0} runs)"
  else
    echo "fuzz: $target FAILED; its log ($build_dir/$target.log) ends:"
    tail -40 "$build_dir/$target.log"
    failed=1
  fi
done
exit "$failed"
