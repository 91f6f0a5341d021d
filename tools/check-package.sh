#!/usr/bin/env bash
# Checks the packages as a user gets them. Builds them twice
# (tools/package.sh: the Debian package and the Windows zip), the second
# time from a copy of the source in another directory, into other build
# directories, later and with another umask, and compares the two byte for
# byte: the packages and every file in them (sha256 of each, both builds
# side by side; any difference fails). Then checks the Debian package with
# lintian (any error or warning fails), installs it with dpkg -i, runs the
# installed fcloak from PATH (--version, then on a file: encrypt, decrypt,
# compare, and the same through -c), completes its options with the
# installed bash completion, renders the installed manual page with every
# groff warning on, and removes the package again. Run as root: it installs
# and removes the package fcloak on this machine.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/deps.sh"
fcloak_need dpkg-dev man-db groff-base lintian zip unzip g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix

fail() {
  echo "check-package: $*" >&2
  exit 1
}
[ "$(id -u)" = 0 ] || fail "run as root: the check installs and removes the package fcloak"

scratch=$(mktemp -d)
installed=false
cleanup() {
  if $installed; then dpkg -r fcloak >/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT

# The first build from this source, its time from the last commit; the
# second from a copy of the source (the files that git knows, as they are
# now) without git, given the same commit time.
FCLOAK_BUILD_ROOT=$scratch/one/build FCLOAK_DIST=$scratch/one/dist \
  bash "$root/tools/package.sh" >"$scratch/package-one.log" 2>&1 ||
  { cat "$scratch/package-one.log" >&2; fail "tools/package.sh failed"; }
mkdir -p "$scratch/two/source"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  tar -cf - --null --ignore-failed-read -T - 2>/dev/null) | tar -xf - -C "$scratch/two/source"
sleep 1
(umask 002 && SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct) FCLOAK_BUILD_ROOT=$scratch/two/build \
  FCLOAK_DIST=$scratch/two/dist bash "$scratch/two/source/tools/package.sh") >"$scratch/package-two.log" 2>&1 ||
  { cat "$scratch/package-two.log" >&2; fail "tools/package.sh from the copy of the source failed"; }

