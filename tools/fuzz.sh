#!/usr/bin/env bash
# Builds the libFuzzer harnesses of fuzz/ with clang++ under AddressSanitizer
# and UndefinedBehaviorSanitizer and runs each for a bounded time.
#   tools/fuzz.sh [SECONDS]     each harness SECONDS long (default 60)
# FCLOAK_FUZZ_BUILD names the build directory (default build-fuzz; the
# harnesses are in its fuzz/ directory). Each harness starts from its
# checked-in seeds in fuzz/corpus/<name>/ and keeps what it finds in the
# build directory, never in fuzz/corpus. A harness that finds a fault stops
# at once; its input is kept as artifacts-<name>/crash-* (or leak-*,
# timeout-*) in the build directory and the script fails. At the end it
# prints each harness's runs, speed and coverage.
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

seconds=${1:-60}
case "$seconds" in
  '' | *[!0-9]*) echo "usage: tools/fuzz.sh [SECONDS]" >&2; exit 2 ;;
esac
build=${FCLOAK_FUZZ_BUILD:-build-fuzz}
harnesses=(decrypt cmdline console)
# The longest input of each: a body longer than one 32768-byte block, a long
# command line, lines well past the 132-byte console line buffer.
declare -A max_len=([decrypt]=70000 [cmdline]=8192 [console]=1024)

# clang and the runtime of its version (libFuzzer and the sanitizers).
fcloak_need clang
clang_major=$(clang++ --version | sed -n 's/.*clang version \([0-9][0-9]*\).*/\1/p' | head -n 1)
if [ -z "$clang_major" ]; then
  echo "fuzz.sh: cannot tell the version of clang++" >&2
  exit 1
fi
if ! echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
  clang++ -x c++ -fsanitize=fuzzer,address,undefined -o /dev/null - 2>/dev/null; then
  fcloak_need "libclang-rt-$clang_major-dev"
fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFCLOAK_WERROR=ON -DCMAKE_CXX_COMPILER=clang++ \
  -DFCLOAK_FUZZ=ON -DFCLOAK_TESTS=OFF >/dev/null
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2
cmake --build "$build" -j"$jobs" --target "${harnesses[@]/#/fuzz_}"

summary=()
failed=0
for h in "${harnesses[@]}"; do
  corpus="$build/corpus-$h"
  mkdir -p "$corpus" "$build/artifacts-$h"
  log="$build/fuzz-$h.log"
  echo "== fuzz_$h: $seconds s"
  status=0
  # One process, no forks: the time bound holds for the whole run.
  "$build/fuzz/fuzz_$h" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 -max_len="${max_len[$h]}" \
    -print_final_stats=1 -artifact_prefix="$build/artifacts-$h/" "$corpus" "fuzz/corpus/$h" \
    >"$log" 2>&1 || status=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -n 1 || true)
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(echo "$done_line" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
  ft=$(echo "$done_line" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
  corp=$(echo "$done_line" | sed -n 's/.*corp: \([0-9]*\).*/\1/p')
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "fuzz_$h FAILED (status $status); the end of its log ($log):" >&2
    tail -n 40 "$log" >&2
    summary+=("fuzz_$h: FAILED (status $status): $log; the input, if any, in $build/artifacts-$h/")
  else
    echo "$done_line"
    summary+=("fuzz_$h: ${runs:-?} runs in $seconds s (${speed:-?} exec/s), cov: ${cov:-?} ft: ${ft:-?} corpus: ${corp:-?}")
  fi
done

echo
echo "Fuzzing summary:"
printf '  %s\n' "${summary[@]}"
exit "$failed"
