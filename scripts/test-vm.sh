#!/usr/bin/env bash
# The service with real serial drivers: a Debian 12 VM booted by QEMU (TCG),
# with an emulated FTDI USB adapter (usb-serial on an xHCI controller, driver
# ftdi_sio) that is plugged in and out while the guest runs (device_add and
# device_del on QEMU's monitor), and a 16550 UART (isa-serial, driver 8250).
# The host side of each is a pseudo-terminal where orveta-sim plays a master
# terminal: T1 on the adapter (COM1=/dev/ttyUSB0), T2 on the UART
# (COM2=/dev/ttyS1). Commands run in the guest through its guest agent
# (scripts/lib/qemu_control.py).
#
# Two boots of the same image:
#  - the adapter plugged in after the service started: the first request
#    afterwards answered without a restart, the status line says T1's state;
#  - the adapter there from power-on: the service's first request answered
#    without a restart; unplugged between jobs: the log and the status line
#    say so within a periodic check; plugged in again: the same name, the
#    next request answered; unplugged in the middle of a job: the job ends as
#    a device failure (the commands acknowledged before, no data), nothing
#    is sent twice nor after the plug-in; a request through the 8250 driver
#    and the udev rule's rx_trig_bytes; then, the service stopped, the line
#    check (tarvion-scan --check) of both lines, and no echo of the
#    terminal's polls when it opens them (the simulators' logs).
# A failed check ends its scenario; the others still run, and the run fails.
#
# The image: the Debian root file system of scripts/test-service.sh (made by
# debootstrap in CACHE if it is not there), copied once to CACHE/vm-SUITE-ARCH
# with linux-image-amd64, udev, qemu-guest-agent and the package's
# dependencies installed by chroot; each run installs the package into an
# overlay of it and makes an ext4 image of that (mkfs.ext4 -d), booted with
# -kernel and -initrd, the image itself left unchanged (snapshot=on).
#
# Usage: scripts/test-vm.sh [--deb FILE] [--cache DIR] [--mirror URL] [--keep]
#        scripts/test-vm.sh --can-run   (why not, in one line, exit 1)
# Without --deb it builds the package first (scripts/package.sh). --keep
# leaves the run's folder (consoles, journals, logs, traces) for a look.
# Not KVM: on the CI machine /dev/kvm is missing, and a nested KVM boot has
# hung where it was there; TCG boots to the service in about 30 s, the whole
# run takes about 3 minutes once the VM's root is cached.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
. "$repo/scripts/lib/debian-root.sh"
parse_root_test_options "$0" "$@"

. "$repo/scripts/lib/processes.sh"
control="$repo/scripts/lib/qemu_control.py"

# --- Can this machine run the VM at all? ---
why_not() {
  local command error
  [ "$(id -u)" -eq 0 ] || { echo "not root"; return; }
  for command in qemu-system-x86_64 debootstrap mkfs.ext4 python3 unshare chroot; do
    command -v "$command" >/dev/null || { echo "no $command (scripts/install-deps.sh installs it)"; return; }
  done
  qemu-system-x86_64 -accel help 2>/dev/null | grep -qx tcg || { echo "this QEMU has no TCG"; return; }
  if ! error=$(unshare --mount sh -c 'mount -t tmpfs tmpfs /mnt' 2>&1); then
    echo "no mount namespace with mounts here: ${error:-unshare failed}"
    return
  fi
  [ -e /dev/ptmx ] || { echo "no pseudo-terminals (/dev/ptmx)"; return; }
}
settle_can_run "$0" "$(why_not)"

work=$(mktemp -d /tmp/tarvion-vm-test.XXXXXX)
chmod 755 "$work"
arch=$(dpkg --print-architecture)
root=$cache/$suite-$arch
vm_root=$cache/vm-$suite-$arch
qemu_pid=""
sims=()
boot_name=""

say() { echo "test-vm: $*"; }
fail() {
  echo "test-vm: FAIL${boot_name:+ ($boot_name)}: $*" >&2
  exit 1
}

