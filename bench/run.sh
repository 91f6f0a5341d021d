#!/usr/bin/env bash
# fcloak against the floor of its work, on random files of 256 MiB and
# 1 GiB (or of the sizes given, in MiB), on the disk of the temporary
# directory and, as root with mkfs.xfs, on an XFS image mounted through a
# loop device:
#
#   bash bench/run.sh [MiB...]
#
# For each file system and size, RUNS rounds (default 9) run the floor,
# `fcloak FILE PW +` and `fcloak FILE PW -` in turn, each after a sync of
# the file systems. The floor is the same work without the cipher, in place:
#   dd bs=32k conv=fsync to a scratch file, dd bs=32k conv=notrunc,fsync back
#   over the file's own blocks, rm of the scratch file.
# The table gives each median, and fcloak's ratio to the floor's median;
# a second one the spread (fastest and slowest run). Then, on the first size
# given, on the first file system only, the peers as context: cp there and
# back, openssl enc -aes-128-ctr and ccrypt each way (no sync; where
# installed, and as root they are). Then fcloak's peak memory on the largest
# file and on a 1 MiB file, the micro benchmark of the transform and of the
# table build (bench/transform_bench), and a PASS or FAIL line per target.
# A row of many files in one run follows the peers (see there).
#
# Environment: MANY_RUNS (5), the rounds of the many-files row; RUNS (9; a virtual disk's write times vary widely, and the
# median of 9 interleaved rounds holds where that of 5 did not); TMPDIR, the disk measured (default /var/tmp, which
# is rarely in memory); FCLOAK_BENCH_BUILD, the build directory (default
# build-bench). As root the script installs what it lacks (xfsprogs, the
# peers); the XFS image (twice the largest file, and some) goes in TMPDIR
# and is removed with its mount and loop device at the end.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(256 1024)
runs=${RUNS:-9}
build=${FCLOAK_BENCH_BUILD:-$root/build-bench}
base=${TMPDIR:-/var/tmp}
for mib in "${sizes[@]}"; do
  case $mib in '' | *[!0-9]* | 0) echo "usage: bash bench/run.sh [MiB...]" >&2; exit 2 ;; esac
  if [ "$mib" -gt 2047 ]; then echo "fcloak takes files below 2 GiB: at most 2047 MiB" >&2; exit 2; fi
done
case $runs in '' | *[!0-9]* | 0) echo "RUNS must be a positive number" >&2; exit 2 ;; esac
started=$SECONDS

. "$root/tools/deps.sh"
fcloak_need libbenchmark-dev time
# The peers and the XFS tools are used where they are installed; as root,
# they are.
is_root=false
[ "$(id -u)" = 0 ] && is_root=true
if $is_root; then
  for p in openssl ccrypt xfsprogs; do
    dpkg -s $p >/dev/null 2>&1 || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $p >/dev/null 2>&1 || true
  done
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFCLOAK_BENCH=ON -DFCLOAK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target fcloak transform_bench >/dev/null
fcloak=$build/fcloak
micro=$build/bench/transform_bench

