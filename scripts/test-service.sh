#!/usr/bin/env bash
# The service under a real systemd: a Debian 12 root file system, booted in a
# container with systemd-nspawn -b, the package installed with apt-get, a
# simulated terminal on a pseudo-terminal (a unit of its own, systemd-run),
# the INI file set by hand, and then the hardened unit checked as an
# administrator would: enable --now and the status line, a quiet journal,
# the devices, a home only the service may write, the group tarvion as the
# one way in, the priority, a stop and a SIGKILL in the middle of a 200-line
# job, a hand-edited INI file with a bad value, a noisy line (the service
# still reports ready), the generator's drop-in for the INI file's device and
# the bounded wait for it, the device appearing after the start (taken up
# without a restart), and the exposure of systemd-analyze security (at most
# 1.0).
#
# The root file system is made once by debootstrap from the Debian mirror and
# kept in CACHE (default /var/cache/tarvion-service-test) with the package's
# dependencies, so that a second run fetches nothing; each run boots it with
# a throw-away overlay (--volatile=overlay) and without a network.
#
# Usage: scripts/test-service.sh [--deb FILE] [--cache DIR] [--mirror URL] [--keep]
#        scripts/test-service.sh --can-run   (why not, in one line, exit 1)
# Without --deb it builds the package first (scripts/package.sh). --keep
# leaves the run's folder (console, journal, logs) for a look.
#
# What it needs on the CI machine kind (no systemd as PID 1, /run on the
# disk, cgroup v1 with cgroup2 beside it at /sys/fs/cgroup/unified, no
# CAP_SYS_RESOURCE in the bounding set), found by trying:
#  --register=no --keep-unit   no systemd-machined and no systemd to give the
#      container a scope: without either, "Failed to open system bus: No such
#      file or directory".
#  SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1   a cgroup2 tree for the container, as
#      a Debian 12 host has; under the host's read-only v1 controllers
#      DevicePolicy= and IPAddressDeny= are quietly not enforced, and systemd
#      warns "unit configures an IP firewall, but the local system does not
#      support BPF/cgroup firewalling".
#  --system-call-filter=bpf   nspawn's own filter denies bpf(), which systemd
#      needs for both.
#  --private-network   the container keeps CAP_NET_ADMIN, so that the
#      service's PrivateNetwork= brings its loopback up (else "Failed to
#      configure loopback network device, ignoring: Operation not
#      permitted", a warning); the package comes from the cache.
#  a tmpfs on /run/systemd/nspawn, in a mount namespace of the run's own:
#      /run is no tmpfs here, and nspawn refuses to clean up there
#      ("Attempted to remove disk file system under
#      "/run/systemd/nspawn/propagate/...", and we can't allow that.").
#  a cgroup of the run's own in each hierarchy: nspawn makes its
#      "supervisor" and "payload" groups where it was started; the run kills
#      whatever is left in them and removes them.
#  nsenter into the container's init to run commands: machinectl and
#      systemd-run --machine need machined.
# On a host run by systemd the container gets a delegated scope instead
# (systemd-run --scope); that way is not tried on the CI machine.
# Not possible on the CI machine: LimitNICE= (without CAP_SYS_RESOURCE
# nobody raises RLIMIT_NICE above the container's 0); nice -10 during a job
# is checked where the service gets its limit of 30, said where it does not.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/lib/debian-root.sh"
parse_root_test_options "$0" "$@"

. "$repo/scripts/lib/processes.sh"

# --- Can this machine run containers at all? ---
why_not() {
  local command error
  [ "$(id -u)" -eq 0 ] || { echo "not root"; return; }
  for command in systemd-nspawn debootstrap nsenter unshare; do
    command -v "$command" >/dev/null || { echo "no $command (scripts/install-deps.sh installs it)"; return; }
  done
  if ! error=$(unshare --mount --pid --net --uts --ipc --fork true 2>&1); then
    echo "no namespaces here: ${error:-unshare failed}"
    return
  fi
  findmnt -n -t cgroup2 >/dev/null || { echo "no cgroup2 file system mounted"; return; }
}
settle_can_run "$0" "$(why_not)"

