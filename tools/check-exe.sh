#!/usr/bin/env bash
# Checks a built fcloak.exe as it goes out: the kind of program, its
# manifest (run with the rights of whoever starts it, no UAC file
# virtualization; Windows 7 to 11 known) and its version resource (the
# version of project() in CMakeLists.txt). tools/package.sh runs it on the
# programs of the zip, tools/test-windows.sh on the programs it tests.
#
#   tools/check-exe.sh EXE i686|x86_64 VERSION
set -euo pipefail

[ $# = 3 ] || { echo "usage: tools/check-exe.sh EXE i686|x86_64 VERSION" >&2; exit 2; }
exe=$1 arch=$2 version=$3
case $arch in
  i686) format=pei-i386 ;;
  x86_64) format=pei-x86-64 ;;
  *) echo "check-exe: no architecture $arch" >&2; exit 2 ;;
esac
fail() {
  echo "check-exe: $exe: $*" >&2
  exit 1
}

# A toolchain mix-up would put the wrong kind of program in its place.
"$arch-w64-mingw32-objdump" -f "$exe" | grep -q "file format $format\$" || fail "not a $format program"

resources=$("$arch-w64-mingw32-windres" -i "$exe" -O rc 2>/dev/null) || fail "no resources"
manifest=$(sed -n '/^1 24 /,/^END/p' <<<"$resources")
[ -n "$manifest" ] || fail "no manifest"
grep -qF 'requestedExecutionLevel level=""asInvoker""' <<<"$manifest" || fail "the manifest asks for no asInvoker execution level"
windows=(
  "35138b9a-5d96-4fbd-8e2d-a2440225f93a 7"
  "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38 8"
  "1f676c76-80e1-4239-95bb-83d0f6d0da78 8.1"
  "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a 10/11"
)
for entry in "${windows[@]}"; do
  grep -qiF "supportedOS Id=\"\"{${entry%% *}}\"\"" <<<"$manifest" || fail "the manifest does not name Windows ${entry#* }"
done

IFS=. read -r major minor patch _ <<<"$version"
grep -q "^ FILEVERSION $major, $minor, ${patch:-0}, 0\$" <<<"$resources" || fail "FILEVERSION is not $version"
grep -q "^ PRODUCTVERSION $major, $minor, ${patch:-0}, 0\$" <<<"$resources" || fail "PRODUCTVERSION is not $version"
for value in FileVersion ProductVersion; do
  grep -qF "VALUE \"$value\", \"$version\"" <<<"$resources" || fail "the version resource's $value is not \"$version\""
done
echo "check-exe: $exe: $format, manifest (asInvoker, Windows 7 to 11), version $version"
