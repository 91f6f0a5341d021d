# What both mingw-w64 toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and FCLOAK_MINGW_PREFIX first. Debian's compilers of the posix thread model,
# and static executables that need no DLL of the compiler's runtime, with no
# time stamp from the linker (the same source gives the same bytes).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${FCLOAK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${FCLOAK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${FCLOAK_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${FCLOAK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