work=$(mktemp -d "$base/fcloak-bench.XXXXXX")
loop=""
cleanup() {
  cd /
  if mountpoint -q "$work/xfs" 2>/dev/null; then umount "$work/xfs" || true; fi
  if [ -n "$loop" ]; then losetup -d "$loop" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
password='////////////////'  # every draw count 16: the longest table build

# The file systems measured: the temporary directory's disk, and an XFS
# image on a loop device (direct I/O, so that its data is not cached twice).
fs_dirs=("$work/disk")
fs_names=("$(df -T "$base" | awk 'NR == 2 { print $2 }') ($base)")
mkdir "$work/disk"
xfs_note=""
largest=0
for mib in "${sizes[@]}"; do
  if [ "$mib" -gt "$largest" ]; then largest=$mib; fi
done
if ! $is_root; then
  xfs_note="XFS: not measured (needs root for the loop device)"
elif ! command -v mkfs.xfs >/dev/null 2>&1; then
  xfs_note="XFS: not measured (mkfs.xfs is missing: install xfsprogs)"
else
  mkdir "$work/xfs"
  # Written in full first: a sparse image would make the disk below allocate
  # its blocks in the middle of the runs that first write them, and XFS's
  # times would carry that work at random.
  dd if=/dev/zero of="$work/xfs.img" bs=1M count=$((2 * largest + 512)) conv=fsync status=none
  if mkfs.xfs -q -f -m reflink=1 "$work/xfs.img" >/dev/null 2>&1 &&
    { loop=$(losetup --find --show --direct-io=on "$work/xfs.img" 2>/dev/null) ||
      loop=$(losetup --find --show "$work/xfs.img" 2>/dev/null); } &&
    mount "$loop" "$work/xfs" 2>/dev/null; then
    fs_dirs+=("$work/xfs")
    fs_names+=("xfs (loop image)")
  else
    xfs_note="XFS: not measured (the image could not be made or mounted)"
  fi
fi

declare -A seconds=()
declare -A peaks=()  # fcloak's peak memory on each size, KiB
peak=0

# measure KEY COMMAND...: one timed run, after a sync.
measure() {
  local key=$1
  shift
  sync
  local start=$EPOCHREALTIME
  "$@"
  local end=$EPOCHREALTIME
  seconds[$key]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') "
}

floor() {
  dd if=data.bin of=scratch.bin bs=32k conv=fsync status=none
  dd if=scratch.bin of=data.bin bs=32k conv=notrunc,fsync status=none
  rm scratch.bin
}

kernel_copy() {
  cp data.bin scratch.bin
  cp scratch.bin data.bin
  rm scratch.bin
}

# run_fcloak SIGN EXPECTED_SIZE: one run, its peak memory kept.
run_fcloak() {
  /usr/bin/time -f %M -o "$work/rss.txt" "$fcloak" data.bin "$password" "$1" >"$work/console.txt"
  local kib
  kib=$(tail -n 1 "$work/rss.txt")
  if [ "$kib" -gt "$peak" ]; then peak=$kib; fi
  if [ "$(stat -c %s data.bin)" != "$2" ]; then
    echo "fcloak $1 left $(stat -c %s data.bin) bytes, not $2" >&2
    exit 1
  fi
}

have() { command -v "$1" >/dev/null 2>&1; }

peers() {
  local key=$1
  measure "$key|cp, there and back (no sync)" kernel_copy
  if have openssl; then
    measure "$key|openssl enc -aes-128-ctr -e" openssl enc -aes-128-ctr -pbkdf2 -pass pass:"$password" \
      -in data.bin -out other.bin
    mv other.bin data.bin
    measure "$key|openssl enc -aes-128-ctr -d" openssl enc -d -aes-128-ctr -pbkdf2 -pass pass:"$password" \
      -in data.bin -out other.bin
    mv other.bin data.bin
  fi
  if have ccrypt; then
    measure "$key|ccrypt -e (in place)" ccrypt -e -f -K "$password" data.bin
    measure "$key|ccrypt -d (in place)" ccrypt -d -f -K "$password" data.bin.cpt
  fi
}

rows=()
peer_key=""
for i in "${!fs_dirs[@]}"; do
  cd "${fs_dirs[$i]}"
  for mib in "${sizes[@]}"; do
    key="$i|$mib"
    rows+=("$key")
    echo "${fs_names[$i]}, $mib MiB: $runs rounds ..."
    head -c $((mib << 20)) /dev/urandom >data.bin
    before=$(md5sum <data.bin)
    size=$(stat -c %s data.bin)
    peak=${peaks[$mib]:-0}
    for ((round = 1; round <= runs; round++)); do
      measure "$key|floor" floor
      measure "$key|+" run_fcloak + $((size + 19))
      measure "$key|-" run_fcloak - "$size"
      if [ "$i" = 0 ] && [ "$mib" = "${sizes[0]}" ]; then
        peer_key=$key
        peers "$key"
      fi
    done
    peaks[$mib]=$peak
    if [ "$(md5sum <data.bin)" != "$before" ]; then
      echo "the file did not come back as it was" >&2
      exit 1
    fi
    rm -f data.bin
  done
done
cd "$work"

# Median, fastest and slowest of a list of seconds.
stats() { tr ' ' '\n' | sed '/^$/d' | sort -g | awk '{ v[NR] = $1 } END {
  m = NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
  printf "%.3f %.3f %.3f\n", m, v[1], v[NR] }'; }
median() { stats <<<"${seconds[$1]}" | cut -d' ' -f1; }
ratio() { awk -v m="$1" -v f="$2" 'BEGIN { printf "%.3f", m / f }'; }

verdicts=()
# verdict RATIO LIMIT TEXT
verdict() {
  verdicts+=("$(awk -v r="$1" -v l="$2" -v t="$3" 'BEGIN { printf "%s %s: %.3f x floor (target <= %s)", r <= l ? "PASS" : "FAIL", t, r, l }')")
}

echo
echo "$runs rounds each (floor, fcloak +, fcloak - in turn), $(nproc) cores; medians in seconds"
printf '%-26s %9s %8s %11s %8s %11s %8s\n' "file system" size floor "fcloak +" "x floor" "fcloak -" "x floor"
for key in "${rows[@]}"; do
  i=${key%%|*}
  mib=${key#*|}
  f=$(median "$key|floor")
  e=$(median "$key|+")
  d=$(median "$key|-")
  re=$(ratio "$e" "$f")
  rd=$(ratio "$d" "$f")
  printf '%-26s %5s MiB %8s %11s %8s %11s %8s\n' "${fs_names[$i]}" "$mib" "$f" "$e" "$re" "$d" "$rd"
  # On XFS, decryption's first pass shares the file's extents instead of
  # copying them: nearly free.
  type=${fs_names[$i]%% *}
  verdict "$re" 0.95 "$type $mib MiB, fcloak +"
  verdict "$rd" "$([ "$type" = xfs ] && echo 0.6 || echo 0.95)" "$type $mib MiB, fcloak -"
done
[ -z "$xfs_note" ] || echo "$xfs_note"

echo
echo "spread (fastest-slowest run), seconds"
for key in "${rows[@]}"; do
  i=${key%%|*}
  mib=${key#*|}
  line=$(printf '%-26s %5s MiB' "${fs_names[$i]}" "$mib")
  for what in floor + -; do
    read -r _ low high < <(stats <<<"${seconds[$key|$what]}")
    line+=$(printf '   %s %s-%s' "$what" "$low" "$high")
  done
  echo "$line"
done

if [ -n "$peer_key" ]; then
  i=${peer_key%%|*}
  mib=${peer_key#*|}
  f=$(median "$peer_key|floor")
  echo
  echo "peers, ${fs_names[$i]}, $mib MiB (medians, seconds, x floor)"
  for name in "cp, there and back (no sync)" "openssl enc -aes-128-ctr -e" "openssl enc -aes-128-ctr -d" \
    "ccrypt -e (in place)" "ccrypt -d (in place)"; do
    [ -n "${seconds[$peer_key|$name]+set}" ] || continue
    m=$(median "$peer_key|$name")
    printf '  %-36s %8s %8s\n' "$name" "$m" "$(ratio "$m" "$f")"
  done
fi

# Many files in one run, on the temporary directory's disk: 1000 files of
# 4 KiB and 8 files of 32 MiB, `fcloak -e` then `fcloak -d` over all of them
# in one run each (the password a line of standard input), against a loop of
# single runs (`fcloak FILE PW +`, then `-`) and, for context, `ccrypt -e`
# and `ccrypt -d` on the same files (which syncs nothing). MANY_RUNS
# interleaved rounds (default 5), medians. Skipped, with a SKIP line, by a
# fcloak without -e and -d.
many_runs=${MANY_RUNS:-5}
case $many_runs in '' | *[!0-9]* | 0) echo "MANY_RUNS must be a positive number" >&2; exit 2 ;; esac
many_dir=${fs_dirs[0]}/many
declare -A many_peaks=()  # fcloak -e's peak memory over each set, KiB

# many_fcloak KEY OPTION DIR: one run over every file of DIR, timed, its
# peak memory kept.
many_fcloak() {
  local files=("$3"/*)
  sync
  local start=$EPOCHREALTIME
  printf '%s\n' "$password" | /usr/bin/time -f %M -o "$work/rss.txt" "$fcloak" "$2" "${files[@]}" >"$work/console.txt" 2>&1
  local end=$EPOCHREALTIME
  seconds[$1]+="$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') "
  local kib
  kib=$(tail -n 1 "$work/rss.txt")
  if [ "$kib" -gt "${many_peaks[$1]:-0}" ]; then many_peaks[$1]=$kib; fi
}

many_loop() {
  local f
  for f in "$2"/*; do "$fcloak" "$f" "$password" "$1" >/dev/null; done
}

# many_set KEY DIR COUNT KIB: the files made, then the rounds.
many_set() {
  local key=$1 dir=$2 count=$3 kib=$4 n round before
  rm -rf "$dir"
  mkdir -p "$dir"
  for ((n = 0; n < count; n++)); do head -c $((kib << 10)) /dev/urandom >"$dir/$(printf 'f%04d.bin' "$n")"; done
  before=$(cat "$dir"/* | md5sum)
  for ((round = 1; round <= many_runs; round++)); do
    many_fcloak "$key|-e" -e "$dir"
    many_fcloak "$key|-d" -d "$dir"
    measure "$key|loop +" many_loop + "$dir"
    measure "$key|loop -" many_loop - "$dir"
    if have ccrypt; then
      measure "$key|ccrypt -e" ccrypt -e -f -K "$password" "$dir"/*
      measure "$key|ccrypt -d" ccrypt -d -f -K "$password" "$dir"/*
    fi
  done
  if [ "$(cat "$dir"/* | md5sum)" != "$before" ]; then
    echo "the many files did not come back as they were" >&2
    exit 1
  fi
  rm -rf "$dir"
}

# Whether this fcloak takes -e and -d: two files encrypted in one run, and
# decrypted again.
many_probe() {
  rm -rf "$many_dir"
  mkdir -p "$many_dir"
  printf 'probe' >"$many_dir/a"
  printf 'probe' >"$many_dir/b"
  local ok=false
  if printf '%s\n' "$password" | "$fcloak" -e "$many_dir/a" "$many_dir/b" >/dev/null 2>&1 &&
    [ "$(stat -c %s "$many_dir/a")" = 24 ] && [ "$(stat -c %s "$many_dir/b")" = 24 ] &&
    printf '%s\n' "$password" | "$fcloak" -d "$many_dir/a" "$many_dir/b" >/dev/null 2>&1 &&
    [ "$(cat "$many_dir/a" "$many_dir/b")" = probeprobe ]; then
    ok=true
  fi
  rm -rf "$many_dir"
  $ok
}

echo
if many_probe; then
  echo "many files, ${fs_names[0]}: $many_runs rounds ..."
  many_set small "$many_dir" 1000 4
  many_set large "$many_dir" 8 $((32 << 10))
  # The same walk over 10 files: the peak memory to compare with.
  many_set ten "$many_dir" 10 4
  echo
  echo "many files, ${fs_names[0]}, $many_runs rounds (medians, seconds; ratios to the loop of single runs)"
  printf '  %-18s %10s %10s %8s %10s %8s\n' files "loop" "one run" "x loop" "ccrypt" "x ccrypt"
  for key in small large; do
    label=$([ "$key" = small ] && echo "1000 x 4 KiB" || echo "8 x 32 MiB")
    for way in e d; do
      sign=$([ "$way" = e ] && echo + || echo -)
      one=$(median "$key|-$way")
      loop=$(median "$key|loop $sign")
      peer="-" peer_ratio="-"
      if [ -n "${seconds[$key|ccrypt -$way]+set}" ]; then
        peer=$(median "$key|ccrypt -$way")
        peer_ratio=$(ratio "$one" "$peer")
      fi
      printf '  %-18s %10s %10s %8s %10s %8s\n' "$label -$way" "$loop" "$one" "$(ratio "$one" "$loop")" "$peer" "$peer_ratio"
      if [ "$key" = small ]; then
        verdicts+=("$(awk -v r="$(ratio "$one" "$loop")" 'BEGIN { printf "%s", r <= 0.3 ? "PASS" : "FAIL" }') 1000 x 4 KiB, fcloak -$way in one run: $(ratio "$one" "$loop") x the loop of single runs (target <= 0.3)")
        if [ "$peer" != - ]; then
          verdicts+=("$(awk -v r="$peer_ratio" 'BEGIN { printf "%s", r <= 5 ? "PASS" : "FAIL" }') 1000 x 4 KiB, fcloak -$way in one run: $peer_ratio x ccrypt -$way (target <= 5)")
        else
          verdicts+=("SKIP 1000 x 4 KiB against ccrypt -$way: ccrypt is not installed")
        fi
      else
        verdicts+=("$(awk -v r="$(ratio "$one" "$loop")" 'BEGIN { printf "%s", r <= 1.05 ? "PASS" : "FAIL" }') 8 x 32 MiB, fcloak -$way in one run: $(ratio "$one" "$loop") x the single runs (target <= 1.05)")
      fi
    done
  done
  echo "  peak memory of fcloak -e in one run: 10 x 4 KiB ${many_peaks[ten|-e]} KiB, 1000 x 4 KiB ${many_peaks[small|-e]} KiB, 8 x 32 MiB ${many_peaks[large|-e]} KiB"
  verdicts+=("$(awk -v t="${many_peaks[ten|-e]}" -v s="${many_peaks[small|-e]}" 'BEGIN {
    printf "%s many files, peak memory flat: %+d KiB from 10 to 1000 files (target < 1024 KiB)", s - t < 1024 ? "PASS" : "FAIL", s - t }')")
else
  echo "many files: not measured (this fcloak does not take -e and -d)"
  verdicts+=("SKIP many files: this fcloak does not take -e and -d")
fi

# Peak memory on each size and on a 1 MiB file: below 4 MiB, and the same
# on the smallest and the largest size measured. (A 1 MiB file takes less:
# a small file does not fill the transfer buffer, whose size is fixed.)
cd "${fs_dirs[0]}"
head -c $((1 << 20)) /dev/urandom >data.bin
peak=0
run_fcloak + $(((1 << 20) + 19))
run_fcloak - $((1 << 20))
rm -f data.bin
cd "$work"
smallest=$largest
memory="1 MiB: $peak KiB"
for mib in "${sizes[@]}"; do
  if [ "$mib" -lt "$smallest" ]; then smallest=$mib; fi
  memory+=", $mib MiB: ${peaks[$mib]} KiB"
done
echo
echo "fcloak peak memory (maximum resident set): $memory"
verdicts+=("$(awk -v b="${peaks[$largest]}" -v s="${peaks[$smallest]}" -v l="$largest" -v m="$smallest" 'BEGIN {
  printf "%s peak memory %d KiB (target < 4096 KiB, not growing: %+d KiB from %d MiB to %d MiB)",
    b < 4096 && b - s < 256 ? "PASS" : "FAIL", b, b - s, m, l }')")

echo
echo "micro benchmark ($micro, medians of 5, per core):"
"$micro" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true --benchmark_format=csv 2>/dev/null >micro.csv
# name,iterations,real_time,cpu_time,time_unit,bytes_per_second,...
awk -F, '$1 ~ /_median"$/ {
  name = $1; gsub(/"/, "", name); sub(/_median$/, "", name)
  if ($6 != "") printf "  %-40s %7.2f GB/s\n", name, $6 / 1e9
  else printf "  %-40s %7.2f ms (wall %.2f ms)\n", name, $4, $3
}' micro.csv
verdicts+=("$(awk -F, '$1 ~ /^"transform_block_on\/avx2\/(en|de)crypt_median"$/ { n++; if ($6 / 1e9 < 25) bad++; if (min == "" || $6 < min) min = $6 }
  END { if (n != 2) print "SKIP transform on the AVX2 path: this processor has none"
        else printf "%s transform on the AVX2 path: slower direction %.2f GB/s (target >= 25)", bad ? "FAIL" : "PASS", min / 1e9 }' micro.csv)")
verdicts+=("$(awk -F, '$1 ~ /^"key_setup_and_worst_tables_median"$/ { ms = $4 }
  END { printf "%s key setup + worst table build: %.2f ms (target <= 5)", ms != "" && ms <= 5 ? "PASS" : "FAIL", ms }' micro.csv)")

echo
printf '%s\n' "${verdicts[@]}"
echo
echo "bench/run.sh took $((SECONDS - started)) s"