work=$(mktemp -d /tmp/tarvion-service-test.XXXXXX)
chmod 755 "$work"
arch=$(dpkg --print-architecture)
root=$cache/$suite-$arch
machine=tarvion-test
host_systemd=""
[ -d /run/systemd/system ] && host_systemd=1
cgroups=()
made_nspawn_dir=""
nspawn_pid=""
leader=""
background=()

say() { echo "test-service: $*"; }
fail() {
  echo "test-service: FAIL: $*" >&2
  exit 1
}

# --- Cleaning up, also after a failed check ---
kill_cgroups() {
  local group pid
  for group in "${cgroups[@]}"; do
    if [ -e "$group/cgroup.kill" ]; then
      echo 1 >"$group/cgroup.kill" 2>/dev/null || true
    else
      while read -r pid; do kill -KILL "$pid" 2>/dev/null || true; done < <(find "$group" -name cgroup.procs -exec cat {} +)
    fi
  done
}
remove_cgroups() {
  local group
  for group in "${cgroups[@]}"; do
    [ -d "$group" ] && find "$group" -depth -type d -exec rmdir {} + 2>/dev/null || true
    [ -d "$group" ] && echo "test-service: cgroup $group is left" >&2
  done
  return 0
}
finish() {
  local status=$? pid
  for pid in "${background[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  if [ "$status" -ne 0 ] && [ -n "$leader" ] && running "$leader"; then
    save_journal
    tail -n 40 "$work/journal.txt" >&2
  fi
  if [ -n "$nspawn_pid" ] && running "$nspawn_pid"; then
    kill -TERM "$nspawn_pid" 2>/dev/null || true  # nspawn halts the container in order
    wait_for 30 stopped "$nspawn_pid" || kill -KILL "$nspawn_pid" 2>/dev/null || true
  fi
  kill_cgroups
  [ -z "$host_systemd" ] || systemctl stop "tarvion-service-test-$$.scope" 2>/dev/null || true
  wait 2>/dev/null || true
  remove_cgroups
  [ -z "$made_nspawn_dir" ] || rmdir /run/systemd/nspawn 2>/dev/null || true
  if [ -n "$keep" ]; then echo "test-service: kept $work" >&2; else rm -rf "$work"; fi
  echo "test-service: $([ "$status" -eq 0 ] && echo done || echo failed) in $SECONDS s, the container halted and removed"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

# A cgroup of the run's own in every hierarchy that has our process, for
# nspawn's groups beside it (a host without systemd only).
make_cgroups() {
  local name=tarvion-service-test.$$ v2 v1 own group
  v2=$(findmnt -n -t cgroup2 -o TARGET | head -n 1)
  own=$(sed -n 's/^0:://p' /proc/self/cgroup)
  cgroups+=("$v2${own%/}/$name")
  v1=$(findmnt -n -o TARGET /sys/fs/cgroup/systemd 2>/dev/null || true)
  if [ -n "$v1" ]; then
    own=$(sed -n 's/^[0-9]*:name=systemd://p' /proc/self/cgroup)
    cgroups+=("$v1${own%/}/$name")
  fi
  for group in "${cgroups[@]}"; do mkdir "$group"; done
}

# systemd-nspawn with what this machine needs (see the head), in the
# background; its PID in nspawn_pid. Its output goes to the file $1.
start_nspawn() {
  local log=$1
  shift
  if [ -n "$host_systemd" ]; then
    systemd-run --quiet --scope --property=Delegate=yes --unit="tarvion-service-test-$$" \
      systemd-nspawn --quiet --keep-unit --register=no --system-call-filter=bpf "$@" >"$log" 2>&1 &
  else
    (
      for group in "${cgroups[@]}"; do echo "$BASHPID" >"$group/cgroup.procs"; done
      export SYSTEMD_NSPAWN_UNIFIED_HIERARCHY=1
      exec unshare --mount --propagation private bash -c '
        if [ "$(stat -f -c %T /run)" != tmpfs ]; then
          mkdir -p /run/systemd/nspawn && mount -t tmpfs -o mode=0755 tmpfs /run/systemd/nspawn
        fi
        exec systemd-nspawn --quiet --register=no --keep-unit --system-call-filter=bpf "$@"' nspawn "$@"
    ) >"$log" 2>&1 &
  fi
  nspawn_pid=$!
}

# Waits for nspawn to end by itself; its exit status.
wait_nspawn() {
  local status=0
  wait "$nspawn_pid" || status=$?
  nspawn_pid=""
  return "$status"
}

# A command in the booted container, as root, with a clean environment.
in_container() {
  nsenter --target "$leader" --all --root --wd env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"
}
save_journal() { in_container journalctl --no-pager -o short-precise >"$work/journal.txt" 2>&1 || true; }
# ... as another user, with the umask that user's program would have.
as_user() {
  local user=$1 mask=$2
  shift 2
  in_container runuser -u "$user" -- sh -c 'umask "$0"; exec "$@"' "$mask" "$@"
}

if [ -z "$host_systemd" ]; then
  make_cgroups
  [ -d /run/systemd/nspawn ] || made_nspawn_dir=1  # made in the mount namespace, removed at the end
fi

# --- The package ---
if [ -z "$deb" ]; then
  "$repo/scripts/package.sh" --out "$work/package"
  deb=$(ls "$work"/package/tarvion_*.deb)
fi
[ -f "$deb" ] || fail "no package $deb"
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
deb_version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)

