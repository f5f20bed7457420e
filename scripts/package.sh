#!/usr/bin/env bash
# Builds the Debian package from a copy of this tree in a temporary folder
# (dpkg-buildpackage -b -us -uc), checks it with lintian (no error, no
# warning), checks that its version, the CMake project's and the unpacked
# `tarvion --version` agree, and runs the unpacked programs: orveta-sim as
# terminal 1, tarvion headless with --config on the package's own INI file
# and a capture, and tarvion-request handing in one person and reading it
# back with P; where tshark is installed, the package's dissector sits in
# its folder for every user's Lua plugins and reads the capture. The
# package is never installed. The .deb ends up in build/package/ (or DIR);
# --keep leaves the temporary folder (build log, lintian's report, the
# unpacked tree and the files of the run) for a look.
#
# Usage: scripts/package.sh [--out DIR] [--keep]
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
out_dir=$repo/build/package
keep=""
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out_dir=${2:?--out needs a DIR}; shift 2 ;;
    --out=*) out_dir=${1#--out=}; shift ;;
    --keep) keep=1; shift ;;
    -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package.sh: unknown argument '$1'" >&2; exit 2 ;;
  esac
done

. "$repo/scripts/lib/processes.sh"

work=$(mktemp -d)
pids=()
finish() {
  local pid
  for pid in "${pids[@]}"; do
    if running "$pid"; then kill -TERM "$pid" 2>/dev/null || true; fi
  done
  for pid in "${pids[@]}"; do wait_for 10 stopped "$pid" || kill -KILL "$pid" 2>/dev/null || true; done
  if [ -n "$keep" ]; then echo "package.sh: kept $work" >&2; else rm -rf "$work"; fi
}
trap finish EXIT

fail() {
  echo "package.sh: FAIL: $*" >&2
  exit 1
}
show() {  # the files named, for a failure's context
  local file
  for file in "$@"; do
    [ -e "$file" ] || continue
    echo "--- $file" >&2
    tr -d '\r' <"$file" | tail -n 40 >&2
  done
}