# Each build's packages and what is in them: sha256 and name, one line each.
contents_of() {
  local dist=$1 unpacked=$scratch/unpacked-$2 file
  mkdir -p "$unpacked"
  (cd "$dist" && sha256sum -- *.deb *.zip)
  for file in "$dist"/*.deb; do
    dpkg-deb -x "$file" "$unpacked/deb"
    dpkg-deb -e "$file" "$unpacked/deb/DEBIAN"
  done
  for file in "$dist"/*.zip; do unzip -q "$file" -d "$unpacked/zip"; done
  (cd "$unpacked" && find . -type f -printf '%P\0' | LC_ALL=C sort -z | xargs -0 sha256sum --)
}
contents_of "$scratch/one/dist" one >"$scratch/one.sha256"
contents_of "$scratch/two/dist" two >"$scratch/two.sha256"
echo "== sha256 of the packages and their files, first build | second build"
paste -d '|' "$scratch/one.sha256" "$scratch/two.sha256" |
  awk -F'|' '{ split($1, a, "  "); split($2, b, "  "); printf "%s %s  %s%s\n", substr(a[1], 1, 16), substr(b[1], 1, 16), a[2], (a[1] == b[1] && a[2] == b[2]) ? "" : "   DIFFERS" }'
cmp -s "$scratch/one.sha256" "$scratch/two.sha256" || fail "the two builds differ"
[ "$(wc -l <"$scratch/one.sha256")" -ge 8 ] || fail "the packages hold fewer files than expected"
echo "== the two builds are byte for byte the same: $(wc -l <"$scratch/one.sha256") files"

debs=("$scratch"/one/dist/fcloak_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "no fcloak_*.deb was made"
version=$(dpkg-deb -f "$deb" Version)
echo "== $(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"

# The dependencies are computed from the program; without dpkg-shlibdeps
# the field stays empty.
[[ "$(dpkg-deb -f "$deb" Depends)" == *libc6* ]] || fail "Depends does not name libc6"

# Every tag lintian has, the informational ones included, is shown; errors
# and warnings fail the check. (lintian warns when it runs as root, which
# this check must.)
status=0
lintian --display-info --fail-on error,warning "$deb" >"$scratch/lintian.txt" 2>&1 || status=$?
grep -v '^running with root privileges' "$scratch/lintian.txt" || true
[ "$status" = 0 ] || fail "lintian reports errors or warnings (status $status)"
echo "== lintian: no error, no warning"

if dpkg -s fcloak >/dev/null 2>&1; then
  echo "== fcloak $(dpkg-query -W -f '${Version}' fcloak) is installed: it is replaced, then removed"
fi
installed=true
dpkg -i "$deb" >/dev/null
[ "$(command -v fcloak)" = /usr/bin/fcloak ] || fail "fcloak on PATH is '$(command -v fcloak || true)', not /usr/bin/fcloak"
version_line=$(fcloak --version | head -n 1) || fail "fcloak --version failed"
[ "$version_line" = "fcloak $version" ] || fail "fcloak --version says '$version_line', not 'fcloak $version'"
echo "== $version_line"
page=/usr/share/man/man1/fcloak.1.gz
[ -f "$page" ] || fail "$page was not installed"
doc=/usr/share/doc/fcloak
grep -q '^License: Expat' "$doc/copyright" || fail "$doc/copyright does not give the licence"
zcat "$doc/changelog.gz" | head -n 1 | grep -qF "fcloak ($version)" || fail "$doc/changelog.gz does not start with $version"

# The installed program on a file of more than three 32768-byte blocks,
# in a directory of its own: the scratch file goes to the current directory.
work=$scratch/work
mkdir "$work"
cd "$work"
head -c 100000 /dev/urandom >data.bin
cp data.bin original.bin
touch -d '2020-01-02 03:04:05' data.bin
run_fcloak() {
  local status=0
  fcloak "$@" </dev/null >out.gbk 2>&1 || status=$?
  [ "$status" = 0 ] || fail "fcloak $*: exit status $status: $(iconv -f GBK -t UTF-8 out.gbk | tr '\r' '\n')"
}
run_fcloak data.bin 'open sesame' +
[ "$(stat -c %s data.bin)" = 100019 ] || fail "encrypted file has $(stat -c %s data.bin) bytes, not 100019"
[ "$(od -An -tx1 -N3 data.bin | tr -d ' ')" = 8c730d ] || fail "encrypted file does not start with the marker 8C 73 0D"
tail -c +20 data.bin | cmp -s - original.bin && fail "the encrypted body is the plaintext"
iconv -f GBK -t UTF-8 out.gbk | grep -q '文件已完成加密' || fail "no completion message after encryption"
run_fcloak data.bin 'open sesame' -
cmp data.bin original.bin || fail "decryption did not give back the original bytes"
[ "$(stat -c %Y data.bin)" = "$(date -d '2020-01-02 03:04:05' +%s)" ] || fail "last-write time not put back"
leftover=$(find . -name 'ZZ*')
[ -z "$leftover" ] || fail "scratch file left behind: $leftover"
fcloak -c data.bin 'open sesame' </dev/null >encrypted.bin 2>out.gbk || fail "fcloak -c: $(iconv -f GBK -t UTF-8 out.gbk | tr '\r' '\n')"
[ "$(stat -c %s encrypted.bin)" = 100019 ] || fail "fcloak -c wrote $(stat -c %s encrypted.bin) bytes, not 100019"
fcloak -c - 'open sesame' <encrypted.bin 2>out.gbk | cmp -s - original.bin || fail "fcloak -c - did not give back the original bytes"
echo "== installed fcloak: encrypted and decrypted a 100000-byte file, in place and through -c"

# The installed bash completion: "fcloak --h" completes to "--help", in a
# bash of its own as a user's shell loads it; then the whole table.
completion=/usr/share/bash-completion/completions/fcloak
[ -f "$completion" ] || fail "$completion was not installed"
completed=$(bash -c 'source "$1"; COMP_WORDS=(fcloak --h); COMP_CWORD=1; _fcloak fcloak --h fcloak; echo "${COMPREPLY[*]}"' _ "$completion")
[ "$completed" = --help ] || fail "the installed completion completes 'fcloak --h' to '$completed', not '--help'"
bash "$root/tests/completion_test.sh" "$completion" >/dev/null || fail "the installed completion: $(bash "$root/tests/completion_test.sh" "$completion" 2>&1 | head -n 5)"
echo "== bash completion: fcloak --h completes to --help"

# The manual page, rendered as man shows it on a UTF-8 terminal, with every
# groff warning on.
export LC_ALL=C.UTF-8 MANWIDTH=80 MANPAGER=cat PAGER=cat
[ "$(man -w fcloak)" = "$page" ] || fail "man -w fcloak gives '$(man -w fcloak)', not $page"
warnings=$(man --warnings=w -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man --warnings: $warnings"
warnings=$(zcat "$page" | groff -k -Tutf8 -ww -z -man 2>&1)
[ -z "$warnings" ] || fail "groff -ww: $warnings"
man -l "$page" >"$scratch/page.txt" 2>/dev/null
grep -qF 'fcloak  filename  [ password [+|-] ]' "$scratch/page.txt" || fail "the manual page's synopsis is not the usage line"
grep -qF '完整的文件保存在临时文件中' "$scratch/page.txt" || fail "the manual page does not show its Chinese text"
grep -qF "fcloak $version" "$scratch/page.txt" || fail "the manual page's footer does not name fcloak $version"
echo "== man -l $page: no warnings"

cd "$root"
dpkg -r fcloak >/dev/null
installed=false
[ ! -e /usr/bin/fcloak ] || fail "/usr/bin/fcloak is still there after dpkg -r"
echo "== package check passed: $(basename "$deb")"
