#!/usr/bin/env bash
# Builds fcloak and runs it on a file:
#   tools/try.sh FILE [PASSWORD [+|-]]   runs fcloak on FILE
#   tools/try.sh                         encrypts and decrypts a sample file
#                                        in a temporary directory
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
. "$root/tools/deps.sh"
fcloak_need
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target fcloak >/dev/null
fcloak=$root/build/fcloak

if [ $# -gt 0 ]; then
  exec "$fcloak" "$@"
fi

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
printf 'A sample file for fcloak.\n' > sample.txt
echo "== sample.txt: $(od -An -c sample.txt | head -1)"
echo "== fcloak sample.txt demo-password +"
"$fcloak" sample.txt demo-password + | iconv -f GBK -t UTF-8 | tr '\r' '\n' | sed '/^ *$/d'
echo "== encrypted ($(stat -c %s sample.txt) bytes): $(od -An -tx1 -N19 sample.txt)"
echo "== fcloak sample.txt demo-password -"
"$fcloak" sample.txt demo-password - | iconv -f GBK -t UTF-8 | tr '\r' '\n' | sed '/^ *$/d'
echo "== sample.txt again: $(od -An -c sample.txt | head -1)"
