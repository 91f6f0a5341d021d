# Cross-compiles fcloak for Windows (i686) with Debian's mingw-w64 (the posix
# thread model: g++-mingw-w64-i686-posix). The executable is linked
# statically, so it needs no DLL of the compiler's runtime.
#
#   cmake -S . -B build-win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
#   cmake --build build-win-i686
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(FCLOAK_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${FCLOAK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FCLOAK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FCLOAK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FCLOAK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

