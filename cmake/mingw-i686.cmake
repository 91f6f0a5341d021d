# Cross-compiles fcloak for Windows (i686) with Debian's mingw-w64
# (g++-mingw-w64-i686-posix), as a static executable.
#
#   cmake -S . -B build-win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#   cmake --build build-win-i686
set(CMAKE_SYSTEM_PROCESSOR i686)
set(FCLOAK_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