# --- The cached root file system: Debian 12 with systemd, and the
# package's dependencies (fetched again only when they change) ---
mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
if [ "$(cat "$root.base" 2>/dev/null)" != "$(debian_root_command "$suite" "$mirror")" ]; then
  say "making the Debian $suite root file system in $root (debootstrap from $mirror)"
fi
make_debian_root "$root" "$suite" "$mirror" "$work/debootstrap.log" ||
  { tail -n 30 "$work/debootstrap.log" >&2; fail "debootstrap failed (log above)"; }
if [ "$(cat "$root.depends" 2>/dev/null)" != "$depends" ]; then
  say "installing the package's dependencies into $root"
  start_nspawn "$work/depends.log" --directory="$root" --machine="$machine" --as-pid2 \
    env DEBIAN_FRONTEND=noninteractive sh -c 'apt-get update -q && apt-get satisfy -y -q --no-install-recommends "$1" && apt-get clean' \
    sh "$depends"
  wait_nspawn || { tail -n 30 "$work/depends.log" >&2; fail "the dependencies could not be installed (log above)"; }
  echo "$depends" >"$root.depends"
fi
flock -s 9  # others may boot it too, nobody changes it meanwhile
say "root file system: $root ($(du -sh "$root" | cut -f 1))"

# --- Boot ---
start_nspawn "$work/console.log" --directory="$root" --volatile=overlay --boot --private-network \
  --machine="$machine" --link-journal=no --console=read-only --bind-ro="$deb:/root/tarvion.deb"
container_init() {
  running "$nspawn_pid" || return 2
  leader=$(pgrep -P "$nspawn_pid" -x systemd | head -n 1)
  [ -n "$leader" ]
}
wait_for 30 container_init || { cat "$work/console.log" >&2; fail "the container's systemd did not start"; }
manager_listens() { in_container test -S /run/systemd/private; }
wait_for 30 manager_listens || { cat "$work/console.log" >&2; fail "the container's systemd does not listen"; }
booted=$(in_container timeout 90 systemctl is-system-running --wait 2>&1 || true)
case "$booted" in
  running) ;;
  degraded) say "booted degraded: $(in_container systemctl --failed --plain --no-legend | cut -d ' ' -f 1 | xargs)" ;;
  *) cat "$work/console.log" >&2; fail "the container did not boot: $booted" ;;
esac
say "booted Debian $(in_container cat /etc/debian_version) with $(in_container systemctl --version | head -n 1)"

# --- Install, as an administrator would ---
in_container env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends /root/tarvion.deb \
  >"$work/apt.log" 2>&1 || { tail -n 30 "$work/apt.log" >&2; fail "apt-get install failed (log above)"; }
[ "$(in_container dpkg-query -W -f '${Version}' tarvion)" = "$deb_version" ] || fail "tarvion $deb_version is not installed"
if grep -Eq '^Get:[0-9]+ [a-z]+://' "$work/apt.log"; then fail "apt-get fetched packages: the cache lacks a dependency"; fi
say "ok: apt-get installed tarvion $deb_version from the package alone"

