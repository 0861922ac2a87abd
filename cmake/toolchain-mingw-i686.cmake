# Cross-compiles a 32-bit Windows program with Debian's MinGW-w64 (win32 thread model).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain-common.cmake)
