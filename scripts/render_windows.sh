#!/usr/bin/env bash
# Draws the client's windows and button faces into docs/images (offscreen).
# Give --install-dir DIR to take the background bitmaps from an installed
# data directory; without it the one WIN.INI names is used, else a stand-in.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${BUILD_DIR:-build}
[ -f "$build_dir/CMakeCache.txt" ] || cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-RelWithDebInfo} >/dev/null
cmake --build "$build_dir" -j2 --target render_windows
QT_QPA_PLATFORM=offscreen "$build_dir/bin/render_windows" "$@" docs/images 2> >(grep -v 'does not support' >&2)