# The unit as the package ships it, before any drop-in of this test.
in_container systemd-analyze security --no-pager tarvion >"$work/security.txt" 2>&1 ||
  { cat "$work/security.txt" >&2; fail "systemd-analyze security failed"; }
exposure=$(sed -n 's/.*Overall exposure level for tarvion.service: \([0-9.]*\).*/\1/p' "$work/security.txt")
[ -n "$exposure" ] || { cat "$work/security.txt" >&2; fail "no exposure in systemd-analyze security's answer"; }
say "systemd-analyze security tarvion: $(grep -o 'Overall exposure level.*' "$work/security.txt")"
awk -v e="$exposure" 'BEGIN { exit !(e <= 1.0) }' || { cat "$work/security.txt" >&2; fail "exposure $exposure is above 1.0"; }

# Two users: alice runs the other program (in the group tarvion), bob does not.
in_container useradd --create-home --groups tarvion alice
in_container useradd --create-home bob

# A simulated terminal as root, a unit of its own: simulate UNIT LINK
# OPTION...; its pseudo-terminal (pty) root:dialout 0660 like a serial port
# of Debian's.
simulate() {
  local unit=$1 link=$2
  shift 2
  in_container systemd-run --quiet --unit="$unit" --property=RuntimeDirectory="$unit" \
    /usr/bin/orveta-sim --link "$link" "$@"
  link_made() { in_container test -L "$link"; }
  wait_for 20 link_made || fail "$unit made no link $link"
  pty=$(in_container readlink "$link")
  in_container chown root:dialout "$pty"
  in_container chmod 0660 "$pty"
}
simulate orveta-sim /run/orveta-sim/com1 --terminal 1:master

# The INI file by hand, as its comments say: [Porty] with COM1.
in_container sed -i -e 's/^;\[Porty\]/[Porty]/' -e 's#^;COM1=.*#COM1=/run/orveta-sim/com1#' /etc/tarvion/tarvion.ini
in_container grep -qx 'COM1=/run/orveta-sim/com1' /etc/tarvion/tarvion.ini || fail "COM1 is not set in the INI file"

# A denied system call kills the program in this test instead of failing
# with EPERM, so that a call the program needs and the filter denies shows.
in_container mkdir -p /etc/systemd/system/tarvion.service.d
printf '[Service]\nSystemCallErrorNumber=\n' | in_container tee /etc/systemd/system/tarvion.service.d/kill.conf >/dev/null
in_container systemctl daemon-reload

start() { in_container systemctl start tarvion || fail "systemctl start tarvion failed"; }
stop() { in_container systemctl stop tarvion || fail "systemctl stop tarvion failed"; }
status_text() { in_container systemctl show --property=StatusText --value tarvion; }
main_pid() { in_container systemctl show --property=MainPID --value tarvion; }
file_text() { in_container cat "/var/lib/tarvion/$1" | tr -d '\r'; }
last_logged() { in_container tail -n 1 /var/lib/tarvion/errorlog.txt | tr -d '\r' | cut -c 23-; }
# The journal's last entry, whatever it is: the entries of the unit from
# there on are "journalctl --cursor" (journalctl 252 with --after-cursor and
# a filter the entry does not match skips the first entry that does).
cursor() { in_container journalctl --show-cursor -n 1 -q -o cat | sed -n 's/^-- cursor: //p'; }
unit_journal() {  # unit_journal CURSOR [OPTION...]
  local from=$1
  shift
  in_container journalctl -u tarvion --cursor="$from" --no-pager -q "$@" || true
}

# --- A normal start ---
from=$(cursor)
in_container systemctl enable --now tarvion 2>"$work/enable.txt" ||
  { cat "$work/enable.txt" >&2; fail "systemctl enable --now tarvion failed"; }
