#!/usr/bin/env bash
# The main job from a fresh clone: packages, build, then run what exists.
# Today that is the lobby server vossad on port 2424 (Ctrl-C stops it); the
# windowed client joins it later. Extra arguments go to vossad.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
bash scripts/build.sh
bin="${BUILD_DIR:-build}/bin"
echo
echo "Built into ${BUILD_DIR:-build}/: the agent library (lib/libzep.so), the platform"
echo "layer (lib/libplatform.so) and the lobby server (bin/vossad)."
echo "Starting the lobby server (port 2424 unless --port says otherwise). Ctrl-C stops it."
exec "$bin/vossad" "$@"