# --- Cleaning up, also after a failed check ---
stop_sims() {
  local pid
  for pid in "${sims[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${sims[@]}"; do wait_for 5 stopped "$pid" || kill -KILL "$pid" 2>/dev/null || true; done
  sims=()
}
stop_qemu() {
  [ -n "$qemu_pid" ] || return 0
  if running "$qemu_pid"; then
    kill -TERM "$qemu_pid" 2>/dev/null || true
    wait_for 10 stopped "$qemu_pid" || kill -KILL "$qemu_pid" 2>/dev/null || true
  fi
  wait "$qemu_pid" 2>/dev/null || true
  qemu_pid=""
}
finish() {
  local status=$?
  if [ "$status" -ne 0 ] && [ -n "$qemu_pid" ] && running "$qemu_pid"; then
    collect "failed" || true
    grep -v ' qemu-ga\[' "$work/$boot_name-failed.journal" | tail -n 40 >&2 || true  # the agent logs each call
  fi
  stop_sims
  stop_qemu
  if [ -n "$keep" ] || [ "$status" -ne 0 ]; then echo "test-vm: kept $work" >&2; else rm -rf "$work"; fi
  echo "test-vm: $([ "$status" -eq 0 ] && echo done || echo failed) in $SECONDS s"
  exit "$status"
}
trap finish EXIT
trap 'exit 130' INT TERM

# --- The package ---
if [ -z "$deb" ]; then
  "$repo/scripts/package.sh" --out "$work/package"
  deb=$(ls "$work"/package/tarvion_*.deb)
fi
[ -f "$deb" ] || fail "no package $deb"
deb=$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")
depends=$(dpkg-deb -f "$deb" Depends)

# --- The cached roots: Debian's, and the VM's made from it ---
# The VM's initramfs holds only what finds and mounts its root; modules no
# test uses (graphics, sound, radio, network cards, ...) are left out of
# the image.
vm_packages="linux-image-amd64 udev qemu-guest-agent"
unused_modules="drivers/gpu drivers/media drivers/net drivers/infiniband drivers/staging drivers/isdn
  drivers/bluetooth drivers/iio drivers/scsi drivers/md drivers/input/touchscreen drivers/hid sound net/wireless
  net/mac80211 net/bluetooth fs/btrfs fs/xfs fs/ocfs2 fs/nfs fs/ceph fs/smb"
make_vm_root() {
  local new=$vm_root.new kernel
  rm -rf "$new" "$vm_root" "$vm_root.depends"
  cp -a "$root" "$new"
  mkdir -p "$new/etc/initramfs-tools/conf.d"
  printf 'MODULES=list\n' >"$new/etc/initramfs-tools/conf.d/tarvion-vm"
  printf 'virtio_pci\nvirtio_blk\next4\n' >>"$new/etc/initramfs-tools/modules"
  in_chroot "$new" sh -c 'apt-get update -q && apt-get install -y -q --no-install-recommends $1 && apt-get clean' \
    sh "$vm_packages" >"$work/vm-root.log" 2>&1 || return 1
  kernel=$(ls "$new/lib/modules")
  (cd "$new/lib/modules/$kernel/kernel" && rm -rf $unused_modules)
  in_chroot "$new" depmod "$kernel"
  mv "$new" "$vm_root"
}
# The package's dependencies, fetched again only when they change.
install_depends() {
  in_chroot "$vm_root" sh -c 'apt-get update -q && apt-get satisfy -y -q --no-install-recommends "$1" && apt-get clean' \
    sh "$depends" >"$work/depends.log" 2>&1
}

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
make_debian_root "$root" "$suite" "$mirror" "$work/debootstrap.log" ||
  { tail -n 30 "$work/debootstrap.log" >&2; fail "debootstrap failed (log above)"; }
vm_stamp="$(cat "$root.base")|$vm_packages|$unused_modules"
if [ "$(cat "$vm_root.stamp" 2>/dev/null)" != "$vm_stamp" ]; then
  say "making the VM's root in $vm_root (kernel, udev, guest agent)"
  make_vm_root || { tail -n 30 "$work/vm-root.log" >&2; fail "the VM's root could not be made (log above)"; }
  echo "$vm_stamp" >"$vm_root.stamp"
fi
if [ "$(cat "$vm_root.depends" 2>/dev/null)" != "$depends" ]; then
  say "installing the package's dependencies into $vm_root"
  install_depends || { tail -n 30 "$work/depends.log" >&2; fail "the dependencies could not be installed (log above)"; }
  echo "$depends" >"$vm_root.depends"
