# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix thread model).
# libgcc and libstdc++ are linked statically so the .exe needs no extra DLLs,
# under Wine or on a player's machine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZRK_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZRK_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZRK_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ZRK_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${ZRK_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZRK_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Extra roots (a prefix of cross-built libraries) come from CMAKE_PREFIX_PATH.
set(CMAKE_FIND_ROOT_PATH /usr/${ZRK_MINGW_TRIPLE} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# zlib's package has both an import library and a static one; take the static.
set(ZLIB_USE_STATIC_LIBS ON)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
