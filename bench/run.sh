#!/usr/bin/env bash
# fcloak against the floor of its work and against its peers, on a random
# file of MiB mebibytes (default 1024) in a temporary directory:
#
#   bash bench/run.sh [MiB]
#
# Every command runs RUNS times (default 5), taking turns, each after a sync
# of the file system. The table gives each command's median wall time, the
# spread (fastest and slowest run) and the ratio to the floor's median:
#   floor    the same reads, writes and syncs as fcloak, with no transform:
#            dd bs=32k conv=fsync to a scratch file and back, then rm
#   cp       the kernel's copy there and back, then rm (no sync)
#   peers    openssl enc -aes-128-ctr and ccrypt, each way (no sync)
# Then fcloak's peak memory on that file and on a 1 MiB file, and the micro
# benchmark of the transform and of the table build (bench/transform_bench).
#
# Environment: RUNS (5); FCLOAK_BENCH_BUILD, the build directory (default
# build-bench); TMPDIR, where the file goes (the disk being measured).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
mib=${1:-1024}
runs=${RUNS:-5}
build=${FCLOAK_BENCH_BUILD:-$root/build-bench}
case $mib in '' | *[!0-9]* | 0) echo "usage: bash bench/run.sh [MiB]" >&2; exit 2 ;; esac
if [ "$mib" -gt 2047 ]; then echo "fcloak takes files below 2 GiB: at most 2047 MiB" >&2; exit 2; fi

. "$root/tools/deps.sh"
fcloak_need libbenchmark-dev time
# The peers are measured where they are installed; as root, they are.
if [ "$(id -u)" = 0 ]; then
  for p in openssl ccrypt; do
    command -v $p >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $p >/dev/null 2>&1 || true
  done
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFCLOAK_BENCH=ON -DFCLOAK_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fcloak transform_bench >/dev/null
fcloak=$build/fcloak
micro=$build/bench/transform_bench

