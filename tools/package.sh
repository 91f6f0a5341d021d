#!/usr/bin/env bash
# Makes the release packages in dist/:
#   dist/fcloak_<version>_<arch>.deb     the Debian package (CPack): the program,
#                                        its manual page, copyright and changelog
#   dist/fcloak-<version>-windows.zip    32-bit\fcloak.exe, 64-bit\fcloak.exe,
#                                        README-windows.txt and LICENSE.txt (CRLF)
#
#   tools/package.sh          both
#   tools/package.sh --deb    the Debian package only
#
# The version is the one of project() in CMakeLists.txt. The builds go to
# build-package/, build-win-i686/ and build-win-x86_64/, or under
# $FCLOAK_BUILD_ROOT when it is set; the packages go to $FCLOAK_DIST when it
# is set instead of dist/.
#
# The packages are reproducible: built from the same commit, wherever the
# source and the builds are and whenever it runs, they are the same bytes
# (tools/check-package.sh builds them twice and compares). Every time in
# them is SOURCE_DATE_EPOCH, by default the time of the last commit; no
# path of the machine is in a program (-ffile-prefix-map), the linker puts
# no time stamp in the Windows programs, and the zip holds its files in a
# fixed order with fixed times and modes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/deps.sh"

deb_only=false
case "${1:-}" in
  "") ;;
  --deb) deb_only=true ;;
  *) echo "usage: tools/package.sh [--deb]" >&2; exit 2 ;;
esac

if $deb_only; then
  fcloak_need dpkg-dev
else
  fcloak_need dpkg-dev zip g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
fi

builds=${FCLOAK_BUILD_ROOT:-$root}
dist=${FCLOAK_DIST:-$root/dist}
jobs=$(nproc)
mkdir -p "$builds" "$dist"
builds=$(cd "$builds" && pwd)
dist=$(cd "$dist" && pwd)

# The files that the packaging writes (CPack's members of the .deb among
# them) take their modes from the umask.
umask 022
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null) ||
    { echo "package.sh: not a git checkout: set SOURCE_DATE_EPOCH to the source's time" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
# Paths of the source and of the builds as the programs name them (in
# assertions, debugging information and the build id made from it).
prefix_maps="-ffile-prefix-map=$root=. -ffile-prefix-map=$builds=."

# The Debian package, built with Debian's flags for packages, all hardening
# on (fortified functions, stack protector, read-only relocations bound at
# start). dpkg-shlibdeps computes its dependencies from the program that it
# holds.
native=$builds/build-package
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$root" -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFCLOAK_TESTS=OFF -DFCLOAK_WERROR=ON \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS) $prefix_maps" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$native" -j"$jobs"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$native/CMakeCache.txt")
[ -n "$version" ] || { echo "package.sh: no project version in $native/CMakeCache.txt" >&2; exit 1; }
rm -f "$native"/fcloak_*.deb
cpack --config "$native/CPackConfig.cmake" -B "$native" >/dev/null
debs=("$native"/fcloak_"$version"_*.deb)
[ -f "${debs[0]}" ] || { echo "package.sh: cpack made no fcloak_${version}_*.deb" >&2; exit 1; }
cp "${debs[0]}" "$dist/"
echo "$dist/$(basename "${debs[0]}")"

$deb_only && exit 0

# The Windows zip: both programs, statically linked and stripped, and the
# README with Windows line ends and a byte-order mark, so that Notepad shows
# its Chinese text as UTF-8 on any Windows.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
top=fcloak-$version-windows
mkdir "$stage/$top"
for arch in i686 x86_64; do
  case $arch in
    i686) bits=32-bit ;;
    x86_64) bits=64-bit ;;
  esac
  dir=$builds/build-win-$arch
  cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFCLOAK_WERROR=ON -DFCLOAK_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$prefix_maps" >/dev/null
  cmake --build "$dir" -j"$jobs" --target fcloak
  cmake --install "$dir" --prefix "$stage/install-$arch" --strip >/dev/null
  exe=$stage/install-$arch/bin/fcloak.exe
  # The kind of program, its manifest and its version resource.
  bash "$root/tools/check-exe.sh" "$exe" "$arch" "$version" >/dev/null
  mkdir "$stage/$top/$bits"
  cp "$exe" "$stage/$top/$bits/fcloak.exe"
done
{ printf '\357\273\277'; sed 's/$/\r/' "$root/packaging/README-windows.txt"; } \
  > "$stage/$top/README-windows.txt"
sed 's/$/\r/' "$root/LICENSE" > "$stage/$top/LICENSE.txt"
# Fixed modes and times (DOS times are local: in UTC), the names in byte
# order, no extra fields (zip -X: no owners, no Unix times).
find "$stage/$top" -type d -exec chmod 755 {} +
find "$stage/$top" -type f -exec chmod 644 {} +
chmod 755 "$stage/$top"/*/fcloak.exe
find "$stage/$top" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
zip_file=$dist/$top.zip
rm -f "$zip_file"
(cd "$stage" && find "$top" | LC_ALL=C sort | TZ=UTC zip -q -X "$zip_file" -@)
echo "$zip_file"
