#!/usr/bin/env bash
# The whole test suite from a fresh clone: packages, build, ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
cd "${BUILD_DIR:-build}"
# Serial on purpose: several tests use the agents' fixed port range.
ctest --output-on-failure --timeout 300
