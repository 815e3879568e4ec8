#!/usr/bin/env bash
# The whole test suite from a fresh clone: packages, build, ctest.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
cd "${BUILD_DIR:-build}"
# Serial on purpose: several tests use the agents' fixed port range.
# Under a virtual X display when there is none, so that the window tests run.
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure --timeout 300
else
  ctest --output-on-failure --timeout 300
fi
