# Cross-compiles fcloak for Windows (x86_64) with Debian's mingw-w64
# (g++-mingw-w64-x86-64-posix), as a static executable.
#
#   cmake -S . -B build-win-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
#   cmake --build build-win-x86_64
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(FCLOAK_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