fi
flock -s 9  # others may read it too, nobody changes it meanwhile

# --- This run's image: the package installed into an overlay of the VM's
# root, as an administrator would set it up; the kernel and initramfs
# beside it ---
cp "$deb" "$work/tarvion.deb"
cat >"$work/setup.sh" <<'SETUP'
set -e
dpkg -i /tmp/tarvion.deb >/dev/null
rm /tmp/tarvion.deb
tarvion-config --config /etc/tarvion/tarvion.ini set COM1=/dev/ttyUSB0 COM2=/dev/ttyS1 \
  terminal2.address=2 terminal2.port=COM2 terminal2.connected=yes timeout=236 >/dev/null
# The wire trace; a denied system call kills the program instead of failing
# with EPERM, so that a call the filter denies shows.
mkdir -p /etc/systemd/system/tarvion.service.d
cat >/etc/systemd/system/tarvion.service.d/vm-test.conf <<'UNIT'
[Service]
ExecStart=
ExecStart=/usr/bin/tarvion --config /etc/tarvion/tarvion.ini --trace /var/lib/tarvion/trace.log
SystemCallErrorNumber=
UNIT
systemctl enable tarvion 2>/dev/null
# The console is the test's log, nobody logs in there.
systemctl mask serial-getty@ttyS0.service getty@tty1.service 2>/dev/null
echo tarvion-vm >/etc/hostname
systemd-machine-id-setup >/dev/null
SETUP
make_image() {
  mkdir -p "$work/upper" "$work/overlay-work" "$work/root"
  unshare --mount --propagation private sh -c '
    lower=$1 work=$2 root=$2/root
    mount -t overlay overlay -o "lowerdir=$lower,upperdir=$work/upper,workdir=$work/overlay-work" "$root"
    cp "$work/tarvion.deb" "$root/tmp/tarvion.deb"
    (mount -t proc proc "$root/proc" && mount --rbind /dev "$root/dev" &&
      chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 sh <"$work/setup.sh") || exit 1
    umount -R "$root/dev" "$root/proc"
    size=$(du -s -m "$root" | cut -f 1)
    mkfs.ext4 -q -F -L tarvion -d "$root" "$work/disk.img" "$((size * 5 / 4 + 300))M"' \
    make_image "$vm_root" "$work"
}
image_began=$SECONDS
make_image >"$work/image.log" 2>&1 || { tail -n 30 "$work/image.log" >&2; fail "the image could not be made (log above)"; }
kernel=$(ls "$vm_root/lib/modules")
cp "$vm_root/boot/vmlinuz-$kernel" "$work/vmlinuz"
cp "$vm_root/boot/initrd.img-$kernel" "$work/initrd.img"
flock -u 9
rm -rf "$work/upper" "$work/overlay-work" "$work/root"
say "image: tarvion $(dpkg-deb -f "$deb" Version) installed, $(du -h --apparent-size "$work/disk.img" | cut -f 1) ext4," \
  "kernel $kernel ($((SECONDS - image_began)) s)"

