#!/usr/bin/env bash
# Builds the benchmarks in Release mode into build-bench/ (or $BENCH_BUILD_DIR)
# with two jobs and runs them all. Standard output gets one line per figure:
#   <figure>: <value> <unit> | baseline <name>: <value> <unit> | ratio <x>
# (or "| target ..." where nothing on this machine is a natural baseline).
# The client's start-up runs on a private Xvfb display of its own.
# Google Benchmark's tables and each run's details go to a log file.
# What the figures mean: docs/performance.md.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build_dir=${BENCH_BUILD_DIR:-build-bench}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build_dir" -j2 --target frame_bench agent_roundtrip server_load fleet_load tcp_pingpong client_startup >/dev/null

bin="$build_dir/bin"
log="$build_dir/bench-details.log"
: >"$log"
echo "# $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), Linux $(uname -r)"
"$bin/frame_bench" 2>>"$log"
"$bin/agent_roundtrip" 2>>"$log"
"$bin/server_load" 2>>"$log"
"$bin/fleet_load" 2>>"$log"
"$bin/client_startup" 2>>"$log"
echo "# details: $log"
