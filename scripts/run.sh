#!/usr/bin/env bash
# The main job from a fresh clone:
#
#   bash scripts/run.sh [--headless] [--shots DIR]
#
# Installs the missing Debian packages, builds, makes the player's own
# installation directory from the build tree's data and records it in
# WIN.INI. Then, on the user's display: the lobby server on 127.0.0.1:2424,
# two console players (one that accepts offers, one that also makes them)
# and the lobby client. Closing the client stops everything this script
# started, and nothing else.
#
# With no display ($DISPLAY unset) or with --headless, it runs the road of a
# lone player instead, scripted, on a virtual screen of its own (register,
# find the console players, offer a game, play it, see the result), saves a
# screenshot of each step into DIR (default build/road-shots), and exits 0
# only when every step held.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

headless=false
shots=
while [ $# -gt 0 ]; do
  case "$1" in
    --headless) headless=true ;;
    --shots) [ $# -ge 2 ] || { echo "run.sh: --shots needs a folder" >&2; exit 2; }
             shots=$2; shift ;;
    --shots=*) shots=${1#--shots=} ;;
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "run.sh: unknown argument $1 (see --help)" >&2; exit 2 ;;
  esac
  shift
done
[ -n "${DISPLAY:-}" ] || headless=true

bash scripts/deps.sh
bash scripts/build.sh
build=$(cd "${BUILD_DIR:-build}" && pwd)
bin=$build/bin

# The player's installation directory: C:\Corvane of the per-user drive C:
# (~/.local/share/lobby/drive_c/Corvane unless the variables of the README
# say otherwise). Files already there are kept, the player's server choice
# and profile among them.
setup=$("$bin/lobby-setup" --data "$build/share/lobby")
echo "$setup"
install_dir=$(sed -n 's/^Installation directory .* (\(.*\)): [0-9]* file.*$/\1/p' <<<"$setup")

if $headless; then
  shots=${shots:-$build/road-shots}
  rm -rf "$shots"
  echo
  echo "No display (or --headless): the road of a lone player, scripted, on a virtual screen."
  status=0
  python3 "$root/tests/e2e/road.py" --solo --lobby "$bin/lobby" --vossad "$bin/vossad" \
          --lobbybot "$bin/lobbybot" --setup "$bin/lobby-setup" --data "$build/share/lobby" \
          --shots "$shots" || status=$?
  echo "Screenshots of each step: $shots"
  exit $status
fi

# ---- on the user's display ----------------------------------------------------------
logs=$build/run-logs
mkdir -p "$logs"
started=()

stop_started() {
  local pid i
  # The last started first, each awaited: the console players leave before
  # the server goes. Each runs in a process group of its own, so the group
  # ends and no other process of the user is touched.
  for ((i = ${#started[@]} - 1; i >= 0; i--)); do
    pid=${started[i]}
    kill -TERM -- "-$pid" 2>/dev/null || continue
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL -- "-$pid" 2>/dev/null || true
  done
  started=()
}
trap stop_started EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs "$@" in a process group of its own, output into a log; sets $last.
start() {
  local log=$1
  shift
  setsid "$@" >"$log" 2>&1 </dev/null &
  last=$!
  started+=("$last")
}

if (exec 3<>/dev/tcp/127.0.0.1/2424) 2>/dev/null; then
  echo "run.sh: something already listens on 127.0.0.1:2424 (another lobby server?)." >&2
  echo "        Stop it, or use it: start build/bin/lobby yourself." >&2
  exit 1
fi
start "$logs/vossad.log" "$bin/vossad" --bind 127.0.0.1 --port 2424
vossad=$last
for _ in $(seq 100); do
  grep -q '^listening on ' "$logs/vossad.log" 2>/dev/null && break
  kill -0 "$vossad" 2>/dev/null || break
  sleep 0.1
done
if ! grep -q '^listening on ' "$logs/vossad.log" 2>/dev/null; then
  echo "run.sh: the lobby server did not start:" >&2
  sed 's/^/  /' "$logs/vossad.log" >&2
  exit 1
fi

start "$logs/greta.log" "$bin/lobbybot" --accept --games 2 \
      --name "Greta Lindqvist" --city Lyon --country France --age 34 --sex female \
      --email greta@example.org --desc "Always up for a quick game; accepts every offer"
start "$logs/tomas.log" "$bin/lobbybot" --offer --offer-interval 45 --offer-wait 40 --games 1 \
      --name "Tomas Berger" --city Vienna --country Austria --age 41 --sex male \
      --email tomas@example.org --desc "Looks for partners and offers games himself"

current=$(sed -n 's/^CurrentServer=//p' "$install_dir/SERVERS.INI" 2>/dev/null | tr -d '\r' | head -1)
echo
echo "The lobby server runs on 127.0.0.1:2424 with two console players:"
echo "  Greta Lindqvist (Lyon) accepts every offer; Tomas Berger (Vienna) offers games too."
echo "Logs (the client's too): $logs"
if [ -n "$current" ] && [ "$current" != 127.0.0.1 ]; then
  echo "Your server list points at $current: choose 127.0.0.1 with the Server button."
fi
echo "Starting the lobby client; closing it stops the server and the console players."
# Waited for with the wait builtin, so that Ctrl-C or a TERM to this script
# runs the clean-up at once rather than once the client has gone.
start "$logs/lobby.log" "$bin/lobby"
status=0
wait "$last" || status=$?
exit $status
