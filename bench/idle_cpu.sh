#!/usr/bin/env bash
# Processor use of the idle program: build/tarvion headless in a fresh
# directory with its terminal on build/orveta-sim, the watcher running, the
# terminal connected, no request. Reads utime + stime of the program from
# /proc/<pid>/stat over the measuring span and prints the share of one core.
#
#   bench/idle_cpu.sh [seconds] [master|slave]     (default: 60 master)
#
# BUILD_DIR chooses the build (default: build beside this script's folder).
set -euo pipefail

seconds=${1:-60}
role=${2:-master}
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
case $role in master|slave) ;; *) echo "usage: $0 [seconds] [master|slave]" >&2; exit 2 ;; esac

work=$(mktemp -d /tmp/tarvion-idle-XXXXXX)
sim_pid=
program_pid=
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

cp "$build/tarvion" "$work/tarvion"
printf '[Porty]\nCOM1=%s/line\n' "$work" > "$work/tarvion.ini"

"$build/orveta-sim" --link "$work/line" --terminal "1:$role" > "$work/sim.out" 2>&1 &
sim_pid=$!
for _ in $(seq 100); do grep -q ready "$work/sim.out" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$work/sim.out" || { echo "the simulator did not start" >&2; exit 1; }

(cd "$work" && QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" exec ./tarvion > program.out 2>&1) &
program_pid=$!
# The start-up link test: "TERM 1 MASTER" or "TERM 1 SLAVE" (on a busy
# machine a master's polls may be missed and it answers as a slave).
want="TERM 1 (MASTER|SLAVE)"
for _ in $(seq 300); do grep -Eq "$want" "$work/errorlog.txt" 2>/dev/null && break; sleep 0.1; done
grep -Eq "$want" "$work/errorlog.txt" || {
  echo "the program did not find its terminal:" >&2
  cat "$work/errorlog.txt" "$work/program.out" >&2
  exit 1
}

ticks() { awk '{ s = $0; sub(/.*\) /, "", s); split(s, f, " "); print f[12] + f[13] }' "/proc/$program_pid/stat"; }
hz=$(getconf CLK_TCK)
# Past the start-up: the first request-file check and the first periodic
# link check have run.
sleep 5
before=$(ticks)
start=$(date +%s.%N)
sleep "$seconds"
after=$(ticks)
end=$(date +%s.%N)

found=$(grep -Eo "$want" "$work/errorlog.txt" | head -1)
awk -v t=$((after - before)) -v hz="$hz" -v a="$start" -v b="$end" -v role="$found" -v rss="$(grep VmRSS /proc/$program_pid/status | awk '{print $2}')" 'BEGIN {
  span = b - a; cpu = t / hz
  printf "idle, %s: %.2f s of processor time over %.1f s = %.3f %% of one core (VmRSS %d kB)\n", role, cpu, span, 100 * cpu / span, rss
  printf "target: under 1 %% of one core\n"
}'
grep -q "Stop programu" "$work/errorlog.txt" && { echo "the program ended early" >&2; exit 1; }
exit 0
