# Cross build of QUORLIX.dll and its Windows test hosts with Debian's i686 MinGW-w64
# compiler (packages g++-mingw-w64-i686, binutils-mingw-w64-i686). The test hosts
# run under Wine (packages wine, wine32, wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORLIX_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)
