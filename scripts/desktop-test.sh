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
#   - Enter sends the typed command from the command line, and nothing from
#     an address field;
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
xwindows=(/usr/bin/python3 "$repo/scripts/lib/xwindows.py")
xwin() { "${xwindows[@]}" "$@"; }

# The run's files go to a folder of its own: a run beside it (a second ctest,
# a person trying the script) keeps to its own. Removed when every check
# passed, kept for a look when one failed.
out=$build_dir/desktop
mkdir -p "$out"
work=$(mktemp -d "$out/work.XXXXXX")
mkdir -p "$work/bin" "$work/help"
mkdir -m 700 "$work/run"
pids=()
finish() {
  local status=$? pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ "$status" -eq 0 ]; then rm -rf "$work"; else echo "desktop-test: the run's files are in $work" >&2; fi
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

# The program with its INI beside it, the simulated terminal on COM1. The
# waits for the start-ups allow for a machine busy with other work.
cp "$build_dir/tarvion" "$work/tarvion"
printf '[Konfigurace]\nTest_binary=E8030000E8030000\n\n[Porty]\nCOM1=%s\n' "$work/com1" >"$work/tarvion.ini"
# Like a terminal with a processor of its own, the simulator answers on time
# while the machine is busy with other work: it runs at the highest priority
# short of real time where that is allowed (nice says so where it is not).
started nice -n -20 "$build_dir/orveta-sim" --link "$work/com1" --terminal 1:slave --log "$work/sim.log" >"$work/sim.out"
wait_for 30 grep -q '^ready' "$work/sim.out" || fail "the simulated terminal did not start"

started openbox
wait_for 30 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "no window manager"
started trayer --edge top --align right --widthtype request --height 26 --SetDockType true --expand false
wait_for 30 sh -c 'xdotool search --classname trayer >/dev/null' || fail "no tray host"

cd "$work"
unset QT_QPA_PLATFORM DBUS_SESSION_BUS_ADDRESS
started env PATH="$work/bin:$PATH" XDG_RUNTIME_DIR="$work/run" ./tarvion >"$work/tarvion.out" 2>"$work/tarvion.err"
tarvion=${pids[-1]}
logged() { iconv -f CP1250 -t UTF-8 "$work/errorlog.txt" 2>/dev/null | grep -q -- "- $1"; }
# Started once the link test at start is logged, whatever it found: on a busy
# machine the program may miss the terminal's answer there, and it tests the
# terminal again before it sends anything.
wait_for 30 logged "TERM 1 " || fail "Tarvion did not start: $(cat "$work/tarvion.err")"

# --- A person at the desktop ---
# Every step acts, then looks for what it should bring about; where that does
# not come within a look, the person acts again (moves to the icon again,
# clicks again) until the step's bound. No step waits for a moment that only
# suits one machine.

# act_until SECONDS ACTION CONDITION: ACTION (a command), then a look for
# CONDITION, 2 s at first and twice as long at each new try; again until it
# holds, at most SECONDS in all (give or take the last look).
act_until() {
  local end=$((SECONDS + $1)) action=$2 condition=$3 look=2
  while [ "$SECONDS" -lt "$end" ]; do
    "$action"
    wait_for "$look" "$condition" && return 0
    look=$((look * 2))
  done
  return 1
}

# Between steps the pointer rests on the bare desktop, away from the icon (no
# tool tip of it) and from the window.
rest_x=10 rest_y=700
rest_pointer() { xdotool mousemove "$rest_x" "$rest_y"; }
# From there to the icon, so that the icon sees the pointer come in.
point_at_icon() { xdotool mousemove "$rest_x" "$rest_y" mousemove "$icon_x" "$icon_y"; }

# Qt takes a second press of a button at the same spot within its double-click
# time (400 ms, its default without desktop settings) as a double click, and
# a right double click on the icon opens no menu. A person's separate clicks
# come further apart: a click waits for that time since the last press.
double_click_ms=400
last_press=0
apart_from_last_press() { [ $(($(now_ms) - last_press)) -gt "$double_click_ms" ]; }
# click BUTTON [TIMES]: at the pointer.
click() {
  wait_for 1 apart_from_last_press
  xdotool click --repeat "${2:-1}" --delay 80 "$1"
  last_press=$(now_ms)
}

# --- Hidden at start, with its icon in the tray ---
visible() { xdotool search --onlyvisible --name '^Tarvion - ' >/dev/null 2>&1; }
no_balloon() { [ "$(xwin balloons "$tarvion")" -eq 0 ]; }
wait_for 30 xwin tray-icon "$tarvion" >/dev/null || fail "no icon in the tray"
read -r icon_x icon_y < <(xwin tray-icon "$tarvion")
# The start balloon goes by itself (it would cover the menu's picture).
wait_for 10 no_balloon || fail "the start balloon stayed"

# The tray menu, opened with the right mouse button, items chosen by keys:
# the first is taken by one Down, the n-th by n. The menu takes the keyboard
# as it shows.
menu_open() { [ -n "$(xwin menu "$tarvion")" ]; }
menu_closed() { ! menu_open; }
right_click_icon() { point_at_icon; click 3; }
escape() { xdotool key Escape; }
open_menu() {
  act_until 20 right_click_icon menu_open && return
  running "$tarvion" || fail "Tarvion is no longer running"
  fail "the tray menu did not open"
}
close_menu() { act_until 10 escape menu_closed || fail "the tray menu did not close"; }
menu_item() {
  open_menu
  xdotool key --delay 60 $(printf 'Down %.0s' $(seq "$1")) Return
  wait_for 10 menu_closed || fail "the tray menu stayed open"
  rest_pointer
}

# The menu answers at the icon: the program has left its start-up, where it
# shows its window if it does. Once the window manager has dealt with what it
# was asked before, a window shown at start would be on the screen.
open_menu
xwin wm-sync || fail "the window manager does not answer"
visible && fail "the window shows at start"
say "hidden at start, icon in the tray at $icon_x,$icon_y"

# The picture, once the menu has been painted (more than one colour).
read -r menu_x menu_y menu_w menu_h < <(xwin menu "$tarvion")
menu_painted() {
  [ "$(import -window root -crop "${menu_w}x${menu_h}+$menu_x+$menu_y" +repage png:- | identify -format %k -)" -gt 1 ]
}
wait_for 10 menu_painted || fail "the tray menu was not painted"
left=$(((menu_x < icon_x ? menu_x : icon_x) - 60))
import -window root -crop "$((1024 - left))x$((menu_y + menu_h + 30))+$left+0" "$out/tray-menu.png"
close_menu
rest_pointer
say "the tray menu: $out/tray-menu.png"
if [ "$docs" -eq 1 ]; then
  cp "$out/tray-menu.png" "$repo/docs/screenshots/6-tray-menu.png"
  say "docs/screenshots/6-tray-menu.png"
fi

# --- The window and its help ---
double_click_icon() { point_at_icon; click 1 2; }
act_until 20 double_click_icon visible || fail "a double click on the icon did not show the window"
rest_pointer
window=$(xdotool search --onlyvisible --name '^Tarvion - ' | head -1)
say "a double click shows the window"

# Keys go to the active window; F1 once the window manager has made it so.
activate() { timeout 10 xdotool windowactivate --sync "$1" >/dev/null; }
activate "$window" || fail "the window could not be activated"
xdotool key F1
wait_for 10 helps_at_least 1 || fail "F1 opened no help"
grep -q 'help/Tarvion.html$' "$work/help-opened" || fail "F1 opened $(cat "$work/help-opened")"
xwin context-help "$window" || fail "the frame has no context-help button"
wait_for 10 helps_at_least 2 || fail "the context-help button opened no help"
say "F1 and the context-help button open the help"

# --- The tray menu's items ---
menu_item 2
wait_for 10 sh -c '! xdotool search --onlyvisible --name "^Tarvion - " >/dev/null' ||
  fail "\"Schovat program\" did not hide the window"
menu_item 1
wait_for 10 visible || fail "\"Zobrazit program\" did not show the window"
menu_item 3
wait_for 10 helps_at_least 3 || fail "\"Nápověda\" opened no help"
say "Zobrazit program, Schovat program and Nápověda do their work"

