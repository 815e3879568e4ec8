#!/usr/bin/env bash
# The whole test suite from a fresh clone: packages, build, ctest; then the
# libraries, the server and their tests again with AddressSanitizer (leaks
# included) and UndefinedBehaviorSanitizer, and every fuzz harness for a
# while (FUZZ_SECONDS each, default 20). Any failure, sanitizer report or
# fuzz crash fails the run. Prints how long each stage took.
set -euo pipefail
cd "$(dirname "$0")/.."

stage_start=$SECONDS
stage() {
  echo "== $1 took $((SECONDS - stage_start)) s"
  stage_start=$SECONDS
}

# Serial on purpose: several tests use the agents' fixed port range.
# Under a virtual X display when there is none, so that the window tests run.
run_ctest() {
  if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --timeout 300
  else
    ctest --output-on-failure --timeout 300
  fi
}

bash scripts/deps.sh
stage "packages"

bash scripts/build.sh
stage "build"
(cd "${BUILD_DIR:-build}" && run_ctest)
stage "tests"

# Everything but the Qt targets (LOBBY_GUI=OFF): Qt's own libraries are not
# built with the sanitizers. A report stops the program, so it fails its test.
# Unoptimised with line tables only: it compiles several times faster than
# an optimised build, and the reports still name every line.
asan_dir=${ASAN_BUILD_DIR:-build-asan}
cmake -S . -B "$asan_dir" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1" \
  -DCMAKE_C_FLAGS_DEBUG="-O0 -g1" -DLOBBY_SANITIZE=ON -DLOBBY_GUI=OFF -DLOBBY_BENCH=OFF >/dev/null
cmake --build "$asan_dir" -j2 >/dev/null
stage "sanitizer build"
(cd "$asan_dir" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run_ctest)
stage "tests under the sanitizers"

bash scripts/fuzz.sh "${FUZZ_SECONDS:-20}"
stage "fuzzing"
