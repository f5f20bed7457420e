#!/usr/bin/env bash
# The README's run command, headless: scripts/run-demo.sh brings up the two
# simulated terminals and Tarvion, and after the line has been left quiet as
# long as a newcomer reads the README (five minutes of the master's polls
# nobody read, which the simulator writes at once on SIGUSR1) takes in
# samples/write-persons.cfg, leaves
# the decoded persons in output.txt and the pair 4,3 in rudazo.sta, and on
# Ctrl+C (SIGINT) ends everything it started.
#
# Usage: tests/demo_run_test.sh [BUILD_DIR]   (default: build/)
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(cd "${1:-$repo/build}" && pwd)
sample=$repo/samples/write-persons.cfg

work=$(mktemp -d)
demo=$work/demo
out=$work/run-demo.out
demo_pid=""

fail() {
  echo "FAIL: $*" >&2
  echo "--- run-demo output" >&2
  cat "$out" >&2 2>/dev/null || true
  echo "--- error log" >&2
  tr -d '\r' 2>/dev/null <"$demo/errorlog.txt" >&2 || true
  exit 1
}

. "$repo/scripts/lib/processes.sh"

# After a failure the demo script is asked to stop (it ends its own children).
finish() {
  if [ -n "$demo_pid" ] && running "$demo_pid"; then
    kill -TERM "$demo_pid" 2>/dev/null || true
    wait_for 30 stopped "$demo_pid" || true
  fi
  rm -rf "$work"
}
trap finish EXIT

# Job control gives the demo its own process group and, unlike a plain
# background job of a script, leaves SIGINT to it as at a terminal.
mkdir -m 700 "$work/run"
set -m
env -u DISPLAY -u WAYLAND_DISPLAY XDG_RUNTIME_DIR="$work/run" \
  "$repo/scripts/run-demo.sh" --no-build --headless --build-dir "$build_dir" --demo-dir "$demo" >"$out" 2>&1 &
demo_pid=$!
set +m

demo_ready() {
  running "$demo_pid" || fail "run-demo.sh ended before it was ready"
  grep -q '^run-demo: ready$' "$out"
}
wait_for 60 demo_ready || fail "run-demo.sh not ready within 60 s"
grep -q 'headless' "$out" || fail "run-demo.sh does not say that it runs headless"
grep -q 'terminal 1: .*MASTER' "$out" || fail "terminal 1 is not master"
grep -q 'terminal 2: .*SLAVE' "$out" || fail "terminal 2 is not slave"
mapfile -t started <"$demo/run-demo.pids"
[ "${#started[@]}" -eq 3 ] || fail "expected tarvion and two simulators, got: ${started[*]}"

# Every person line of the sample comes back from 'P': letter, number, the
# first four identification characters in hexadecimal, the record flag and
# the three 14-day code strings (the codes of the sample read back as written).
expected=""
while IFS= read -r line; do
  line=${line%$'\r'}
  case "$line" in
    Q* | R*) ;;
    *) continue ;;
  esac
  ident=$(printf '%s' "${line:5:4}" | od -An -tx1 | tr -d ' \n' | tr 'a-f' 'A-F')
  expected+="${line:0:5}${ident}${line:13:43}"$'\r\n'
done <"$sample"
[ -n "$expected" ] || fail "no person lines in $sample"

read -r master_pid _ <<<"${started[0]}"  # the first simulator plays the master on COM1
kill -USR1 "$master_pid"
backlog_written() { grep -q ' backlog ' "$demo/sim-com1.log"; }
wait_for 10 backlog_written || fail "the master's simulator wrote no backlog"

cp "$sample" "$demo/request.cfg"

status_is() { [ "$(cat "$demo/rudazo.sta" 2>/dev/null)" = "$1"$'\r' ]; }
wait_for 15 status_is "4,3" ||
  fail "rudazo.sta is '$(tr -d '\r' 2>/dev/null <"$demo/rudazo.sta")', not 4,3 within 15 s"
[ ! -e "$demo/request.cfg" ] || fail "request.cfg was not taken in"
actual=$(cat "$demo/output.txt"; echo x)
[ "${actual%x}" = "$expected" ] || fail "output.txt differs:
$(cat -A "$demo/output.txt")
expected:
$(printf '%s' "$expected" | cat -A)"

# Ctrl+C: the script ends Tarvion ("Stop programu"), then the simulators.
kill -INT "$demo_pid"
wait_for 30 stopped "$demo_pid" || fail "run-demo.sh still runs 30 s after SIGINT"
status=0
wait "$demo_pid" || status=$?
demo_pid=""
[ "$status" -eq 130 ] || fail "run-demo.sh ended with $status after SIGINT, not 130"
for entry in "${started[@]}"; do
  read -r pid name <<<"$entry"
  if running "$pid" && grep -qa -- "$name" "/proc/$pid/cmdline"; then
    fail "$name (pid $pid) still runs after the demo ended"
  fi
done
if [ -e "$demo/com1" ] || [ -e "$demo/com2" ]; then fail "a simulator link is left behind"; fi
[ "$(tail -n 1 "$demo/errorlog.txt" | tr -d '\r' | cut -c 23-)" = "Stop programu" ] ||
  fail "tarvion did not end in order"
echo "PASS: demo run"
