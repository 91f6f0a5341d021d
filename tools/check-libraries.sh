#!/usr/bin/env bash
# The program needs the C library alone: no C++ runtime (libstdc++, libm,
# libgcc_s) to load at every start, which would cost each run of one file
# as much again as its own work on a small file.
#   tools/check-libraries.sh PROGRAM
set -euo pipefail
needed=$(readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | tr '\n' ' ')
if [ "$needed" != "libc.so.6 " ]; then
  echo "check-libraries: $1 needs ${needed:-nothing}; only libc.so.6 is expected" >&2
  exit 1
fi
echo "check-libraries: $1 needs libc.so.6 alone"