cmake_version=$(sed -n 's/^project(Tarvion VERSION \([0-9.]*\).*/\1/p' "$repo/CMakeLists.txt")
[ -n "$cmake_version" ] || fail "no project(Tarvion VERSION ...) in CMakeLists.txt"
deb_version=$(dpkg-parsechangelog -l "$repo/debian/changelog" -S Version)
upstream=${deb_version#*:}
upstream=${upstream%-*}
[ "$upstream" = "$cmake_version" ] ||
  fail "debian/changelog is at $deb_version, the CMake project at $cmake_version"

# --- Build from a copy: tracked and new files, nothing that git ignores ---
source_dir=$work/tarvion-$cmake_version
mkdir "$source_dir"
(cd "$repo" && git ls-files -z --cached --others --exclude-standard |
  tar --null --files-from=- --ignore-failed-read -cf - 2>/dev/null) | tar -xf - -C "$source_dir"
echo "package.sh: building tarvion $deb_version in $work"
if ! (cd "$source_dir" && DEB_BUILD_OPTIONS="nocheck noddebs parallel=2" dpkg-buildpackage -b -us -uc) \
    >"$work/build.log" 2>&1; then
  tail -n 60 "$work/build.log" >&2
  fail "dpkg-buildpackage failed (log above)"
fi
arch=$(dpkg --print-architecture)
deb=$work/tarvion_${deb_version#*:}_$arch.deb
changes=$work/tarvion_${deb_version#*:}_$arch.changes
[ -f "$deb" ] || fail "no $(basename "$deb") after the build"
[ "$(dpkg-deb -f "$deb" Version)" = "$deb_version" ] || fail "the package's version is not $deb_version"

# --- lintian: no error and no warning (overrides carry their reasons) ---
if ! lintian --fail-on error,warning --display-info "$changes" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log" >&2
  fail "lintian reports errors or warnings"
fi
echo "package.sh: lintian: no error, no warning ($(grep -c '^I: ' "$work/lintian.log" || true) info tags)"

# --- The unpacked package, never installed ---
root=$work/root
dpkg-deb -x "$deb" "$root"
# Units, sysusers and udev rules sit in /lib or /usr/lib, as debhelper puts them.
dissector=usr/lib/$(dpkg-architecture -qDEB_HOST_MULTIARCH)/wireshark/plugins/tarvion.lua
for file in "$dissector" usr/bin/tarvion usr/bin/orveta-sim usr/bin/tarvion-scan usr/bin/tarvion-request usr/bin/tarvion-config \
            etc/tarvion/tarvion.ini usr/share/tarvion/help/Tarvion.html usr/share/applications/tarvion.desktop \
            usr/share/icons/hicolor/scalable/apps/tarvion.svg lib/systemd/system/tarvion.service \
            lib/systemd/system-generators/tarvion-generator lib/modules-load.d/tarvion.conf \
            lib/sysusers.d/tarvion.conf lib/udev/rules.d/99-tarvion-serial.rules \
            usr/share/man/man1/tarvion.1.gz usr/share/man/man1/orveta-sim.1.gz \
            usr/share/man/man1/tarvion-scan.1.gz usr/share/man/man1/tarvion-request.1.gz \
            usr/share/man/man1/tarvion-config.1.gz usr/share/man/man5/tarvion-files.5.gz \
            usr/share/man/man5/tarvion.ini.5.gz usr/share/man/man8/tarvion.8.gz; do
  case "$file" in
    lib/*) [ -e "$root/$file" ] || [ -e "$root/usr/$file" ] || fail "the package has no /$file or /usr/$file" ;;
    *) [ -e "$root/$file" ] || fail "the package has no /$file" ;;
  esac
done
dpkg-deb -I "$deb" conffiles | grep -qx /etc/tarvion/tarvion.ini || fail "/etc/tarvion/tarvion.ini is no conffile"
# The unit as systemd reads it (pointed at the unpacked program), and the
# user the package makes, tried on a root of its own.
in_lib() { if [ -e "$root/lib/$1" ]; then echo "$root/lib/$1"; else echo "$root/usr/lib/$1"; fi; }
[ -x "$(in_lib systemd/system-generators/tarvion-generator)" ] || fail "tarvion-generator is not executable"
unit=$(in_lib systemd/system/tarvion.service)
sysusers=$(in_lib sysusers.d/tarvion.conf)
if command -v systemd-analyze >/dev/null; then
  mkdir "$work/unit"
  sed "s#/usr/bin/tarvion#$root/usr/bin/tarvion#" "$unit" >"$work/unit/tarvion.service"
  MANPATH=$root/usr/share/man systemd-analyze verify "$work/unit/tarvion.service" ||
    fail "systemd-analyze verify finds fault with tarvion.service"
fi
if command -v systemd-sysusers >/dev/null; then
  mkdir -p "$work/users/etc"
  printf 'root:x:0:0:root:/root:/bin/sh\n' >"$work/users/etc/passwd"
  printf 'root:x:0:\ndialout:x:20:\n' >"$work/users/etc/group"
  systemd-sysusers --root="$work/users" "$sysusers" >/dev/null 2>&1 || fail "systemd-sysusers refuses tarvion.conf"
  grep -q '^tarvion:x:[0-9]*:[0-9]*:[^:]*:/var/lib/tarvion:' "$work/users/etc/passwd" || fail "no user tarvion"
  grep -qx 'dialout:x:20:tarvion' "$work/users/etc/group" || fail "the user tarvion is not in dialout"
fi

program_version=$("$root/usr/bin/tarvion" --version)
[ "$program_version" = "Tarvion $cmake_version" ] ||
  fail "the unpacked tarvion says '$program_version', not 'Tarvion $cmake_version'"

# The service's layout in the unpacked tree: the start directory, and the
# package's INI file with the simulated line as COM1, set by the package's
# tarvion-config (its comments stay).
start_dir=$root/var/lib/tarvion
ini=$root/etc/tarvion/tarvion.ini
mkdir -p "$start_dir" "$work/runtime"
chmod 700 "$work/runtime"
comments=$(grep -c '^;' "$ini")
"$root/usr/bin/tarvion-config" --config "$ini" set "COM1=$work/line" >"$work/config.out" 2>&1 ||
  { show "$work/config.out"; fail "tarvion-config could not set COM1"; }
[ "$(grep -c '^;' "$ini")" = "$comments" ] || fail "tarvion-config lost comments of the INI file"
"$root/usr/bin/tarvion-config" --config "$ini" show | grep -qx "COM1=$work/line  *the device of COM1" ||
  fail "tarvion-config does not show the COM1 it set"
[ "$("$root/usr/bin/tarvion-config" --config "$ini" devices)" = "$work/line" ] ||
  fail "tarvion-config devices does not list the COM1 of terminal 1 alone"

"$root/usr/bin/orveta-sim" --link "$work/line" --terminal 1:master >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
sim_ready() { running "${pids[0]}" && grep -q '^ready ' "$work/sim.out"; }
wait_for 30 sim_ready || { show "$work/sim.err"; fail "orveta-sim is not ready"; }

(cd "$start_dir" && exec env -u DISPLAY -u WAYLAND_DISPLAY -u NOTIFY_SOCKET -u JOURNAL_STREAM \
  QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" \
  "$root/usr/bin/tarvion" --config "$ini" --capture "$work/line.pcapng") >"$work/tarvion.out" 2>"$work/tarvion.err" &
pids+=($!)
tarvion_pid=${pids[1]}
master_found() { running "$tarvion_pid" && grep -q 'TERM 1 MASTER' "$start_dir/errorlog.txt" 2>/dev/null; }
wait_for 30 master_found || { show "$work/tarvion.err" "$start_dir/errorlog.txt"; fail "tarvion found no master"; }

person='Q0001K0010000A11111**11111**0000***0000***A2A2A**A2A2A**NOVAK JAN     0 00150'
expected='Q00014B303031A11111**11111**0000***0000***A2A2A**A2A2A**'
status=0
printf '%s\r\nP\r\n' "$person" |
  "$root/usr/bin/tarvion-request" --dir "$start_dir" --term 1 --timeout 60 >"$work/request.out" 2>"$work/request.err" ||
  status=$?
[ "$status" -eq 0 ] || { show "$work/request.err" "$start_dir/errorlog.txt"; fail "tarvion-request ended with $status"; }
[ "$(cat "$work/request.out")" = "$expected" ] || { show "$work/request.out"; fail "tarvion-request printed no '$expected'"; }
[ "$(cat "$work/request.err")" = "2,1" ] || { show "$work/request.err"; fail "the request's status is not 2,1"; }
[ "$(cat "$start_dir/output.txt")" = "$expected"$'\r' ] || { show "$start_dir/output.txt"; fail "output.txt is wrong"; }
[ "$(cat "$start_dir/rudazo.sta")" = $'2,1\r' ] || fail "rudazo.sta is not 2,1"

kill -TERM "$tarvion_pid"
wait_for 30 stopped "$tarvion_pid" || fail "tarvion still runs 30 s after SIGTERM"
tarvion_status=0
wait "$tarvion_pid" || tarvion_status=$?
[ "$tarvion_status" -eq 0 ] || { show "$work/tarvion.err"; fail "tarvion ended with $tarvion_status"; }
[ "$(tail -n 1 "$start_dir/errorlog.txt" | tr -d '\r' | cut -c 23-)" = "Stop programu" ] ||
  fail "tarvion did not end in order"

# The dissector where Wireshark looks for every user's Lua plugins, and the
# capture of the run through it: the person's frame, named.
if command -v tshark >/dev/null; then
  plugins=$(tshark -G folders 2>/dev/null | sed -n 's/^Global Lua Plugins:[[:space:]]*//p')
  [ "$plugins/tarvion.lua" = "/$dissector" ] || fail "Wireshark's Lua plugins are in $plugins, the dissector in /$dissector"
  frames=$(tshark -X lua_script:"$root/$dissector" -r "$work/line.pcapng" -Y 'tarvion.person.name == "NOVAK JAN"' \
    2>"$work/tshark.err" | wc -l)
  [ "$frames" -eq 1 ] || { show "$work/tshark.err"; fail "tshark finds $frames frames of the person in the capture, not 1"; }
fi

mkdir -p "$out_dir"
cp "$deb" "$out_dir/"
echo "package.sh: PASS: $out_dir/$(basename "$deb"): lintian clean, version $deb_version, a request ran and was captured"
