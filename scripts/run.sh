#!/usr/bin/env bash
# The main job from a fresh clone: packages, build, then run what exists.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
echo
echo "Built into ${BUILD_DIR:-build}/. What runs so far:"
ls "${BUILD_DIR:-build}/bin" "${BUILD_DIR:-build}/lib"
