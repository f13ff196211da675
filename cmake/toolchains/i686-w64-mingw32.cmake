# 32-bit Windows: orvlink.dll with MinGW-w64, __stdcall exports undecorated.
#   cmake -S . -B build-win32 --toolchain cmake/toolchains/i686-w64-mingw32.cmake
# Its programs need a 32-bit Wine, which this build does not look for.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORVLINK_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
