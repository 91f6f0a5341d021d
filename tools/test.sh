#!/usr/bin/env bash
# Builds fcloak and runs every test.
#   tools/test.sh              the normal build, in build/
#   tools/test.sh --sanitize   with AddressSanitizer and UBSan, in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh
fcloak_need

build=build
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  build=build-sanitize
  options=(-DCMAKE_BUILD_TYPE=Debug -DFCLOAK_SANITIZE=ON)
fi
cmake -S . -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
