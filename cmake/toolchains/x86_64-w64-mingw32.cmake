# 64-bit Windows: orvlink.dll with MinGW-w64. Test programs run under Wine.
#   cmake -S . -B build-win64 --toolchain cmake/toolchains/x86_64-w64-mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORVLINK_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)

find_program(ORVLINK_WINE NAMES wine)
if(ORVLINK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ORVLINK_WINE})
endif()