[ "$(status_text)" = "T1 master, T2 off, T3 off, T4 off" ] || fail "status line '$(status_text)'"
say "ok: enable --now: active, status \"$(status_text)\""
unit_journal "$from" -p warning >"$work/warnings.txt"
[ ! -s "$work/warnings.txt" ] || { cat "$work/warnings.txt" >&2; fail "warnings in the journal at a normal start"; }
unit_journal "$from" -o cat >"$work/start.txt"
if grep -q XDG_RUNTIME_DIR "$work/start.txt"; then fail "the journal mentions XDG_RUNTIME_DIR"; fi
in_container test -f /run/tarvion/Tarvionprogram.lock || fail "no lock in the runtime directory"
in_container test ! -e /tmp/Tarvionprogram.lock || fail "a lock in the shared /tmp"
[ "$(in_container stat -c '%a %U %G' /var/lib/tarvion)" = "2770 tarvion tarvion" ] ||
  fail "/var/lib/tarvion is $(in_container stat -c '%a %U %G' /var/lib/tarvion)"
# Qt and fontconfig read their settings from the home: not the start
# directory, which the group may write.
homes=$(in_container sh -c 'tr "\0" "\n" <"/proc/$1/environ" | grep -E "^(HOME|XDG_CONFIG_HOME|XDG_CACHE_HOME)=" | sort' \
  sh "$(main_pid)" | xargs)
[ "$homes" = "HOME=/var/cache/tarvion XDG_CACHE_HOME=/var/cache/tarvion XDG_CONFIG_HOME=/var/cache/tarvion/config" ] ||
  fail "the service's home: $homes"
[ "$(in_container stat -c '%a %U %G' /var/cache/tarvion)" = "700 tarvion tarvion" ] ||
  fail "/var/cache/tarvion is $(in_container stat -c '%a %U %G' /var/cache/tarvion)"
say "ok: no warning in the journal; the lock in /run/tarvion; /var/lib/tarvion 2770 tarvion:tarvion;" \
  "HOME and XDG_* in /var/cache/tarvion 700 tarvion:tarvion"
# Each error-log line reaches the journal with the fields of what it is about.
unit_journal "$from" TARVION_TERMINAL=1 -o cat >"$work/terminal1.txt"
grep -q "TERM 1 MASTER" "$work/terminal1.txt" || { cat "$work/terminal1.txt" >&2; fail "no TARVION_TERMINAL=1 entry"; }
fields=$(unit_journal "$from" TARVION_TERMINAL=1 -o export | grep -E '^(TARVION_PORT|TARVION_EVENT|PRIORITY)=' | sort -u | xargs)
case "$fields" in
  *"TARVION_EVENT=link"*"TARVION_PORT=COM1"*) ;;
  *) fail "the journal fields of TERM 1 MASTER: $fields" ;;
esac
say "ok: journalctl -u tarvion TARVION_TERMINAL=1 shows \"TERM 1 MASTER\" ($fields)"

# DevicePolicy=closed: a process in the service's control group cannot open
# a device the unit does not name (root outside it can).
in_container sh -c 'exec 3<>/dev/net/tun' || fail "root cannot open /dev/net/tun in the container at all"
group=$(in_container systemctl show --property=ControlGroup --value tarvion)
if in_container sh -c 'echo $$ >"/sys/fs/cgroup$1/cgroup.procs" && exec 3<>/dev/net/tun' sh "$group" \
    2>"$work/device.txt"; then
  fail "a process of the service opened /dev/net/tun"
fi
grep -q 'Operation not permitted' "$work/device.txt" || { cat "$work/device.txt" >&2; fail "no device policy refusal"; }
say "ok: DevicePolicy=closed: /dev/net/tun refused to the service's control group"

# The priority: the request watcher lowers its thread one step (setpriority
# passes the filter); the exchange's nice -10 needs RLIMIT_NICE 30.
pid=$(main_pid)
nice_of() { in_container sh -c 'sed "s/^.*) //" "$1/stat" | cut -d " " -f 17' sh "$1"; }
thread_nices() { for task in $(in_container sh -c 'echo /proc/$1/task/*' sh "$pid"); do nice_of "$task"; done; }
watcher_lowered() { grep -qx 1 <<<"$(thread_nices)"; }
wait_for 5 watcher_lowered || fail "no thread at nice 1: setpriority fails under the unit ($(thread_nices | xargs))"
nice_limit=$(in_container sh -c 'sed -n "s/^Max nice priority *\([0-9]*\) .*/\1/p" /proc/$1/limits' sh "$pid")
if [ "$nice_limit" = 30 ]; then
  check_exchange_nice=1
  say "ok: a thread at nice 1; RLIMIT_NICE 30 (LimitNICE=-10)"
