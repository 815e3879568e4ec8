#!/usr/bin/env bash
# Builds the Debian package: a Release build for the prefix /usr in
# build-pkg/ (or $PKG_BUILD_DIR), then CPack. Prints the package's path.
#   sudo apt install ./build-pkg/lobby_<version>_amd64.deb
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
dir=${PKG_BUILD_DIR:-build-pkg}
cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DLOBBY_TESTS=OFF -DLOBBY_BENCH=OFF >/dev/null
cmake --build "$dir" -j2 >/dev/null
(cd "$dir" && cpack -G DEB >/dev/null)
ls -1 "$dir"/*.deb