# --- QEMU, its monitor and the guest ---
qmp() { python3 "$control" qmp "$work/qmp.sock" "$@"; }
hmp() { qmp human-monitor-command "{\"command-line\": \"$*\"}" >/dev/null; }
# A shell command line in the guest, as root; its output and exit status.
guest() { python3 "$control" run "$work/qga.sock" --timeout "${guest_timeout:-60}" -- /bin/sh -c "$*"; }
pty_of() {  # pty_of LABEL: the host side of a pseudo-terminal chardev
  qmp query-chardev | python3 -c 'import json, sys
for c in json.load(sys.stdin):
    if c["label"] == sys.argv[1]: print(c["filename"].removeprefix("pty:"))' "$1"
}
# orveta-sim on the host side of a line, with its log; waits for "ready".
# The guest runs under emulation (TCG), many times slower than a PC: its
# answer to a poll now and then comes after the 30 ms a terminal waits, the
# terminal polls again, and a command fails for the emulator's pace alone.
# The terminals here wait 150 ms for a frame.
start_sim() {  # start_sim NAME PTY ADDRESS
  orveta="$repo/build/orveta-sim"
  [ -x "$orveta" ] || orveta=$(command -v orveta-sim)
  local out="$work/$boot_name-$1.out"
  "$orveta" --device "$2" --terminal "$3:master" --window-ms 150 --log "$work/$boot_name-$1.log" >"$out" 2>&1 &
  sims+=("$!")
  wait_for 10 grep -q '^ready' "$out" || { cat "$out" >&2; fail "orveta-sim on $2 is not ready"; }
}
boot() {  # boot NAME [QEMU ARGUMENT...]: boots the image, the simulators on both lines
  boot_name=$1
  shift
  rm -f "$work/qmp.sock" "$work/qga.sock"
  qemu-system-x86_64 -accel tcg -m 1024 -smp 1 -nodefaults -no-user-config -display none -no-reboot -S \
    -kernel "$work/vmlinuz" -initrd "$work/initrd.img" -append "root=/dev/vda rw console=ttyS0 quiet" \
    -drive "file=$work/disk.img,format=raw,if=virtio,snapshot=on" \
    -serial "file:$work/$boot_name-console.log" \
    -chardev pty,id=uart -device isa-serial,chardev=uart,index=1 \
    -device qemu-xhci,id=xhci -chardev pty,id=ftdi \
    -device virtio-serial -chardev "socket,id=qga,path=$work/qga.sock,server=on,wait=off" \
    -device virtserialport,chardev=qga,name=org.qemu.guest_agent.0 \
    -qmp "unix:$work/qmp.sock,server=on,wait=off" "$@" >"$work/$boot_name-qemu.log" 2>&1 &
  qemu_pid=$!
  wait_for 10 test -S "$work/qmp.sock" || { cat "$work/$boot_name-qemu.log" >&2; fail "QEMU did not start"; }
  start_sim sim-usb "$(pty_of ftdi)" 1
  start_sim sim-uart "$(pty_of uart)" 2
  boot_began=$SECONDS
  qmp cont >/dev/null
  python3 "$control" ping "$work/qga.sock" 180 || { tail -n 30 "$work/$boot_name-console.log" >&2; fail "no guest agent"; }
  local booted
  booted=$(guest_timeout=120 guest 'systemctl is-system-running --wait' || true)
  say "$boot_name: booted $booted in $((SECONDS - boot_began)) s ($(guest 'uname -r'))"
}
# The journal, the service's files and the kernel's messages of this boot.
collect() {  # collect WHEN
  local to="$work/$boot_name-$1"
  guest 'journalctl -b --no-pager -o short-precise' >"$to.journal" 2>&1 || true
  guest 'cat /var/lib/tarvion/errorlog.txt' 2>/dev/null | iconv -f CP1250 -t UTF-8 | tr -d '\r' >"$to.errorlog" || true
  guest 'cat /var/lib/tarvion/trace.log' >"$to.trace" 2>/dev/null || true
  guest 'ps -eLo pid,tid,stat,wchan:32,comm | grep -e tarvion -e PID' >"$to.ps" 2>/dev/null || true
}
# Where the service's threads wait, and the kernel's latest words, for a
# look at a hang while it lasts.
snapshot() {  # snapshot NAME
  guest 'ps -eLo pid,tid,stat,pri,ni,pcpu,wchan:32,comm | grep -e tarvion -e PID
    for task in /proc/$(pidof tarvion)/task/*; do echo "== $task"; cat "$task/stack"; done
    dmesg | tail -n 20' >"$work/$boot_name-$1.snapshot" 2>&1 || true
}
halt_guest() {
  collect end
  guest 'systemctl poweroff' >/dev/null 2>&1 || true
  wait_for 60 stopped "$qemu_pid" || say "$boot_name: the guest did not power off, QEMU is ended"
  stop_qemu
  stop_sims
}

# --- The service in the guest ---
status_text() { guest 'systemctl show --property=StatusText --value tarvion'; }
main_pid() { guest 'systemctl show --property=MainPID --value tarvion'; }
restarts() { guest 'systemctl show --property=NRestarts --value tarvion'; }
logged() { guest 'cat /var/lib/tarvion/errorlog.txt' | iconv -f CP1250 -t UTF-8 | tr -d '\r'; }
# A request through tarvion-request: its output in $work/request.out, the
# status pair (its last line on standard error) in $pair; its exit status.
request() {  # request TERM TIMEOUT LINE...
  local term=$1 timeout=$2 status=0
  shift 2
  printf '%s\n' "$@" >"$work/request.in"
  python3 "$control" run "$work/qga.sock" --timeout "$((timeout + 10))" --stdin "$work/request.in" -- \
    tarvion-request --dir /var/lib/tarvion --term "$term" --timeout "$timeout" >"$work/request.out" \
    2>"$work/request.err" || status=$?
  pair=$(tail -n 1 "$work/request.err")
  return "$status"
}
# A check of a scenario that failed: said and counted; the scenario ends
# there and the run goes on with the next one.
problems=()
problem() {
  echo "test-vm: FAIL ($boot_name): $*" >&2
  problems+=("$boot_name: $*")
}
# A status request answered: the terminal's clock and text.
status_answered() {  # status_answered TERM WHAT
  if ! request "$1" 30 S; then
    local said
    said=$(head -n -1 "$work/request.err" | xargs)
    problem "$2: the request S to T$1 ended $pair${said:+ (tarvion-request: $said)}"
    return 1
  fi
  grep -q '^S[0-9]\{14\}' "$work/request.out" || { problem "$2: no status line in the output"; return 1; }
}
adapter_plugged() { guest 'test -c /dev/ttyUSB0'; }
adapter_gone() { ! guest 'test -e /dev/ttyUSB0'; }
plug() {
  hmp "device_add usb-serial,chardev=ftdi,id=adapter,bus=xhci.0"
  wait_for 30 adapter_plugged || fail "/dev/ttyUSB0 did not appear after device_add"
  guest 'udevadm settle' || fail "udev did not settle after device_add"  # its group, mode and latency timer
}
unplug() {
  hmp "device_del adapter"
  wait_for 30 adapter_gone || fail "/dev/ttyUSB0 is still there after device_del"
}
status_says() { case "$(status_text)" in *"$1"*) return 0 ;; esac; return 1; }
log_says() { logged | grep -qF "$1"; }
# Frames the terminal received (the simulator's "rx" lines) from line FROM on.
frames_since() { tail -n "+$2" "$work/$boot_name-$1.log" | awk '$2 == "rx"' | cut -d ' ' -f 3-; }
sim_lines() { wc -l <"$work/$boot_name-$1.log"; }

# --- The scenarios ---
# Each one ends at its first failed check (problem); whatever it needs
# of the adapter it makes sure of first.
same_service() { [ "$(main_pid)" = "$1" ] && [ "$(restarts)" = 0 ]; }
plugged_in() { adapter_plugged || plug; }

plugged_after_start() {
  guest 'systemctl is-active -q tarvion' ||
    { problem "tarvion is $(guest 'systemctl is-active tarvion' || true) without its adapter"; return 1; }
  status_says "T1 port not open" || { problem "status line without the adapter: '$(status_text)'"; return 1; }
  say "ok: started without the adapter: \"$(status_text)\""
  local pid latency asked_at
  pid=$(main_pid)
  plug
  latency=$(guest 'cat /sys/bus/usb-serial/devices/ttyUSB0/latency_timer')
  [ "$latency" = 1 ] || { problem "the udev rule did not set latency_timer 1 (it is $latency)"; return 1; }
  say "ok: plugged in: /dev/ttyUSB0 ($(guest 'basename "$(readlink /sys/class/tty/ttyUSB0/device/driver)"'), latency_timer 1)"
  asked_at=$SECONDS
  status_answered 1 "the adapter plugged in after the start" || return 1
  same_service "$pid" || { problem "the service was restarted to take up the adapter"; return 1; }
  status_says "T1 master" || { problem "status line after the first request: '$(status_text)'"; return 1; }
  say "ok: the first request after the plug-in answered ($pair in $((SECONDS - asked_at)) s) without a restart;" \
    "\"$(status_text)\""
}

there_from_power_on() {
  adapter_plugged || { problem "no /dev/ttyUSB0 at power-on"; return 1; }
  local pid
  pid=$(main_pid)
  status_answered 1 "the adapter from power-on" || return 1
  same_service "$pid" || { problem "the service was restarted"; return 1; }
  say "ok: the service's first request answered ($pair) without a restart; \"$(status_text)\""
}

# The periodic check (about every 4 s between jobs) notices the device gone.
unplugged_between_jobs() {
  plugged_in
  local gone_at noticed_ms
  unplug
  gone_at=$(date +%s%N)
  wait_for 15 status_says "T1 port not open" || { problem "status line 15 s after the unplug: '$(status_text)'"; return 1; }
  noticed_ms=$((($(date +%s%N) - gone_at) / 1000000))
  log_says "COM1 chyba zařízení" || { problem "the log does not say 'COM1 chyba zařízení': $(logged | tail -n 3 | xargs)"; return 1; }
  [ "$noticed_ms" -le 6000 ] || { problem "the status line said it $noticed_ms ms after the device was gone"; return 1; }
  say "ok: unplugged between jobs: \"COM1 chyba zařízení\" and \"T1 port not open\" within $noticed_ms ms" \
    "of the device's removal"
  plug
  status_answered 1 "plugged in again" || return 1
  log_says "COM1 otevřen" || { problem "the log does not say 'COM1 otevřen' after the plug-in"; return 1; }
  say "ok: plugged in again: /dev/ttyUSB0 again, the next request answered ($pair), \"COM1 otevřen\""
}

# The adapter pulled while a job of 200 person lines runs.
unplugged_in_a_job() {
  plugged_in
  local i from job pulled_at job_status=0 job_pair acknowledged sent twice after_job failures
  for ((i = 1; i <= 200; i++)); do
    printf 'Q%04dK0010000A11111**11111**0000***0000***A2A2A**A2A2A**NOVAK JAN     0 00150\n' "$i"
  done >"$work/job200"
  from=$(($(sim_lines sim-usb) + 1))
  failures=$(logged | grep -c 'COM1 chyba zařízení' || true)
  job=$(python3 "$control" start "$work/qga.sock" --stdin "$work/job200" -- \
    tarvion-request --dir /var/lib/tarvion --term 1 --timeout 120)
  a_few_sent() { [ "$(frames_since sim-usb "$from" | wc -l)" -ge 6 ]; }
  if ! wait_for 60 a_few_sent; then
    snapshot job-stalled
    problem "the 200-line job stopped after $(frames_since sim-usb "$from" | wc -l) frames (where the service waited:" \
      "$boot_name-job-stalled.snapshot)"
    return 1
  fi
  unplug
  pulled_at=$SECONDS
  python3 "$control" wait "$work/qga.sock" "$job" --timeout 60 >"$work/job.out" 2>"$work/job.err" || job_status=$?
  job_pair=$(tail -n 1 "$work/job.err")
  # The commands acknowledged and no data, as rudazo.sta counts a job whose
  # port failed (the terminal's last acknowledgement may have been on its
  # way when the adapter went); tarvion-request's 1: not all acknowledged.
  acknowledged=$(tail -n "+$from" "$work/$boot_name-sim-usb.log" | awk '$2 == "tx-ack"' | wc -l)
  case "$job_pair" in
    "$acknowledged,0" | "$((acknowledged - 1)),0") [ "$job_status" = 1 ] ;;
    *) false ;;
  esac || { problem "the interrupted job ended $job_pair (tarvion-request: $job_status), $acknowledged acknowledged"; return 1; }
  [ "$(logged | grep -c 'COM1 chyba zařízení')" -gt "$failures" ] ||
    { problem "the log does not say 'COM1 chyba zařízení' after the unplug in the job"; return 1; }
  sent=$(frames_since sim-usb "$from" | wc -l)
  twice=$(frames_since sim-usb "$from" | sort | uniq -d | wc -l)
  [ "$twice" = 0 ] || { problem "$twice frames of the job reached the terminal twice"; return 1; }
  say "ok: unplugged in the middle of a job: it ended $job_pair (tarvion-request: $job_status)" \
    "$((SECONDS - pulled_at)) s after device_del, $sent frames sent, none twice"
  after_job=$(($(sim_lines sim-usb) + 1))
  plug
  # The job's end found the terminal gone: nothing is sent to it until a link
  # test finds it again, which the periodic check makes once the device is back.
  wait_for 15 status_says "T1 master" ||
    { problem "status line 15 s after the plug-in after the job: '$(status_text)'"; return 1; }
  status_answered 1 "plugged in after the interrupted job"
  if frames_since sim-usb "$after_job" | grep -q '^01 2E 58'; then
    problem "frames of the interrupted job were sent after the plug-in"
    return 1
  fi
  say "ok: nothing of the interrupted job sent after the plug-in"
}

# The 16550 UART: a request through the 8250 driver.
through_the_uart() {
  local trigger
  trigger=$(guest 'cat /sys/class/tty/ttyS1/rx_trig_bytes')
  [ "$trigger" = 1 ] || { problem "the udev rule did not set rx_trig_bytes 1 on ttyS1 (it is $trigger)"; return 1; }
  status_answered 2 "the UART" || return 1
  say "ok: the UART ttyS1 ($(guest 'basename "$(readlink /sys/class/tty/ttyS1/device/driver)"')): rx_trig_bytes 1," \
    "a request answered ($pair)"
}

# The line check of a device, the service stopped: its report shown, and
# neither a fault nor another driver than DRIVER.
line_check() {  # line_check DEVICE NAME DRIVER
  local status=0
  guest "tarvion-scan --check $1" >"$work/check-$2.txt" 2>&1 || status=$?
  sed "s/^/  /" "$work/check-$2.txt"
  [ "$status" -le 1 ] || { problem "the line check of $1 found a fault (status $status)"; return 1; }
  grep -q "^driver *ok *$3" "$work/check-$2.txt" || { problem "the line check does not name $3"; return 1; }
  say "ok: the line check of $1: status $status"
}
line_checks() {
  guest 'systemctl stop tarvion' || { problem "systemctl stop tarvion failed"; return 1; }
  plugged_in
  line_check /dev/ttyS1 uart "serial, 16550A UART"
  line_check /dev/ttyUSB0 usb ftdi_sio
}

# Echoes of a terminal's polls (10 04 55 69 read back as ^P U i) the
# terminal received on LINE from line FROM of its log on.
echoes() {  # echoes LINE FROM
  tail -n "+$2" "$work/$boot_name-$1.log" | awk '$2 == "bad"' | grep -o '5E 50 55 69' | wc -l
}
# The first open of a tty after its device appeared (at boot, at a plug-in)
# echoes what comes in while the kernel's open itself runs: ftdi_sio starts
# reading before open() returns, with the tty's first settings (ECHO,
# ICANON); no program can set raw mode earlier. QEMU makes that a burst:
# its adapter hands over at once the polls that waited in the host's
# pseudo-terminal. Said, not judged. Later opens start from the settings the
# last close left (raw): an echo there is a program's.
first_open_echoes() {
  local line
  for line in sim-usb sim-uart; do
    say "note: $line: $(echoes "$line" 1) polls echoed at first opens of the device in this boot"
  done
}
no_echo_since() {  # no_echo_since USB-FROM UART-FROM
  local usb uart
  usb=$(echoes sim-usb "$1")
  uart=$(echoes sim-uart "$2")
  [ "$usb" = 0 ] && [ "$uart" = 0 ] || { problem "polls echoed when the line checks opened the ports: USB $usb, UART $uart"; return 1; }
  say "ok: no echo of a poll when the line checks opened either port"
}

boot late
plugged_after_start || true
first_open_echoes
halt_guest

boot power-on -device usb-serial,chardev=ftdi,id=adapter,bus=xhci.0
there_from_power_on || true
unplugged_between_jobs || true
unplugged_in_a_job || true
through_the_uart || true
usb_from=$(($(sim_lines sim-usb) + 1))
uart_from=$(($(sim_lines sim-uart) + 1))
line_checks || true
no_echo_since "$usb_from" "$uart_from" || true
first_open_echoes
halt_guest

if [ "${#problems[@]}" -gt 0 ]; then
  echo "test-vm: ${#problems[@]} checks failed:" >&2
  printf '  %s\n' "${problems[@]}" >&2
  exit 1
fi
say "PASS: real drivers in a VM: the FTDI adapter plugged in late, from power-on, out and in, and the 16550 UART"
