# Cross build of QUORLIX.dll and its Windows test hosts with Debian's i686 MinGW-w64
# compiler (packages g++-mingw-w64-i686, binutils-mingw-w64-i686). The test hosts
# run under Wine (packages wine, wine32, wine64).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUORLIX_MINGW_PREFIX i686-w64-mingw32)
# A 32-bit Windows host may call the DLL with its stack aligned to four bytes
# only, while the compiler keeps spilled SSE vectors in slots it takes to be
# aligned to sixteen: every function is told so, and those that keep vectors on
# the stack align their own frames.
set(CMAKE_C_FLAGS_INIT "-mincoming-stack-boundary=2")
set(CMAKE_CXX_FLAGS_INIT "-mincoming-stack-boundary=2")
include(${CMAKE_CURRENT_LIST_DIR}/mingw_common.cmake)