else
  check_exchange_nice=""
  say "ok: a thread at nice 1; the exchange's nice -10 not checked here: RLIMIT_NICE is $nice_limit" \
    "(the container's init has $(in_container sed -n 's/^Max nice priority *\([0-9]*\) .*/\1/p' /proc/1/limits)" \
    "and raising it needs CAP_SYS_RESOURCE)"
fi

# --- The group tarvion is the one way in ---
person='Q0001K0010000A11111**11111**0000***0000***A2A2A**A2A2A**NOVAK JAN     0 00150'
expected='Q00014B303031A11111**11111**0000***0000***A2A2A**A2A2A**'
printf '%s\nP\n' "$person" | as_user alice 027 tarvion-request --dir /var/lib/tarvion --term 1 --timeout 60 \
  >"$work/alice.out" 2>"$work/alice.err" || { cat "$work/alice.err" >&2; fail "alice's request failed"; }
[ "$(cat "$work/alice.out")" = "$expected" ] || { cat "$work/alice.out" >&2; fail "alice got no '$expected'"; }
[ "$(cat "$work/alice.err")" = "2,1" ] || { cat "$work/alice.err" >&2; fail "alice's status is not 2,1"; }
[ "$(as_user alice 027 cat /var/lib/tarvion/output.txt | tr -d '\r')" = "$expected" ] || fail "alice cannot read output.txt"
say "ok: alice (group tarvion, umask 027) handed in a request and read its output"
status=0
echo S | as_user bob 022 tarvion-request --dir /var/lib/tarvion --term 1 --timeout 10 >/dev/null 2>"$work/bob.err" ||
  status=$?
[ "$status" -eq 4 ] && grep -q 'Permission denied' "$work/bob.err" ||
  { cat "$work/bob.err" >&2; fail "bob's request was not refused (status $status)"; }
if as_user bob 022 cat /var/lib/tarvion/output.txt >/dev/null 2>&1; then fail "bob can read output.txt"; fi
say "ok: bob (not in the group) can neither hand in a request nor read output.txt"

# --- A job of 200 lines, in the background ---
for ((i = 1; i <= 200; i++)); do
  printf 'Q%04dK0010000A11111**11111**0000***0000***A2A2A**A2A2A**NOVAK JAN     0 00150\n' "$i"
done >"$work/job200"
job_runs() { [ "$(file_text rudazo.sta)" = "1,0" ]; }
start_job() {
  job_start=$(date +%s)
  as_user alice 027 tarvion-request --dir /var/lib/tarvion --term 1 --timeout 120 - <"$work/job200" \
    >"$work/job.out" 2>"$work/job.err" &
  job_pid=$!
  background+=("$job_pid")
  wait_for 30 job_runs || fail "the 200-line job did not start"
  sleep 1.5  # a few lines into it
}
job_status() {
  local status=0
  wait_for 30 stopped "$job_pid" || fail "tarvion-request still waits"
  wait "$job_pid" || status=$?
  echo "$status"
}

# --- systemctl stop in the middle of it ---
start_job
if [ -n "$check_exchange_nice" ]; then
  [ "$(nice_of "/proc/$pid")" = -10 ] || fail "the main thread is at nice $(nice_of "/proc/$pid") during the job"
  say "ok: nice -10 during the exchange"
fi
began=$(date +%s%N)
stop
took_ms=$((($(date +%s%N) - began) / 1000000))
[ "$took_ms" -lt 5000 ] || fail "systemctl stop took $took_ms ms"
pair=$(file_text rudazo.sta)
job_exit=$(job_status)
[ "$(tail -n 1 "$work/job.err")" = "$pair" ] || { cat "$work/job.err" >&2; fail "tarvion-request saw no '$pair'"; }
[[ "$pair" =~ ^[0-9]+,[0-9]+$ ]] && [ "$pair" != "1,0" ] || fail "status after the stop: '$pair'"
[ "$(in_container stat -c %Y /var/lib/tarvion/output.txt)" -ge "$job_start" ] || fail "output.txt was not written"
[ "$(last_logged)" = "Stop programu" ] || fail "the error log ends with '$(last_logged)', not 'Stop programu'"
say "ok: systemctl stop during the job: $took_ms ms, status $pair (tarvion-request: $job_exit), output written, \"Stop programu\" last"

