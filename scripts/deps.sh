#!/usr/bin/env bash
# Installs the Debian packages the project builds and tests with, when any of
# them is missing. Runs apt-get as root (directly, or through sudo).
set -euo pipefail

# clang, its runtime libraries (libFuzzer, the sanitizers) and llvm (for
# llvm-symbolizer, which makes sanitizer reports readable) are for the fuzz
# harnesses and the sanitizer build; openbox, x11-utils, imagemagick and
# python3 for the whole-program tests on X displays of their own; dbus-daemon
# (dbus-run-session) for the notification test on a private session bus; dpkg-dev
# for the Debian package; systemd for systemd-analyze, which checks its unit;
# prometheus for promtool, which checks the metrics
# vossad serves (the tests never run its server); hiredis and redis-server
# for the fleet of servers sharing one list (and its tests); liburing for the
# benchmarks' loop floor that waits in io_uring_enter.
packages=(cmake make g++ pkg-config python3 dpkg-dev file libgtest-dev libgmock-dev libbenchmark-dev
          libx11-dev libxdamage-dev libfontconfig-dev qt6-base-dev qt6-multimedia-dev xvfb xauth xdotool
          dbus-daemon dbus-session-bus-common
          openbox x11-utils imagemagick clang libclang-rt-14-dev llvm
          prometheus-cpp-dev libsystemd-dev prometheus systemd
          libhiredis-dev redis-server liburing-dev)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
