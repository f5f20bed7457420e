#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with AddressSanitizer and
# UndefinedBehaviorSanitizer) in build-fuzz/ and runs each for SECONDS
# (default 30), all at once, from a copy of its seed corpus in fuzz/corpus/
# (the repository's corpus stays as it is). A finding prints the end of its
# log, keeps the input in build-fuzz/findings/ and fails the script.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DTARVION_FUZZ=ON \
  >/dev/null
cmake --build build-fuzz --target fuzz_targets

seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_encode_command fuzz_answer_decode fuzz_config fuzz_request_file)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run_target() {
  local target=$1 dir="$work/$1"
  mkdir -p "$dir/corpus" build-fuzz/findings
  cp -R "fuzz/corpus/$target/." "$dir/corpus/"
  if "build-fuzz/fuzz/$target" "$dir/corpus" -max_total_time="$seconds" -timeout=10 \
      -artifact_prefix="$dir/" -print_final_stats=1 >"$dir/log" 2>&1; then
    local runs
    runs=$(grep -o 'number_of_executed_units: *[0-9]*' "$dir/log" | grep -o '[0-9]*$')
    echo "$target: $runs inputs in $seconds s, no finding"
    return 0
  fi
  tail -n 60 "$dir/log"
  cp "$dir"/crash-* "$dir"/leak-* "$dir"/timeout-* "$dir"/oom-* build-fuzz/findings/ 2>/dev/null || true
  echo "$target: FINDING, input kept in build-fuzz/findings/"
  return 1
}

failed=0
pids=()
for target in "${targets[@]}"; do
  run_target "$target" &
  pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
exit "$failed"