# --- SIGKILL in the middle of it: Restart=on-failure ---
start
[ "$(status_text)" = "T1 master, T2 off, T3 off, T4 off" ] || fail "status line after the start: '$(status_text)'"
start_job
pid=$(main_pid)
restarts=$(in_container systemctl show --property=NRestarts --value tarvion)
in_container systemctl kill --signal=KILL tarvion
gone() { [ "$(main_pid)" != "$pid" ]; }
wait_for 10 gone || fail "tarvion still runs after SIGKILL"
# A pseudo-terminal keeps its exclusive flag after its holder was killed (a
# serial port drops it at its last close): cleared as root, as the port's
# release would.
in_container perl -MFcntl -e 'sysopen(my $f, $ARGV[0], O_RDWR | O_NOCTTY | O_NONBLOCK) or die "$ARGV[0]: $!\n";
  ioctl($f, 0x540D, 0) or die "TIOCNXCL: $!\n"' "$pty"
restarted() {
  in_container systemctl is-active -q tarvion &&
    [ "$(in_container systemctl show --property=NRestarts --value tarvion)" = $((restarts + 1)) ]
}
wait_for 30 restarted || fail "tarvion was not restarted ($(in_container systemctl is-active tarvion || true))"
[ "$(file_text rudazo.sta)" = "-1,-1" ] || fail "rudazo.sta after the restart: '$(file_text rudazo.sta)'"
in_container test -f /var/lib/tarvion/request.cfg.nedokonceno || fail "the interrupted request was not kept"
job_exit=$(job_status)
[ "$job_exit" = 2 ] && [ "$(tail -n 1 "$work/job.err")" = "-1,-1" ] ||
  { cat "$work/job.err" >&2; fail "tarvion-request ended with $job_exit"; }
case "$(status_text)" in
  "T1 master, T2 off, T3 off, T4 off; last job "*": -1,-1") ;;
  *) fail "status line after the restart: '$(status_text)'" ;;
esac
say "ok: SIGKILL: restarted, request.cfg.nedokonceno kept, -1,-1 written, status \"$(status_text)\""

# --- A hand-edited INI file with a bad value: the capacity 0x7FFFFFFF ---
stop
in_container sed -i 's/^\(Cfg_binary=.\{32\}\)C4090000/\1FFFFFF7F/' /etc/tarvion/tarvion.ini
in_container grep -q '^Cfg_binary=.\{32\}FFFFFF7F' /etc/tarvion/tarvion.ini || fail "the capacity was not edited"
from=$(cursor)
in_container systemctl start tarvion || fail "tarvion does not start with the edited INI file"
used='Tarvion: INI Cfg_binary, Kapacita: uložená hodnota 2147483647 je mimo rozsah 0 až 131072, použita hodnota 131072'
said_used() {  # journald takes the stream's lines a moment later
  unit_journal "$from" -p warning -o cat >"$work/edited.txt"
  grep -qxF "$used" "$work/edited.txt"
}
if ! wait_for 10 said_used; then
  unit_journal "$from" -o verbose >&2
  fail "the journal does not say at warning priority which capacity was used"
fi
say "ok: the edited INI file: active, the journal says \"${used#Tarvion: }\""

# --- A noisy line: the start-up ends and the service reports ready ---
stop
noisy=/run/orveta-noise/com1
in_container tarvion-config set "COM1=$noisy" >/dev/null
simulate orveta-noise "$noisy" --terminal 1:slave --noise-ms 50
began=$(date +%s%N)
# Ready within seconds: a listening period ends at its bound.
in_container timeout 10 systemctl start tarvion ||
  fail "tarvion did not report ready within 10 s on a noisy line: '$(status_text)'"
took_ms=$((($(date +%s%N) - began) / 1000000))
# The slave may answer its link test between the noise, or not.
noisy_status=$(status_text)
case "$noisy_status" in
  "T1 slave, "* | "T1 not connected, "*) ;;
  *) fail "status line on a noisy line: '$noisy_status'" ;;
