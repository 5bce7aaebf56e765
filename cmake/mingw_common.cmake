# The part of the MinGW-w64 toolchain files that both Windows targets share; the
# including file sets CMAKE_SYSTEM_PROCESSOR and QUORLIX_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives the C++ library its mutexes (GoogleTest needs
# them); its threading library is linked in statically like the other runtimes.
find_program(CMAKE_C_COMPILER NAMES ${QUORLIX_MINGW_PREFIX}-gcc-posix ${QUORLIX_MINGW_PREFIX}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${QUORLIX_MINGW_PREFIX}-g++-posix ${QUORLIX_MINGW_PREFIX}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUORLIX_MINGW_PREFIX}-windres REQUIRED)
find_program(CMAKE_OBJDUMP NAMES ${QUORLIX_MINGW_PREFIX}-objdump REQUIRED)
# The MinGW import library is made from the module-definition file.
find_program(QUORLIX_DLLTOOL NAMES ${QUORLIX_MINGW_PREFIX}-dlltool REQUIRED)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORLIX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests of Windows programs run under Wine. The 64-bit tests call Wine's 64-bit
# loader itself: the `wine` script prefers the 32-bit one, which a kernel
# without 32-bit support cannot start.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  find_program(QUORLIX_WINE NAMES wine64 PATHS /usr/lib/wine /usr/lib64/wine)
endif()
find_program(QUORLIX_WINE NAMES wine)
if(QUORLIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUORLIX_WINE})
endif()
