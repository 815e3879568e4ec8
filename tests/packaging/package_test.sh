#!/usr/bin/env bash
# The Debian package as a person gets it: made by CPack from the build tree,
# unpacked into a scratch root (no root rights, nothing installed on the
# machine), its client started from there through the desktop menu's
# launcher with a scratch home. Passes when the package holds what it should,
# its programs find their libraries through their relative run path, the
# launcher makes the per-user installation and WIN.INI, and the client's
# splash window shows its drawn background.
#   package_test.sh BUILD_DIR   (needs an X display: on_own_display.sh)
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d)
lobby_pid=
vossad_pid=
cleanup() {
  [ -n "$lobby_pid" ] && kill "$lobby_pid" 2>/dev/null || true
  [ -n "$vossad_pid" ] && kill "$vossad_pid" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Making the package.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/pkg" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/pkg/*.deb)
echo "package: $(basename "$deb")"

# What it says of itself.
fields=$(dpkg-deb -f "$deb" Package Section Depends)
echo "$fields"
grep -q '^Package: lobby$' <<<"$fields" || fail "package name"
grep -q 'libqt6widgets6' <<<"$fields" || fail "no Qt dependency found by shlibdeps"
grep -q 'qt6-qpa-plugins' <<<"$fields" || fail "the platform plugins are not a dependency"

# What it holds.
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/lobby usr/bin/lobby-launch usr/bin/lobby-setup usr/bin/vossad usr/bin/lobbybot \
         usr/include/zep/zep.h usr/include/cvengine/cvengine.h \
         usr/share/applications/lobby.desktop usr/share/icons/hicolor/256x256/apps/lobby.png \
         usr/share/lobby/Bitmaps/Cv_first.bmp usr/share/lobby/Bitmaps/Cv_sec.bmp usr/share/lobby/Corva.hlp \
         usr/share/lobby/Zudeduzu.wav usr/share/lobby/DIAL.WAV usr/share/lobby/SERVERS.INI \
         usr/share/doc/lobby/copyright usr/share/doc/lobby/changelog.gz \
         usr/lib/systemd/system/vossad.service etc/default/vossad; do
  [ -e "$root/$f" ] || fail "missing $f"
done
# Man pages compressed, one for every program.
for page in man6/lobby.6 man6/lobby-launch.6 man6/lobby-setup.6 man6/lobbybot.6 man8/vossad.8; do
  gzip -t "$root/usr/share/man/$page.gz" 2>/dev/null || fail "no compressed man page $page"
done
[ -z "$(find "$root/usr/share/man" -type f ! -name '*.gz')" ] || fail "an uncompressed man page"
version=$(dpkg-deb -f "$deb" Version)
[ "$(zcat "$root/usr/share/doc/lobby/changelog.gz" | dpkg-parsechangelog -l - -S Version)" = "$version" ] ||
  fail "the changelog's version is not the package's ($version)"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$root/usr/share/doc/lobby/copyright" || fail "the copyright file's format"
# The programs' own libraries in a directory of their own
# (usr/lib/<arch>/lobby, or usr/lib/lobby from a build for another prefix),
# none among the system's.
for lib in libzep.so libcvengine.so libplatform.so; do
  [ -n "$(find "$root/usr/lib" -path '*/lobby/'"$lib")" ] || fail "missing $lib"
done
[ -z "$(find "$root/usr/lib" -name '*.so*' ! -path '*/lobby/*')" ] || fail "a library outside the private directory"
# The service: documented, and listening where its settings say (loopback
# as installed); the settings are kept across upgrades.
unit="$root/usr/lib/systemd/system/vossad.service"
grep -q '^Documentation=man:vossad(8)$' "$unit" || fail "the unit's Documentation"
grep -q '^EnvironmentFile=-/etc/default/vossad$' "$unit" || fail "the unit's EnvironmentFile"
grep -q '^ExecStart=/usr/bin/vossad --bind ${VOSSAD_BIND} .*--http ${VOSSAD_HTTP} \$VOSSAD_OPTIONS$' "$unit" ||
  fail "the unit's ExecStart"
grep -q '^Type=notify$' "$unit" || fail "the unit is not Type=notify"
for line in 'CapabilityBoundingSet=' 'RestrictAddressFamilies=AF_INET AF_UNIX' 'SystemCallFilter=@system-service'; do
  grep -qx "$line" "$unit" || fail "the unit lacks $line"
done
grep -q '^VOSSAD_HTTP=127.0.0.1:2425$' "$root/etc/default/vossad" || fail "the service's default HTTP address"
# systemd's own check of the unit, with its program in the unpacked tree
# (the man page named in Documentation= is checked above).
sed "s|^ExecStart=/usr/bin/|ExecStart=$root/usr/bin/|" "$unit" >"$scratch/vossad.service"
systemd-analyze verify --man=no --recursive-errors=no "$scratch/vossad.service" >"$scratch/verify.log" 2>&1 ||
  { cat "$scratch/verify.log"; fail "systemd-analyze verify"; }
[ ! -s "$scratch/verify.log" ] || { cat "$scratch/verify.log"; fail "systemd-analyze verify warns about the unit"; }
grep -q '^VOSSAD_BIND=127.0.0.1$' "$root/etc/default/vossad" || fail "the service's default address"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/default/vossad || fail "no conffile"
grep -q '^Exec=lobby-launch$' "$root/usr/share/applications/lobby.desktop" || fail "the desktop entry's Exec"

# Programs find their libraries inside the moved tree, not in the build.
for p in lobby vossad lobbybot lobby-setup; do
  readelf -d "$root/usr/bin/$p" | grep -q 'R.*PATH.*\$ORIGIN' || fail "$p has no relative run path"
  if env -u LD_LIBRARY_PATH ldd "$root/usr/bin/$p" | grep -E 'not found|'"$build" >&2; then
    fail "$p resolves a library outside the unpacked tree"
  fi
done
"$(dirname "$0")/run_paths_test.sh" "$root" usr/bin usr/lib >/dev/null || fail "a run path reaches outside the tree"
"$root/usr/bin/vossad" --help >/dev/null || fail "vossad --help"
env -u LD_LIBRARY_PATH ldd "$root/usr/bin/vossad" | grep -q libX11 && fail "vossad needs libX11"

# The unit's command line, with the unit's and the installed settings'
# environment as systemd gives it, listens on loopback (on a free port here).
(
  eval "export $(sed -n 's/^Environment=//p' "$unit")"
  set -a && . "$root/etc/default/vossad" && set +a
  read -r -a argv <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
  argv=("${argv[@]//'${VOSSAD_BIND}'/$VOSSAD_BIND}")
  argv=("${argv[@]//'${VOSSAD_HTTP}'/${VOSSAD_HTTP%:*}:0}")  # free ports here
  read -r -a extra <<<"$VOSSAD_OPTIONS"
  [ "${argv[-1]}" = '$VOSSAD_OPTIONS' ] && unset 'argv[-1]'
  argv[0]=$root${argv[0]}
  for i in "${!argv[@]}"; do [ "${argv[$i]}" = 2424 ] && argv[$i]=0; done
  exec "${argv[@]}" "${extra[@]}" >"$scratch/vossad.out" 2>/dev/null
) &
vossad_pid=$!
for _ in $(seq 1 100); do
  grep -q 'listening on' "$scratch/vossad.out" 2>/dev/null && break
  kill -0 "$vossad_pid" 2>/dev/null || break
  sleep 0.1
done
grep -q '^listening on 127\.0\.0\.1:' "$scratch/vossad.out" || fail "the service does not listen on loopback: $(cat "$scratch/vossad.out")"
for _ in $(seq 1 100); do grep -q '^http on' "$scratch/vossad.out" && break; sleep 0.1; done
grep -q '^http on 127\.0\.0\.1:' "$scratch/vossad.out" || fail "the service serves no HTTP on loopback"
kill "$vossad_pid" && wait "$vossad_pid" 2>/dev/null || true
vossad_pid=

# --help, --version and a bad option, without a display, and making
# nothing: every program answers by the same convention.
(
  export HOME="$scratch/nohome" XDG_CONFIG_HOME="$scratch/nohome/.config" LOBBY_WIN_INI="$scratch/nohome/WIN.INI"
  unset DISPLAY WAYLAND_DISPLAY
  for p in lobby lobby-launch lobby-setup lobbybot vossad; do
    "$root/usr/bin/$p" --help | grep -q "^Usage: $p " || fail "$p --help"
    [ "$("$root/usr/bin/$p" --version)" = "$p $version" ] || fail "$p --version"
    status=0
    "$root/usr/bin/$p" --bogus 2>"$scratch/bogus.err" || status=$?
    [ "$status" = 2 ] || fail "$p takes a bad option"
    grep -q "^$p: .*--bogus" "$scratch/bogus.err" || fail "$p: no 'program: message' for a bad option"
  done
  [ ! -e "$scratch/nohome" ] || fail "--help or --version made files"
)

# First start from the desktop menu, with a home of its own.
[ -n "${DISPLAY:-}" ] || fail "needs an X display (the test suite runs under Xvfb)"
home="$scratch/home"
mkdir -p "$home"
export HOME="$home" XDG_CONFIG_HOME="$home/.config" XDG_DATA_HOME="$home/.local/share"
export XDG_RUNTIME_DIR="$scratch/run" LOBBY_WIN_INI="$home/.config/lobby/WIN.INI"
unset LOBBY_DRIVES QT_QPA_PLATFORM
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
"$root/usr/bin/lobby-launch" >"$scratch/lobby.log" 2>&1 &
lobby_pid=$!
window=
for _ in $(seq 1 200); do
  window=$(xdotool search --onlyvisible --pid "$lobby_pid" --name "^QOR's Corvane Game$" 2>/dev/null | head -1) || true
  [ -n "$window" ] && break
  kill -0 "$lobby_pid" 2>/dev/null || { cat "$scratch/lobby.log"; fail "the client ended"; }
  sleep 0.1
done
[ -n "$window" ] || { cat "$scratch/lobby.log"; fail "no splash window within 20 s"; }
grep -q 'CorvanePath=' "$LOBBY_WIN_INI" || fail "WIN.INI has no installation directory"
installed=$(find "$home" -iname Cv_first.bmp | head -1)
[ -n "$installed" ] || fail "no per-user installation made"
echo "per-user installation: $(dirname "$(dirname "$installed")")"

# The splash paints its tiled bitmap: a drawn picture has many colours, a
# window without its bitmap one. (Polled: the first paint may follow the map.)
colours=0
for _ in $(seq 1 50); do
  /usr/bin/import -window "$window" "$scratch/splash.png" 2>/dev/null || true
  colours=$(/usr/bin/identify -format %k "$scratch/splash.png" 2>/dev/null || echo 0)
  [ "$colours" -gt 64 ] && break
  sleep 0.1
done
echo "splash colours: $colours"
[ "$colours" -gt 64 ] || fail "the splash shows no background bitmap"
echo "package test passed"
