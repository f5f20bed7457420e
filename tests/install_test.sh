#!/usr/bin/env bash
# cmake --install honours the prefix and puts the program, the simulator, the
# field tools, the help, the alert rules, the desktop entry and the icon where
# a Linux desktop looks for them, the manual pages in share/man/man1, man5 and man8 and the
# site INI file in etc/tarvion.
set -euo pipefail
build_dir=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build_dir" --prefix "$prefix" > /dev/null
for file in bin/tarvion bin/orveta-sim bin/tarvion-scan bin/tarvion-request bin/tarvion-config \
            share/tarvion/help/Tarvion.html share/tarvion/prometheus/tarvion-alerts.yml \
            share/applications/tarvion.desktop share/icons/hicolor/scalable/apps/tarvion.svg \
            share/man/man1/tarvion.1 share/man/man1/orveta-sim.1 share/man/man1/tarvion-scan.1 \
            share/man/man1/tarvion-request.1 share/man/man1/tarvion-config.1 share/man/man5/tarvion-files.5 \
            share/man/man5/tarvion.ini.5 share/man/man8/tarvion.8 etc/tarvion/tarvion.ini; do
  if [ ! -e "$prefix/$file" ]; then
    echo "missing after install: $file" >&2
    exit 1
  fi
done
for program in tarvion tarvion-scan tarvion-request tarvion-config; do
  [ -x "$prefix/bin/$program" ] || { echo "bin/$program is not executable" >&2; exit 1; }
done
grep -q '^Exec=tarvion --start-dir "~/Tarvion"$' "$prefix/share/applications/tarvion.desktop"
grep -q '^Icon=tarvion$' "$prefix/share/applications/tarvion.desktop"
grep -q '^\.TH TARVION 1 .*"Tarvion [0-9.]*"' "$prefix/share/man/man1/tarvion.1"
echo "installed tree complete under a custom prefix"