# --- A request: the balloon while it is sent, none left once it is done ---
no_balloon || fail "a balloon shows before the request"
# The balloon is watched for as it shows, not looked for now and then: a job
# that a terminal ends early shows it only briefly.
started "${xwindows[@]}" balloon-watch "$tarvion" >"$work/balloon-watch"
wait_for 10 grep -q '^watching' "$work/balloon-watch" || fail "the balloons cannot be watched"
for i in $(seq 10); do printf 'S\r\n'; done >"$work/request.draft"
mv "$work/request.draft" "$work/request.cfg"
wait_for 20 grep -q '^shown' "$work/balloon-watch" || fail "no balloon while the request was sent"
read -r _ shown_ms < <(grep '^shown' "$work/balloon-watch")
import -window root "$out/balloon.png"
# The job is over once its final pair is written: the request, renamed to
# request.cfg.prevzato while its job runs, is gone then (the status file
# holds a pair from the job's start on). How many lines the terminal took
# does not matter here.
job_done() { [ ! -e "$work/request.cfg" ] && [ ! -e "$work/request.cfg.prevzato" ] && [ -s "$work/rudazo.sta" ]; }
wait_for 60 job_done || fail "the request was not done"
# Taken down as the job ends; a balloon left behind would stay 10 s after it
# showed.
wait_for 8 no_balloon && [ $(($(now_ms) - shown_ms)) -lt 8000 ] || fail "a balloon stayed after the request"
say "a request shows the balloon and leaves none behind"

# --- Enter sends the command line from that line only ---
# "P" typed in the command line goes to the terminal with Enter; Enter in
# terminal 1's "Adresa" on "Konfigurace terminálů" sends nothing. A "Y" sent
# from the command line after it marks the end: by then exactly one "P" has
# reached the terminal. Each command's exchange ends with a new status file
# (keys that come meanwhile find the send button greyed). The places are
# those of the fixed 600 x 400 window.
sent() { awk -v letter="$1" '$2 == "rx" && $5 == letter' "$work/sim.log" | wc -l; }
status_file() { stat -c %i "$work/rudazo.sta" 2>/dev/null; }
status_replaced() { [ "$(status_file)" != "$1" ]; }
click_at() { xdotool mousemove --window "$window" "$1" "$2"; click 1; }
window=$(xdotool search --onlyvisible --name '^Tarvion - ' | head -1)
[ -n "$window" ] || fail "the window is not shown for the Enter steps"
activate "$window" || fail "the window could not be activated"
click_at 78 17   # the tab "Ovládání terminálu"
click_at 420 68  # the command line
status=$(status_file)
xdotool type P
xdotool key Return
wait_for 20 status_replaced "$status" || fail "Enter in the command line sent nothing"
click_at 240 17  # the tab "Konfigurace terminálů"
click_at 88 76   # terminal 1's "Adresa"
xdotool key Return
click_at 78 17
click_at 420 68
status=$(status_file)
xdotool key ctrl+a type Y
xdotool key Return
wait_for 20 status_replaced "$status" || fail "Enter in the command line sent nothing the second time"
[ "$(sent 59)" -eq 1 ] || fail "the command line's second Enter sent $(sent 59) Y"
[ "$(sent 50)" -eq 1 ] || fail "Enter in an address field sent the command line"
rest_pointer
say "Enter sends the command line from that line only, not from an address field"

# --- "Konec": the closing question; No keeps the program, Yes ends it ---
question() { xdotool search --onlyvisible --name '^Pozor!$' >/dev/null 2>&1; }
no_question() { ! question; }
# answer KEY: to the question, made the active window first.
answer() {
  local box
  box=$(xdotool search --onlyvisible --name '^Pozor!$' | head -1)
  [ -z "$box" ] || { activate "$box" && xdotool key "$1"; }
}
answer_no() { answer Escape; }
answer_yes() { answer Return; }
menu_item 4
wait_for 10 question || fail "\"Konec\" asked no question"
act_until 20 answer_no no_question || fail "the question stayed after No"
# The program goes on: its menu opens again, and "Konec" asks again.
menu_item 4
wait_for 10 question || fail "\"Konec\" asked no question the second time"
answered_yes() { no_question && stopped "$tarvion"; }
act_until 20 answer_yes answered_yes || fail "Yes to the closing question did not end the program"
wait "$tarvion" || fail "Tarvion ended with status $?"
logged "Stop programu" || fail "no \"Stop programu\" in the error log"
say "Konec asks the closing question; Yes ends the program"
say "all checks passed"
