# Cross-compiles for Windows with mingw-w64 for the architecture QUIL_MINGW_ARCH (i686 or x86_64),
# set by the toolchain file that includes this one; tests run under Wine (cmake/Testing.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUIL_MINGW_ARCH})

set(CMAKE_C_COMPILER ${QUIL_MINGW_ARCH}-w64-mingw32-gcc)
set(CMAKE_CXX_COMPILER ${QUIL_MINGW_ARCH}-w64-mingw32-g++)
set(CMAKE_RC_COMPILER ${QUIL_MINGW_ARCH}-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUIL_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
