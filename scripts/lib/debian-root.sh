# The cached Debian root file system of the service tests. Source it:
# . scripts/lib/debian-root.sh
# scripts/test-service.sh boots it in a container, scripts/test-vm.sh makes
# its VM from it; both recognise it by the debootstrap command in ROOT.base.

# The settings both tests share, from their defaults and the options:
# cache, mirror, suite, deb, keep and can_run_only; --help prints SCRIPT's
# head.
parse_root_test_options() {  # parse_root_test_options SCRIPT ARG...
  local script=$1
  shift
  cache=/var/cache/tarvion-service-test
  mirror=http://deb.debian.org/debian
  suite=bookworm
  deb=""
  keep=""
  can_run_only=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --deb) deb=${2:?--deb needs a FILE}; shift 2 ;;
      --cache) cache=${2:?--cache needs a DIR}; shift 2 ;;
      --mirror) mirror=${2:?--mirror needs a URL}; shift 2 ;;
      --keep) keep=1; shift ;;
      --can-run) can_run_only=1; shift ;;
      -h | --help) sed -n '2,/^set -euo/p' "$script" | sed -e '$d' -e 's/^# \{0,1\}//'; exit 0 ;;
      *) echo "$(basename "$script"): unknown argument '$1'" >&2; exit 2 ;;
    esac
  done
}

# What stands in the way of running here (REASON, empty for nothing): with
# --can-run it is printed and the script exits 1, or exits 0 when nothing
# does; otherwise a reason ends the test with it.
settle_can_run() {  # settle_can_run SCRIPT REASON
  if [ -n "$can_run_only" ]; then
    [ -z "$2" ] || { echo "$2"; exit 1; }
    exit 0
  fi
  [ -z "$2" ] || { echo "$(basename "$1"): cannot run here: $2" >&2; exit 1; }
}

# The debootstrap command of the root, as ROOT.base holds it.
debian_root_command() {  # debian_root_command SUITE MIRROR
  echo "debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus $1 $2"
}

# Makes ROOT by debootstrap unless it is there from the same command; the
# caller holds the cache's lock. Its log in LOG; false when it failed.
make_debian_root() {  # make_debian_root ROOT SUITE MIRROR LOG
  local root=$1 suite=$2 mirror=$3 log=$4 command
  command=$(debian_root_command "$suite" "$mirror")
  [ ! -d "$root" ] || [ "$(cat "$root.base" 2>/dev/null)" != "$command" ] || return 0
  rm -rf "$root" "$root.new" "$root.base" "$root.depends"
  debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus "$suite" "$root.new" "$mirror" >"$log" 2>&1 ||
    return 1
  mv "$root.new" "$root"
  echo "$command" >"$root.base"
}

# A command run in the root DIR by chroot, with /proc, /sys and /dev of the
# host mounted in a mount namespace of its own, as root with a clean
# environment.
in_chroot() {  # in_chroot DIR COMMAND [ARG...]
  unshare --mount --propagation private sh -c '
    dir=$1; shift
    mount -t proc proc "$dir/proc" && mount --rbind /sys "$dir/sys" && mount --rbind /dev "$dir/dev" &&
      exec chroot "$dir" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"' \
    in_chroot "$@"
}
