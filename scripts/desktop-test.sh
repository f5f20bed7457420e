#!/usr/bin/env bash
# What a desktop user does with Tarvion, on a virtual X server with a window
# manager (openbox) and a real tray host (trayer), against a simulated slave
# terminal:
#   - the program starts hidden, with its icon in the tray;
#   - a double click on the icon shows the window;
#   - F1 and the frame's context-help button open the help;
#   - the tray menu: "Zobrazit program", "Schovat program" (hides the window),
#     "Nápověda", a separator, "Konec";
#   - a request shows the balloon and leaves none behind when it is done;
#   - "Konec" asks the closing question: No keeps the program, Yes ends it
#     with "Stop programu".
# It saves a picture of the tray with its menu open as
# <build dir>/desktop/tray-menu.png, and with --docs also as
# docs/screenshots/6-tray-menu.png. CTest runs it (test desktop_session).
#
# Usage: scripts/desktop-test.sh [--build-dir DIR] [--docs]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${TARVION_BUILD_DIR:-$repo/build}
docs=0
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir) build_dir=$(cd "$2" && pwd); shift ;;
    --docs) docs=1 ;;
    *) echo "usage: $0 [--build-dir DIR] [--docs]" >&2; exit 2 ;;
  esac
  shift
done

say() { printf 'desktop-test: %s\n' "$*"; }
fail() { printf 'desktop-test: FAILED: %s\n' "$*" >&2; exit 1; }

if [ -z "${TARVION_UNDER_XVFB:-}" ]; then
  "$repo/scripts/install-deps.sh" >/dev/null
  if [ ! -x "$build_dir/tarvion" ] || [ ! -x "$build_dir/orveta-sim" ]; then
    [ -f "$build_dir/CMakeCache.txt" ] ||
      cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build "$build_dir" --target tarvion orveta-sim
  fi
  export TARVION_UNDER_XVFB=1 TARVION_BUILD_DIR=$build_dir TARVION_DOCS=$docs
  exec xvfb-run -a -s "-screen 0 1024x768x24" "$0" --build-dir "$build_dir"
fi
docs=${TARVION_DOCS:-0}

. "$repo/scripts/lib/processes.sh"
# Debian's own Python, which python3-xlib belongs to.
xwin() { /usr/bin/python3 "$repo/scripts/lib/xwindows.py" "$@"; }

out=$build_dir/desktop
work=$out/work
rm -rf "$work"
mkdir -p "$work/bin" "$work/help"
mkdir -m 700 "$work/run"
pids=()
finish() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}
trap finish EXIT
started() { "$@" & pids+=("$!"); }

# The help opens with the desktop's viewer, xdg-open; this one notes the file.
cat >"$work/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >>"$work/help-opened"
EOF
chmod +x "$work/bin/xdg-open"
cp "$repo/help/Tarvion.html" "$work/help/"
helps_at_least() { [ -f "$work/help-opened" ] && [ "$(wc -l <"$work/help-opened")" -ge "$1" ]; }

# The program with its INI beside it, the simulated terminal on COM1.
cp "$build_dir/tarvion" "$work/tarvion"
printf '[Konfigurace]\nTest_binary=E8030000E8030000\n\n[Porty]\nCOM1=%s\n' "$work/com1" >"$work/tarvion.ini"
started "$build_dir/orveta-sim" --link "$work/com1" --terminal 1:slave --log "$work/sim.log" >"$work/sim.out"
wait_for 10 grep -q '^ready' "$work/sim.out" || fail "the simulated terminal did not start"

started openbox
wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "no window manager"
started trayer --edge top --align right --widthtype request --height 26 --SetDockType true --expand false
wait_for 10 sh -c 'xdotool search --classname trayer >/dev/null' || fail "no tray host"

cd "$work"
unset QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
started env PATH="$work/bin:$PATH" XDG_RUNTIME_DIR="$work/run" ./tarvion >"$work/tarvion.out" 2>"$work/tarvion.err"
tarvion=${pids[-1]}
logged() { iconv -f CP1250 -t UTF-8 "$work/errorlog.txt" 2>/dev/null | grep -q -- "- $1"; }
wait_for 20 logged "TERM 1 SLAVE" || fail "Tarvion did not start: $(cat "$work/tarvion.err")"

# Hidden, with its icon in the tray.
visible() { xdotool search --onlyvisible --name '^Tarvion - ' >/dev/null 2>&1; }
wait_for 10 xwin tray-icon "$tarvion" >/dev/null || fail "no icon in the tray"
visible && fail "the window shows at start"
read -r icon_x icon_y < <(xwin tray-icon "$tarvion")
say "hidden at start, icon in the tray at $icon_x,$icon_y"

