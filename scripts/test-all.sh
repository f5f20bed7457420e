#!/usr/bin/env bash
# Installs what is missing, builds everything in build/ and runs all tests;
# then builds the Debian package and checks it (scripts/package.sh: lintian,
# the versions, a request run by the unpacked programs); then its service
# under systemd in a Debian 12 container (scripts/test-service.sh), where the
# machine can run one, or one line why not; then the tests again
# with AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/test-sanitizers.sh) and every fuzz target for 30 s
# (scripts/fuzz.sh). One stage after the other: the tests that time the link
# need the processor to themselves (a build beside them, even at the lowest
# priority, has made an acknowledgement miss its 80 ms).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure)
scripts/package.sh
if reason=$(scripts/test-service.sh --can-run); then
  scripts/test-service.sh --deb "build/package/tarvion_$(dpkg-parsechangelog -S Version)_$(dpkg --print-architecture).deb"
else
  echo "test-service: skipped: $reason"
fi
if reason=$(scripts/test-vm.sh --can-run); then
  scripts/test-vm.sh --deb "build/package/tarvion_$(dpkg-parsechangelog -S Version)_$(dpkg --print-architecture).deb"
else
  echo "test-vm: skipped: $reason"
fi
scripts/test-sanitizers.sh
scripts/fuzz.sh 30
