#!/usr/bin/env bash
# Installs every Debian package that building, testing and running Tarvion needs.
# Safe to run again: apt-get only installs what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev
  qt6-base-dev qt6-svg-dev
  socat xvfb xauth
  # The desktop test (scripts/desktop-test.sh): a window manager, a tray host,
  # key and click sending, the X property tools and Debian's Python with its
  # X library, and the screen grabber.
  openbox trayer xdotool x11-utils python3-xlib imagemagick
  # The sanitizer build and the fuzz targets: clang, its sanitizer and libFuzzer
  # runtimes (only recommended by clang, so named here), llvm-symbolizer for
  # readable reports.
  clang libclang-rt-14-dev llvm
  # The service's readiness and status for systemd (sd_notify).
  libsystemd-dev
  # The Debian package (scripts/package.sh): Debian's build tools and lintian.
  debhelper dpkg-dev fakeroot lintian
  # The service under a real systemd (scripts/test-service.sh): a Debian root
  # file system made from the mirror, booted in a container.
  debootstrap systemd-container
  # Real serial drivers in a booted Debian VM (scripts/test-vm.sh): QEMU with
  # its emulated USB adapter and UART, the image made by mkfs.ext4 -d, Python
  # for QEMU's monitor and guest agent.
  qemu-system-x86 e2fsprogs python3
  # The metrics: Prometheus' rule checker (promtool) for the shipped alert
  # rules, and node_exporter, whose textfile collector serves the metrics file
  # in the process test.
  prometheus prometheus-node-exporter
  # The capture test: Wireshark's command-line reader, with its Lua support,
  # reads a capture of the program through the shipped dissector.
  tshark
)

if [ "$(id -u)" -eq 0 ]; then
  sudo=""
else
  sudo="sudo"
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi
