# Cross-compiles fcloak for Windows (x86_64) with Debian's mingw-w64 (the posix
# thread model: g++-mingw-w64-x86-64-posix). The executable is linked
# statically, so it needs no DLL of the compiler's runtime.
#
#   cmake -S . -B build-win-x86_64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
#   cmake --build build-win-x86_64
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(FCLOAK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${FCLOAK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FCLOAK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FCLOAK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FCLOAK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

