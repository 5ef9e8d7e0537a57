# Shared part of the MinGW-w64 cross toolchains: set ZELP_MINGW_PREFIX and
# CMAKE_SYSTEM_PROCESSOR, then include this file. The win32 thread model's
# compilers: the programs use no C++ threads, and the POSIX model would link
# its thread library into every program.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${ZELP_MINGW_PREFIX}-gcc-win32)
set(CMAKE_CXX_COMPILER ${ZELP_MINGW_PREFIX}-g++-win32)
set(CMAKE_RC_COMPILER ${ZELP_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ZELP_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${ZELP_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${ZELP_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
