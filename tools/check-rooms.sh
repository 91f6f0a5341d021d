#!/usr/bin/env bash
# Fails when a room of src/ includes a header of a room above it. The rooms
# from low to high: cipher; console; files and progress; run. main.cpp
# stands above them all.
#   tools/check-rooms.sh [SOURCE_DIR]
set -euo pipefail
src="${1:-$(dirname "$0")/../src}"

rank() {
  case "$1" in
    cipher) echo 0 ;;
    console) echo 1 ;;
    files | progress) echo 2 ;;
    run) echo 3 ;;
    *) echo "" ;;
  esac
}

status=0
for dir in "$src"/*/; do
  room=$(basename "$dir")
  own=$(rank "$room")
  if [[ -z "$own" ]]; then
    echo "check-rooms: $room is no known room" >&2
    status=1
    continue
  fi
  while IFS=: read -r file line include; do
    target=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$include")
    other=$(rank "$target")
    [[ -z "$other" ]] && continue
    if ((other > own)); then
      echo "check-rooms: ${file#"$src"/}:$line: $room includes $target, a room above it" >&2
      status=1
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$dir"* /dev/null || true)
done
exit "$status"
