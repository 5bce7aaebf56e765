# Cross build of the 64-bit QUORLIX.dll and its Windows test hosts with Debian's
# x86_64 MinGW-w64 compiler (packages g++-mingw-w64-x86-64, binutils-mingw-w64-x86-64).
# The test hosts run under 64-bit Wine (package wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUORLIX_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)
