# Cross-compiles for 64-bit x64 Windows.
set(QUIL_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
