# Cross-compiles for 32-bit x86 Windows.
set(QUIL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
