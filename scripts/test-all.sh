#!/usr/bin/env bash
# Installs what is missing, builds everything in build/ and runs all tests;
# then the tests again with AddressSanitizer and UndefinedBehaviorSanitizer
# (scripts/test-sanitizers.sh) and every fuzz target for 30 s
# (scripts/fuzz.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build

# The sanitizer and fuzz builds go on meanwhile, at the lowest priority, so
# that the timed tests keep their pace; their output is shown if they fail,
# and they are stopped when a test fails.
side_log=$(mktemp)
setsid -w nice -n 19 bash -c 'scripts/test-sanitizers.sh --build-only && scripts/fuzz.sh --build-only' \
  >"$side_log" 2>&1 &
side_builds=$!  # leads its own process group, so that all of it can be stopped
trap 'kill -- -"$side_builds" 2>/dev/null || true; rm -f "$side_log"' EXIT

(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure)

if ! wait "$side_builds"; then
  cat "$side_log"
  echo "the sanitizer or fuzz build failed" >&2
  exit 1
fi
scripts/test-sanitizers.sh
scripts/fuzz.sh 30
