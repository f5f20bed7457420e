#!/usr/bin/env bash
# Screenshots of every page of the main window, for the README. Runs the
# demo of scripts/run-demo.sh (Tarvion and two simulated terminals) on a
# virtual X server, takes in samples/write-persons.cfg so that the first page
# shows result lines, switches the pages with the keyboard (the error-log
# page with its button) and saves docs/screenshots/*.png.
#
# Usage: scripts/screenshots.sh   (TARVION_BUILD_DIR: binaries, default build/)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${TARVION_BUILD_DIR:-$repo/build}
shots=$repo/docs/screenshots

say() { printf 'screenshots: %s\n' "$*"; }
fail() { printf 'screenshots: %s\n' "$*" >&2; exit 1; }

if [ -z "${TARVION_UNDER_XVFB:-}" ]; then
  # The virtual X server, a key and click sender and a window grabber; only
  # this script needs them, so they are not in scripts/install-deps.sh.
  missing=()
  for tool in xvfb-run:xvfb xauth:xauth xdotool:xdotool import:imagemagick; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
  done
  if [ "${#missing[@]}" -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo=sudo
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update
    $sudo apt-get install -y --no-install-recommends "${missing[@]}"
  fi
  if [ ! -x "$build_dir/tarvion" ] || [ ! -x "$build_dir/orveta-sim" ]; then
    [ -f "$build_dir/CMakeCache.txt" ] ||
      cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build_dir" --target tarvion orveta-sim
  fi
  # Without a notification area the program shows its window at start.
  export TARVION_UNDER_XVFB=1 TARVION_BUILD_DIR=$build_dir
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

work=$(mktemp -d)
demo_pid=""

. "$repo/scripts/lib/processes.sh"

# Ctrl+C for the demo: it ends Tarvion, then the simulators.
finish() {
  if [ -n "$demo_pid" ]; then
    kill -INT "$demo_pid" 2>/dev/null || true
    wait "$demo_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap finish EXIT

mkdir -m 700 "$work/run"
set -m  # the demo gets its own process group and keeps SIGINT
XDG_RUNTIME_DIR=$work/run "$repo/scripts/run-demo.sh" --no-build --build-dir "$build_dir" \
  --demo-dir "$work/demo" >"$work/demo.out" 2>&1 &
demo_pid=$!
set +m

ready() {
  running "$demo_pid" || { cat "$work/demo.out" >&2; fail "the demo ended at start"; }
  grep -q '^run-demo: ready$' "$work/demo.out"
}
wait_for 60 ready || fail "the demo did not start within 60 s"

cp "$repo/samples/write-persons.cfg" "$work/demo/request.cfg"
answered() { [ "$(cat "$work/demo/rudazo.sta" 2>/dev/null)" = $'4,3\r' ]; }
if wait_for 15 answered; then
  # After a job the indicator is refreshed after a pause of 1.5 s; the window
  # repaints once that is over.
  sleep 3
else
  say "no answer to the sample request: the first page shows no result lines"
fi

window=$(xdotool search --sync --onlyvisible --name '^Tarvion - ')
xdotool windowfocus --sync "$window"
mkdir -p "$shots"

# The window repaints within a moment of a key; the pause is for the picture,
# nothing depends on it.
shot() {
  sleep 0.7
  import -window "$window" "$shots/$1.png"
  say "docs/screenshots/$1.png"
}

shot 1-ovladani-terminalu
xdotool key ctrl+Tab
shot 2-konfigurace-terminalu
xdotool key ctrl+Tab
shot 3-servisni-nastaveni
xdotool key ctrl+Tab
shot 4-o-programu
# Back to "Servisní nastavení" and a click on "Výpis error-log" (its place in
# the fixed 600 x 400 window).
xdotool key ctrl+shift+Tab
sleep 0.7
xdotool mousemove --window "$window" 474 182 click 1
xdotool mousemove --window "$window" 590 390
shot 5-chybova-hlaseni
if cmp -s "$shots/3-servisni-nastaveni.png" "$shots/5-chybova-hlaseni.png"; then
  fail "the error-log page did not open"
fi