esac
began=$(date +%s%N)
stop
stop_ms=$((($(date +%s%N) - began) / 1000000))
[ "$stop_ms" -lt 5000 ] || fail "systemctl stop on a noisy line took $stop_ms ms"
[ "$(last_logged)" = "Stop programu" ] || fail "the error log ends with '$(last_logged)', not 'Stop programu'"
in_container systemctl stop orveta-noise
say "ok: a noisy line (a byte every 50 ms, no poll): ready in $took_ms ms, \"${noisy_status%%,*}\", stopped in $stop_ms ms"

# --- The generator: the unit waits for the INI file's device, within a bound ---
# A container has no device units, since its /sys is read-only: its /sys
# (a tmpfs; the sysfs below it stays read-only) is made writable, with udev
# masked, so that systemd waits for a device as at a boot, where no udev
# ever announces this one. The re-execution runs the generators again.
late=/dev/ttyLATE1
late_unit=dev-ttyLATE1.device
in_container tarvion-config set "COM1=$late" >/dev/null
in_container systemctl mask --runtime --quiet systemd-udevd.service systemd-udevd-control.socket \
  systemd-udevd-kernel.socket systemd-udev-trigger.service
[ "$(in_container stat -f -c %T /sys)" = tmpfs ] || fail "the container's /sys is no tmpfs: it is left read-only"
in_container mount -o remount,rw /sys || fail "the container's /sys cannot be made writable"
in_container systemctl daemon-reexec
wait_for 30 manager_listens || fail "the container's systemd does not listen after its re-execution"
drop_in=/run/systemd/generator/tarvion.service.d/tarvion-devices.conf
in_container grep -qx "Wants=$late_unit" "$drop_in" && in_container grep -qx "After=$late_unit" "$drop_in" ||
  { in_container cat "$drop_in" >&2; fail "the generator's drop-in names no $late_unit"; }
bound=$(in_container systemctl show --property=JobRunningTimeoutUSec --value "$late_unit")
[ "$bound" = 15s ] || fail "the wait for $late_unit is bounded by '$bound', not 15s"
say "ok: tarvion-generator: Wants= and After=$late_unit, the wait bounded by $bound"

# --- A device that appears after the start: taken up without a restart ---
from=$(cursor)
began=$(date +%s%N)
start
took_ms=$((($(date +%s%N) - began) / 1000000))
[ "$took_ms" -lt 20000 ] || fail "the start without $late took $took_ms ms, more than the bound of 15 s and the start-up"
in_container journalctl -u "$late_unit" --cursor="$from" -q -o cat >"$work/late-device.txt" || true
grep -q "^Timed out waiting for device" "$work/late-device.txt" || fail "systemd did not wait for $late_unit"
case "$(status_text)" in
  "T1 port not open, T2 off, T3 off, T4 off"*) ;;
  *) fail "status line without $late: '$(status_text)'" ;;
esac
pid=$(main_pid)
simulate orveta-late "$late" --terminal 1:slave
slave_found() { case "$(status_text)" in "T1 slave, "*) ;; *) return 1 ;; esac; }
wait_for 30 slave_found || fail "$late was not taken up within 30 s: status '$(status_text)'"
printf '%s\nP\n' "$person" | as_user alice 027 tarvion-request --dir /var/lib/tarvion --term 1 --timeout 60 \
  >"$work/late.out" 2>"$work/late.err" || { cat "$work/late.err" >&2; fail "the request to the late device failed"; }
[ "$(cat "$work/late.out")" = "$expected" ] && [ "$(cat "$work/late.err")" = "2,1" ] ||
  { cat "$work/late.out" "$work/late.err" >&2; fail "the late device's answer is not '$expected' with 2,1"; }
[ "$(main_pid)" = "$pid" ] || fail "tarvion was restarted meanwhile"
say "ok: started after the wait for $late timed out ($took_ms ms, \"T1 port not open\"), took it up when it" \
  "appeared, answered 2,1 without a restart"

stop
save_journal
say "PASS: the hardened unit under systemd (exposure $exposure)"
