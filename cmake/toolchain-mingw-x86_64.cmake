# Cross-compiles the same code as a 64-bit Windows program, for machines whose kernel runs no 32-bit x86
# code, where Wine can start only 64-bit programs: the tests then run this build
# (see tests/harness/wine-arch.sh).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-toolchain-common.cmake)
