#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer in
# build-asan/ and runs the tests there. Built with clang, unoptimised with
# line tables: that builds in a fraction of the time gcc or -O2 take with the
# sanitizers, and the tests, which mostly wait on pseudo-terminals and
# processes, run as fast. Any report fails its test: ASan stops by itself,
# UBSan is told to. The fault, load and field-tool tests (label "timing") are
# left out: they time real processes against each other, and the load test
# checks the resident size, which the sanitizers' shadow memory and quarantine
# inflate. So is the desktop test (label "desktop"): what it checks is the
# window on a desktop, which the plain build shows as well. The other tests
# that start processes (label "process") run, on the sanitized programs.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-asan -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="-O0 -gline-tables-only" \
  -DTARVION_SANITIZE=ON >/dev/null
cmake --build build-asan

cd build-asan
QT_QPA_PLATFORM=offscreen UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -LE "timing|desktop"
