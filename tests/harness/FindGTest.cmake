# GoogleTest for the MinGW-w64 cross build. Debian ships GoogleTest for MinGW only as sources (package
# googletest): a build installed for this toolchain (a GTestConfig.cmake under its find root) is taken
# when there is one, else the sources are found and built here with the cross compiler. Set
# GTEST_SOURCE_DIR to use other sources. Gives GTest::gtest and GTest::gtest_main, as CMake's own module.

# Only under the toolchain's root: the host's GoogleTest is built for Linux.
find_package(GTest CONFIG QUIET ONLY_CMAKE_FIND_ROOT_PATH)
if(GTest_FOUND)
  return()
endif()

find_path(GTEST_SOURCE_DIR NAMES googletest/include/gtest/gtest.h PATHS /usr/src/googletest
          DOC "GoogleTest's sources, built with the cross compiler" NO_CMAKE_FIND_ROOT_PATH)
if(GTEST_SOURCE_DIR AND NOT TARGET gtest)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory("${GTEST_SOURCE_DIR}" "${CMAKE_BINARY_DIR}/googletest" EXCLUDE_FROM_ALL)
  # The win32 thread model has no std::mutex, which GoogleTest's Notification needs: give it one on an
  # event.
  target_compile_options(gtest PUBLIC -include "${CMAKE_CURRENT_LIST_DIR}/gtest_win32_notification.h")
endif()

include(FindPackageHandleStandardArgs)
find_package_handle_standard_args(GTest REQUIRED_VARS GTEST_SOURCE_DIR)