xdotool mousemove "$icon_x" "$icon_y" click --repeat 2 --delay 80 1
wait_for 10 visible || fail "a double click on the icon did not show the window"
window=$(xdotool search --onlyvisible --name '^Tarvion - ' | head -1)
say "a double click shows the window"

xdotool windowactivate --sync "$window" key F1
wait_for 10 helps_at_least 1 || fail "F1 opened no help"
grep -q 'help/Tarvion.html$' "$work/help-opened" || fail "F1 opened $(cat "$work/help-opened")"
xwin context-help "$window" || fail "the frame has no context-help button"
wait_for 10 helps_at_least 2 || fail "the context-help button opened no help"
say "F1 and the context-help button open the help"

# The tray menu, opened with the right mouse button, items chosen by keys:
# the first is taken by one Down, the n-th by n.
menu_open() { [ -n "$(xwin menu "$tarvion")" ]; }
menu_closed() { ! menu_open; }
menu_item() {
  xdotool mousemove "$icon_x" "$icon_y" click 3
  wait_for 10 menu_open || fail "the tray menu did not open"
  [ "$1" = picture ] && return
  xdotool key --delay 60 $(printf 'Down %.0s' $(seq "$1")) Return
  wait_for 10 menu_closed || fail "the tray menu stayed open"
}
menu_item picture
mkdir -p "$out"
read -r menu_x menu_y menu_w menu_h < <(xwin menu "$tarvion")
left=$(((menu_x < icon_x ? menu_x : icon_x) - 60))
sleep 0.3  # the menu's first paint, for the picture only
import -window root -crop "$((1024 - left))x$((menu_y + menu_h + 30))+$left+0" "$out/tray-menu.png"
xdotool key Escape
wait_for 10 menu_closed || fail "the tray menu did not close"
say "the tray menu: $out/tray-menu.png"
if [ "$docs" -eq 1 ]; then
  cp "$out/tray-menu.png" "$repo/docs/screenshots/6-tray-menu.png"
  say "docs/screenshots/6-tray-menu.png"
fi

menu_item 2
wait_for 10 sh -c '! xdotool search --onlyvisible --name "^Tarvion - " >/dev/null' ||
  fail "\"Schovat program\" did not hide the window"
menu_item 1
wait_for 10 visible || fail "\"Zobrazit program\" did not show the window"
menu_item 3
wait_for 10 helps_at_least 3 || fail "\"Nápověda\" opened no help"
say "Zobrazit program, Schovat program and Nápověda do their work"

# A request: the balloon while it is sent, none left once it is done.
balloon_shown() { [ "$(xwin balloons "$tarvion")" -ge 1 ]; }
no_balloon() { [ "$(xwin balloons "$tarvion")" -eq 0 ]; }
wait_for 10 no_balloon || fail "the start balloon stayed"
for i in $(seq 10); do printf 'S\r\n'; done >"$work/request.draft"
mv "$work/request.draft" "$work/request.cfg"
wait_for 20 balloon_shown || fail "no balloon while the request was sent"
import -window root "$out/balloon.png"
# The status pair comes once the batch is over (how many lines the terminal
# took does not matter here).
wait_for 60 grep -qs ',' "$work/rudazo.sta" || fail "the request was not done"
wait_for 1 no_balloon || fail "a balloon stayed after the request"
say "a request shows the balloon and leaves none behind"

# "Konec": the closing question; No keeps the program running, Yes ends it.
question() { xdotool search --onlyvisible --name '^Pozor!$' >/dev/null 2>&1; }
menu_item 4
wait_for 10 question || fail "\"Konec\" asked no question"
xdotool windowactivate --sync "$(xdotool search --onlyvisible --name '^Pozor!$' | head -1)" key Escape
wait_for 10 sh -c '! xdotool search --onlyvisible --name "^Pozor!$" >/dev/null' || fail "the question stayed"
running "$tarvion" || fail "No to the closing question ended the program"
menu_item 4
wait_for 10 question || fail "\"Konec\" asked no question the second time"
xdotool windowactivate --sync "$(xdotool search --onlyvisible --name '^Pozor!$' | head -1)" key Return
wait_for 20 stopped "$tarvion" || fail "Yes to the closing question did not end the program"
wait "$tarvion" || fail "Tarvion ended with status $?"
logged "Stop programu" || fail "no \"Stop programu\" in the error log"
say "Konec asks the closing question; Yes ends the program"
say "all checks passed"
