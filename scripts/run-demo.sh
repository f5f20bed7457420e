#!/usr/bin/env bash
# The first run: installs what is missing, builds Tarvion and the simulated
# terminal, and runs both in a demo start directory:
#   terminal 1, address 1, master, on COM1 = <demo>/com1
#   terminal 2, address 2, slave,  on COM2 = <demo>/com2
# Copy a file from samples/ to <demo>/request.cfg and read the answers in
# <demo>/output.txt and <demo>/rudazo.sta. Ctrl+C (or SIGTERM) ends Tarvion
# first, then the simulators, and leaves nothing running.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)

usage() {
  cat <<EOF
Usage: scripts/run-demo.sh [options]

  --no-build        use the binaries already in the build directory; skip the
                    installation of packages and the build
  --headless        run Tarvion without a window (QT_QPA_PLATFORM=offscreen)
                    even when a display is there
  --build-dir DIR   where the binaries are built (default: build/;
                    also TARVION_BUILD_DIR)
  --demo-dir DIR    the demo start directory (default: demo/;
                    also TARVION_DEMO_DIR)
  -h, --help        show this text
EOF
}

build_dir=${TARVION_BUILD_DIR:-$repo/build}
demo_dir=${TARVION_DEMO_DIR:-$repo/demo}
build=1
force_headless=0
while [ $# -gt 0 ]; do
  case "$1" in
    --no-build) build=0 ;;
    --headless) force_headless=1 ;;
    --build-dir) build_dir=${2:?--build-dir needs a directory}; shift ;;
    --demo-dir) demo_dir=${2:?--demo-dir needs a directory}; shift ;;
    -h | --help) usage; exit 0 ;;
    *) echo "run-demo: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
  shift
done

say() { printf 'run-demo: %s\n' "$*"; }
fail() { printf 'run-demo: %s\n' "$*" >&2; exit 1; }

# ---------------------------------------------------------------- build ----

if [ "$build" -eq 1 ]; then
  "$repo/scripts/install-deps.sh"
  # The same configuration as scripts/test-all.sh, so both share build/.
  if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  fi
  cmake --build "$build_dir" --target tarvion orveta-sim
fi
build_dir=$(cd "$build_dir" 2>/dev/null && pwd) || fail "no build directory $build_dir (run without --no-build)"
for binary in tarvion orveta-sim; do
  [ -x "$build_dir/$binary" ] || fail "$build_dir/$binary is missing (run without --no-build)"
done

# --------------------------------------------------------- demo directory ----

mkdir -p "$demo_dir"
demo_dir=$(cd "$demo_dir" && pwd)
pid_file=$demo_dir/run-demo.pids

. "$repo/scripts/lib/processes.sh"

if [ -f "$pid_file" ]; then
  while read -r pid name; do
    if running "$pid" && grep -qa -- "$name" "/proc/$pid/cmdline" 2>/dev/null; then
      fail "a demo is already running in $demo_dir ($name, pid $pid); stop it first"
    fi
  done <"$pid_file"
fi

# Files of an earlier run; the start directory's files begin empty. Those a
# killed demo leaves beside the request file go too: a taken-in file would
# otherwise be reported as an unfinished job at this start.
rm -f "$demo_dir"/{request.cfg,output.txt,rudazo.sta,binarni.bin,errorlog.txt,tarvion.lock} \
  "$demo_dir"/request.cfg.{prevzato,nedokonceno,odmitnuto,rozepsano} \
  "$demo_dir"/{com1,com2} "$demo_dir"/sim-com{1,2}.{log,out} "$pid_file"
rm -rf "$demo_dir/help"
cp "$build_dir/tarvion" "$demo_dir/tarvion"
cp -r "$repo/help" "$demo_dir/help"

