#!/usr/bin/env bash
# The bash completion (packaging/fcloak.bash-completion): one table of
# command lines, the last word being completed, and what it completes to
# (sorted), in a directory with known files.
#
#   tests/completion_test.sh [COMPLETION-FILE]
set -euo pipefail
completion=${1:-$(dirname "$0")/../packaging/fcloak.bash-completion}
# shellcheck source=/dev/null
source "$completion"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
touch data.txt key.bin ./-odd
mkdir docs

# complete WORD...: what _fcloak offers for the last word, sorted, on one line.
complete_words() {
  COMP_WORDS=("$@")
  COMP_CWORD=$(($# - 1))
  COMP_LINE="$*"
  COMP_POINT=${#COMP_LINE}
  COMPREPLY=()
  _fcloak fcloak "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
  printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' '
}

all_options="-- --change-password --decrypt --encrypt --help --install-menu --password-file= --recursive --restore --stdout --test --uninstall-menu --version -V -c -d -e -h -k -r -t -x"
failed=0
while IFS='|' read -r line expected; do
  read -r -a words <<<"$line"
  # A line ending in a blank completes an empty word.
  [[ $line == *" " ]] && words+=("")
  got=$(complete_words "${words[@]}")
  if [ "$got" != "$expected" ]; then
    echo "FAIL '$line': got '$got', expected '$expected'"
    failed=$((failed + 1))
  fi
done <<EOT
fcloak --h|--help
fcloak --ver|--version
fcloak --pass|--password-file=
fcloak -|$all_options
fcloak |-odd data.txt docs key.bin
fcloak d|data.txt docs
fcloak -c d|data.txt docs
fcloak -- -|-odd
fcloak -- --h|
fcloak data.txt |
fcloak data.txt -|
fcloak data.txt pw |
fcloak -c - |
fcloak -k k|key.bin
fcloak -ck k|key.bin
fcloak --password-file k|key.bin
fcloak --password-file = k|key.bin
fcloak --password-file=k|--password-file=key.bin
fcloak -k key.bin --h|--help
fcloak -kkey.bin d|data.txt docs
fcloak --password-file = key.bin -|$all_options
fcloak -e -r d|data.txt docs
EOT
[ "$failed" = 0 ] || exit 1
echo "completion: all cases passed"