dir=$(mktemp -d "${TMPDIR:-/tmp}/fcloak-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT
cd "$dir"
password='////////////////'  # every draw count 16: the longest table build
file=data.bin
echo "making $mib MiB of random data in $dir ..."
head -c $((mib << 20)) /dev/urandom > $file
before=$(md5sum < $file)
size=$(stat -c %s $file)

declare -A seconds=()
names=()
peak=0

# measure NAME COMMAND...: one timed run, after a sync.
measure() {
  local name=$1
  shift
  sync
  local start=$EPOCHREALTIME
  "$@"
  local end=$EPOCHREALTIME
  [ -n "${seconds[$name]+set}" ] || names+=("$name")
  seconds[$name]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') "
}

floor() {
  dd if=$file of=scratch.bin bs=32k conv=fsync status=none
  dd if=scratch.bin of=$file bs=32k conv=fsync status=none
  rm scratch.bin
}

kernel_copy() {
  cp $file scratch.bin
  cp scratch.bin $file
  rm scratch.bin
}

# run_fcloak SIGN EXPECTED_SIZE: one run, its peak memory kept.
run_fcloak() {
  /usr/bin/time -f %M -o rss.txt "$fcloak" $file "$password" "$1" > console.txt
  local kib
  kib=$(tail -n 1 rss.txt)
  if [ "$kib" -gt "$peak" ]; then peak=$kib; fi
  if [ "$(stat -c %s $file)" != "$2" ]; then
    echo "fcloak $1 left $(stat -c %s $file) bytes, not $2" >&2
    exit 1
  fi
}

have_openssl=false
command -v openssl >/dev/null 2>&1 && have_openssl=true
have_ccrypt=false
command -v ccrypt >/dev/null 2>&1 && have_ccrypt=true

for ((round = 1; round <= runs; round++)); do
  echo "round $round of $runs ..."
  measure "floor: dd bs=32k conv=fsync, there and back" floor
  measure "cp, there and back" kernel_copy
  measure "fcloak FILE PW +" run_fcloak + $((size + 19))
  measure "fcloak FILE PW -" run_fcloak - "$size"
  if $have_openssl; then
    measure "openssl enc -aes-128-ctr -e" openssl enc -aes-128-ctr -pbkdf2 -pass pass:"$password" -in $file -out other.bin
    mv other.bin $file
    measure "openssl enc -aes-128-ctr -d" openssl enc -d -aes-128-ctr -pbkdf2 -pass pass:"$password" -in $file -out other.bin
    mv other.bin $file
  fi
  if $have_ccrypt; then
    measure "ccrypt -e (in place)" ccrypt -e -f -K "$password" $file
    measure "ccrypt -d (in place)" ccrypt -d -f -K "$password" $file.cpt
  fi
done

if [ "$(md5sum < $file)" != "$before" ]; then
  echo "the file did not come back as it was" >&2
  exit 1
fi

# Median, fastest and slowest of a list of seconds.
stats() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END {
  m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'; }

floor_median=$(stats <<< "${seconds["floor: dd bs=32k conv=fsync, there and back"]}" | cut -d' ' -f1)
echo
echo "$mib MiB, $runs runs each, $(nproc) cores, $(df -T . | awk 'NR == 2 { print $2 }') in ${TMPDIR:-/tmp}"
printf '%-46s %9s %19s %9s\n' command "median s" "spread (min-max) s" "x floor"
verdicts=()
for name in "${names[@]}"; do
  read -r median low high < <(stats <<< "${seconds[$name]}")
  ratio=$(awk -v m="$median" -v f="$floor_median" 'BEGIN { printf "%.3f", m / f }')
  printf '%-46s %9s %19s %9s\n' "$name" "$median" "$low-$high" "$ratio"
  case $name in
    fcloak*) verdicts+=("$(awk -v r="$ratio" -v n="$name" 'BEGIN { printf "%s %s: %.3f x floor (target <= 1.15)", r <= 1.15 ? "PASS" : "FAIL", n, r }')") ;;
  esac
done

# Peak memory, here and on a small file: it must not grow with the size.
big_peak=$peak
head -c $((1 << 20)) /dev/urandom > $file
peak=0
run_fcloak + $(((1 << 20) + 19))
run_fcloak - $((1 << 20))
echo
echo "fcloak peak memory (maximum resident set): $big_peak KiB on $mib MiB, $peak KiB on 1 MiB"
verdicts+=("$(awk -v b="$big_peak" -v s="$peak" 'BEGIN { printf "%s peak memory %d KiB (target < 4096 KiB, not growing: %+d KiB over 1 MiB)", b < 4096 && b - s < 512 ? "PASS" : "FAIL", b, b - s }')")

echo
echo "micro benchmark ($micro, medians of 5, per core):"
"$micro" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null > micro.csv
# name,iterations,real_time,cpu_time,time_unit,bytes_per_second,...
awk -F, '$1 ~ /_median"$/ {
  name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
  if ($6 != "") printf "  %-40s %7.2f GB/s\n", name, $6 / 1e9
  else printf "  %-40s %7.2f ms (wall %.2f ms)\n", name, $4, $3
}' micro.csv
verdicts+=("$(awk -F, '$1 ~ /^"transform_block\/(en|de)crypt_median"$/ { n++; if ($6 / 1e9 < 5) bad++; if (min == "" || $6 < min) min = $6 }
  END { printf "%s transform_block: slower direction %.2f GB/s (target >= 5)", n == 2 && !bad ? "PASS" : "FAIL", min / 1e9 }' micro.csv)")
verdicts+=("$(awk -F, '$1 ~ /^"key_setup_and_worst_tables_median"$/ { ms = $4 }
  END { printf "%s key setup + worst table build: %.2f ms (target <= 15)", ms != "" && ms <= 15 ? "PASS" : "FAIL", ms }' micro.csv)")

echo
printf '%s\n' "${verdicts[@]}"