# Cfg_binary: the 68-byte configuration record, little-endian, as hexadecimal
# text (layout in app/Config.h):
#   0-11  four terminal places: address, port index (0 = COM1), connected
#   12    baud index (4 = 19200)   16 capacity   20 breakfasts   24 dinners
#   28    meal coding, DT bytes, credit (one byte each)
#   31    request file name (12 bytes)   43 reserved (3)
#   46    output file name (12 bytes)    58 reserved (4)
#   62    repeat index, high priority, timeout index (item 20 = 80 ms),
#         byte 65 = 0, reserved (2)
hex=""
u8() { local v; for v in "$@"; do hex+=$(printf '%02X' "$v"); done; }
u32() { local v; for v in "$@"; do u8 $((v & 255)) $((v >> 8 & 255)) $((v >> 16 & 255)) $((v >> 24 & 255)); done; }
name12() {
  local i
  for ((i = 0; i < 12; i++)); do
    if ((i < ${#1})); then u8 "'${1:i:1}"; else u8 0; fi
  done
}
u8 1 0 1  2 1 1  0 0 0  0 0 0
u32 4 2500 4 6
u8 1 0 1
name12 request.cfg
u8 0 0 0
name12 output.txt
u8 0 0 0 0
u8 0 1 20 0 0 0
[ ${#hex} -eq 136 ] || fail "internal error: Cfg_binary has ${#hex} digits, not 136"

cat >"$demo_dir/tarvion.ini" <<EOF
[Konfigurace]
Cfg_binary=$hex
Parita=0
Neuspech_konec=1

[Porty]
COM1="$demo_dir/com1"
COM2="$demo_dir/com2"
EOF

# ------------------------------------------------------------- processes ----

# The single-instance lock lives in $XDG_RUNTIME_DIR, or in /tmp when that is
# unset. A value left over from another login (su, sudo) that is no writable
# directory would make the lock fail, so it is dropped.
if [ -n "${XDG_RUNTIME_DIR:-}" ] && ! { [ -d "$XDG_RUNTIME_DIR" ] && [ -w "$XDG_RUNTIME_DIR" ]; }; then
  say "XDG_RUNTIME_DIR=$XDG_RUNTIME_DIR is no writable directory: the lock file goes to /tmp"
  unset XDG_RUNTIME_DIR
fi

if [ "$force_headless" -eq 1 ] || { [ -z "${QT_QPA_PLATFORM:-}" ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
  export QT_QPA_PLATFORM=offscreen
fi
case "${QT_QPA_PLATFORM:-}" in
  offscreen* | minimal*) headless=1 ;;
  *) headless=0 ;;
esac

sim_pids=()
tarvion_pid=""

# SIGTERM to one process, then wait for it; SIGKILL after `seconds`.
# shellcheck disable=SC2317  # stop and cleanup run from the traps
stop() {
  local pid=$1 name=$2 seconds=$3
  kill -TERM "$pid" 2>/dev/null || true
  if ! wait_for "$seconds" stopped "$pid"; then
    say "$name (pid $pid) did not stop within $seconds s: killed"
    kill -KILL "$pid" 2>/dev/null || true
  fi
  wait "$pid" 2>/dev/null || true
}

# Tarvion first (it logs "Stop programu" and releases the ports), then the
# simulators (they remove their links).
# shellcheck disable=SC2317
cleanup() {
  trap - INT TERM HUP EXIT
  if [ -n "$tarvion_pid" ]; then
    say "stopping tarvion"
    stop "$tarvion_pid" tarvion 15
  fi
  local i
  for ((i = ${#sim_pids[@]} - 1; i >= 0; i--)); do
    stop "${sim_pids[i]}" orveta-sim 5
  done
  rm -f "$pid_file"
  say "stopped"
}
trap 'cleanup; exit 130' INT
trap 'cleanup; exit 143' TERM
trap 'cleanup; exit 129' HUP
trap cleanup EXIT

# Each child runs in a session of its own: Ctrl+C reaches only this script,
# which then ends them in order.
start_simulator() {
  local link=$1 terminal=$2 out=$3 log=$4 waited=0
  setsid "$build_dir/orveta-sim" --link "$link" --terminal "$terminal" --log "$log" >"$out" &
  sim_pids+=("$!")
  echo "$! orveta-sim" >>"$pid_file"
  until grep -q "^ready " "$out" 2>/dev/null; do
    running "$!" || fail "orveta-sim for $link ended before it was ready"
    [ "$waited" -lt 100 ] || fail "orveta-sim for $link not ready within 10 s"
    sleep 0.1
    waited=$((waited + 1))
  done
  say "simulator ready: $link, terminal $terminal"
}

start_simulator "$demo_dir/com1" 1:master "$demo_dir/sim-com1.out" "$demo_dir/sim-com1.log"
start_simulator "$demo_dir/com2" 2:slave "$demo_dir/sim-com2.out" "$demo_dir/sim-com2.log"

cd "$demo_dir"
setsid ./tarvion &
tarvion_pid=$!
echo "$tarvion_pid tarvion" >>"$pid_file"

# Started means: both terminals had their first link test ("TERM n ..." in
# the error log).
waited=0
until [ "$(grep -ac '^.\{22\}TERM [12] ' errorlog.txt 2>/dev/null)" = 2 ]; do
  if ! running "$tarvion_pid"; then
    status=0
    wait "$tarvion_pid" || status=$?
    tarvion_pid=""
    [ "$status" -eq 255 ] && fail "tarvion refused to start: another Tarvion holds ${XDG_RUNTIME_DIR:-/tmp}/Tarvionprogram.lock"
    [ "$headless" -eq 0 ] && say "without a usable display, try: scripts/run-demo.sh --headless"
    fail "tarvion ended at start (exit status $status)"
  fi
  [ "$waited" -lt 300 ] || fail "tarvion did not test its terminals within 30 s"
  sleep 0.1
  waited=$((waited + 1))
done

state() { grep -a "TERM $1 " errorlog.txt | tail -n 1 | sed 's/^.*TERM [0-9] //; s/\r$//'; }

if [ "$headless" -eq 1 ]; then
  mode="headless (QT_QPA_PLATFORM=$QT_QPA_PLATFORM): no window, no tray icon"
else
  mode="with a window: the tray icon \"Komunikátor ORVETA\" opens it (without a notification area the window is shown at once)"
fi
cat <<EOF

Tarvion runs in $demo_dir
  $mode
  terminal 1: address 1 on COM1 = $demo_dir/com1, $(state 1)
  terminal 2: address 2 on COM2 = $demo_dir/com2, $(state 2)

Drop a request file (the first line of each sample, TERM1 or TERM2, picks the terminal):
  cp $repo/samples/write-persons.cfg $demo_dir/request.cfg
  cp $repo/samples/read-status.cfg   $demo_dir/request.cfg
  cp $repo/samples/set-clock.cfg     $demo_dir/request.cfg
Answers, a second or two later:
  $demo_dir/output.txt    decoded answer lines
  $demo_dir/rudazo.sta    commands acknowledged,records received
  $demo_dir/errorlog.txt  events and errors (code page 1250)
  $demo_dir/sim-com1.log, sim-com2.log  every frame on the lines

Ctrl+C stops everything.
run-demo: ready
EOF

status=0
wait "$tarvion_pid" || status=$?
tarvion_pid=""
say "tarvion ended (exit status $status)"
exit "$status"
