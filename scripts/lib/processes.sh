# Process helpers for the scripts that start and stop Tarvion and its
# simulators. Source it: . scripts/lib/processes.sh

# A live process exists and is not a zombie waiting to be reaped.
running() {
  local state
  state=$(awk '{ print $3 }' "/proc/$1/stat" 2>/dev/null) || return 1
  [ -n "$state" ] && [ "$state" != Z ]
}
stopped() { ! running "$1"; }

# Polls `condition` (a command with its arguments) every 0.1 s for at most
# `seconds`: wait_for SECONDS COMMAND [ARG...]
wait_for() {
  local seconds=$1 waited=0
  shift
  until "$@"; do
    [ "$waited" -lt $((seconds * 10)) ] || return 1
    sleep 0.1
    waited=$((waited + 1))
  done
}
