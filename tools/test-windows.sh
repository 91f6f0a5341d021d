#!/usr/bin/env bash
# Builds fcloak.exe with mingw-w64 (32-bit and 64-bit) and tests it under
# wine: the end-to-end table against each build that a wine here can run,
# then files going both ways between the Linux and the Windows builds.
# Run it after tools/test.sh (it uses that build's e2e_test and fcloak).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
. tools/deps.sh
fcloak_need g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 locales

for arch in i686 x86_64; do
  cmake -S . -B "build-win-$arch" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "build-win-$arch" -j"$(nproc)" --target fcloak
done
[ -x build/tests/e2e_test ] || { cmake -S . -B build >/dev/null; cmake --build build -j"$(nproc)" --target fcloak e2e_test; }

work=$(mktemp -d)
export WINEDEBUG=-all WINEPREFIX=$work/prefix
mkdir -p "$WINEPREFIX"
# One wine server for all the runs: one that exits between two runs, as it
# does a few seconds after the last program ends, can fail the start of the
# next.
wineserver -p
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
wine64=/usr/lib/wine/wine64
wine32=/usr/lib/wine/wine
"$wine64" wineboot -i >/dev/null 2>&1 || true

# A 32-bit wine needs the i386 architecture; where it cannot be installed
# (no such packages reachable), the 32-bit build is only compiled.
if ! "$wine32" "build-win-i686/fcloak.exe" </dev/null >/dev/null 2>&1 && [ "$(id -u)" = 0 ] && [ "${CI:-}" = true ]; then
  dpkg --add-architecture i386
  if ! { timeout 600 apt-get update -qq && timeout 900 apt-get install -y -qq wine32:i386 >/dev/null; }; then
    echo "test-windows: a 32-bit wine could not be installed here"
    dpkg --remove-architecture i386 2>/dev/null || true
    apt-get update -qq || true
  fi
  "$wine64" wineboot -u >/dev/null 2>&1 || true
fi
runners=("x86_64:$wine64")
if "$wine32" "build-win-i686/fcloak.exe" </dev/null >/dev/null 2>&1; then
  runners+=("i686:$wine32")
else
  echo "test-windows: no 32-bit wine; the 32-bit fcloak.exe is built, not run"
fi

failed=0
for entry in "${runners[@]}"; do
  arch=${entry%%:*} wine=${entry#*:}
  echo "== end-to-end table, $arch fcloak.exe under wine"
  FCLOAK_BIN="$root/build-win-$arch/fcloak.exe" FCLOAK_RUNNER="$wine" build/tests/e2e_test || failed=1
done

# Files move between the builds in both directions. A GBK locale makes wine
# pass the password's bytes through unchanged, as a Chinese Windows does.
mkdir -p "$work/locale"
localedef -i zh_CN -f GBK "$work/locale/zh_CN.GBK" 2>/dev/null || true
gbk=(env "LOCPATH=$work/locale" LC_ALL=zh_CN.GBK)
linux=$root/build/fcloak
passwords=(secret "pass word" 0123456789abcdefXYZ $'\xb2\xe2\xca\xd4\xc3\xdc\xc2\xeb' $'a\x95\x5cb"c')
sizes=(0 1 19 32767 32768 32749 65536 300001)
for entry in "${runners[@]}"; do
  arch=${entry%%:*} wine=${entry#*:}
  windows=$root/build-win-$arch/fcloak.exe
  count=0
  for size in "${sizes[@]}"; do
    for pw in "${passwords[@]}"; do
      dir=$work/x && rm -rf "$dir" && mkdir -p "$dir" && cd "$dir"
      head -c "$size" /dev/urandom > original
      for way in linux-to-windows windows-to-linux; do
        cp original f
        if [ $way = linux-to-windows ]; then enc=("${gbk[@]}" "$linux") dec=("${gbk[@]}" "$wine" "$windows"); else enc=("${gbk[@]}" "$wine" "$windows") dec=("${gbk[@]}" "$linux"); fi
        "${enc[@]}" f "$pw" + </dev/null >out 2>&1 || { echo "FAIL $arch $way encrypt size=$size password=$pw:"; iconv -f GBK -t UTF-8 -c out | tr '\r' '\n' | tail -n 4; failed=1; }
        [ "$(stat -c %s f)" = $((size + 19)) ] || { echo "FAIL $arch $way size=$size: encrypted size $(stat -c %s f)"; failed=1; }
        "${dec[@]}" f "$pw" - </dev/null >out 2>&1 || { echo "FAIL $arch $way decrypt size=$size password=$pw:"; iconv -f GBK -t UTF-8 -c out | tr '\r' '\n' | tail -n 4; failed=1; }
        cmp -s original f || { echo "FAIL $arch $way size=$size: not the original after the round trip"; failed=1; }
        count=$((count + 1))
      done
      ls ZZ* >/dev/null 2>&1 && { echo "FAIL $arch: a scratch file was left"; failed=1; }
      cd "$root"
    done
  done
  echo "== interchange, $arch: $count round trips"
done

[ $failed = 0 ] && echo "test-windows: all passed" || { echo "test-windows: FAILED"; exit 1; }
