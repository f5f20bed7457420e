# Process helpers for the scripts that start and stop Tarvion and its
# simulators. Source it: . scripts/lib/processes.sh

# A live process exists and is not a zombie waiting to be reaped.
running() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}
stopped() { ! running "$1"; }

# Milliseconds on the clock, read from bash's own EPOCHREALTIME (bash 5).
now_ms() { local micro=${EPOCHREALTIME//[!0-9]/}; echo $((micro / 1000)); }

# Polls `condition` (a command with its arguments) every 0.1 s until it holds
# or `seconds` (whole seconds) have passed on the clock, however long each
# look takes: wait_for SECONDS COMMAND [ARG...]
wait_for() {
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}
