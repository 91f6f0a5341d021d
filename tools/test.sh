#!/usr/bin/env bash
# Builds fcloak and runs every test, with warnings as errors.
#   tools/test.sh              the normal build (Release, g++), in build/
#   tools/test.sh --clang      the same with clang++, in build-clang/
#   tools/test.sh --sanitize   with AddressSanitizer and UBSan, in build-sanitize/
set -euo pipefail
cd "$(dirname "$0")/.."
. tools/deps.sh

build=build
options=(-DCMAKE_BUILD_TYPE=Release)
case "${1:-}" in
  "") fcloak_need ;;
  --clang)
    fcloak_need clang
    build=build-clang
    options+=(-DCMAKE_CXX_COMPILER=clang++)
    ;;
  --sanitize)
    fcloak_need
    build=build-sanitize
    options=(-DCMAKE_BUILD_TYPE=Debug -DFCLOAK_SANITIZE=ON)
    ;;
  *) echo "usage: tools/test.sh [--clang | --sanitize]" >&2; exit 2 ;;
esac
cmake -S . -B "$build" "${options[@]}" -DFCLOAK_WERROR=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"
