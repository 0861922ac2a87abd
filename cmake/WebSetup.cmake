# Build helpers shared by the program, its test variants and the tools.

# Reproducible output: two builds of one commit in different folders give the same bytes, so nothing
# that names the build machine's folders (__FILE__, debug info) may reach an object. The build folder
# comes last: it lies inside the source folder in the usual layout, and the last matching map wins.
add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=
                    -ffile-prefix-map=${CMAKE_BINARY_DIR}/=build/)

# Warnings are errors in our own code only (not in GoogleTest).
function(websetup_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Werror)
endfunction()

# One object library per configuration: the compiled-in host and publisher live in one generated file.
# A test configuration may shorten the network's limits: TIME_LIMITS manifest request receive (ms).
# The program's own configuration never does.
function(websetup_config name host publisher)
  if(TARGET websetup_config_${name})
    return()
  endif()
  cmake_parse_arguments(C "" "" "TIME_LIMITS" ${ARGN})
  if(NOT C_TIME_LIMITS)
    set(C_TIME_LIMITS 60000 60000 30000)
  endif()
  list(GET C_TIME_LIMITS 0 MANIFEST_TIME_LIMIT_MS)
  list(GET C_TIME_LIMITS 1 REQUEST_TIME_LIMIT_MS)
  list(GET C_TIME_LIMITS 2 RECEIVE_TIMEOUT_MS)
  set(RELEASE_HOST "${host}")
  set(EXPECTED_PUBLISHER "${publisher}")
  set(out "${CMAKE_BINARY_DIR}/config/${name}/build_config.cpp")
  configure_file("${PROJECT_SOURCE_DIR}/src/common/build_config.cpp.in" "${out}" @ONLY)
  add_library(websetup_config_${name} OBJECT "${out}")
  target_include_directories(websetup_config_${name} PUBLIC "${PROJECT_SOURCE_DIR}/src")
  if(TARGET websetup_shipped)
    target_link_libraries(websetup_config_${name} PRIVATE websetup_shipped)
  endif()
  websetup_warnings(websetup_config_${name})
endfunction()

if(WIN32)
  # A program we ship (the web setup or quillo-release), from its code compiled as websetup_shipped below:
  # linked statically, with unused sections dropped, and stripped, since the symbol table would carry
  # the source files' absolute paths. Its PE header has no link time (zero), so that a rebuild of the
  # commit matches byte for byte. Subsystem and OS version 6.0: the programs run on Windows 10 and 11 only, and 6.0 is
  # what current toolchains mark a Vista-or-later program with. ASLR with relocations kept, DEP, terminal
  # server aware (no INI or registry redirection is needed), and no SEH: neither our code nor the
  # MinGW-w64 CRT, libgcc (DWARF unwinding) or libstdc++ linked in registers a handler in fs:[0], so the
  # system may refuse any handler claimed for the image. tests/setup/check_executable.py holds both
  # executables to all of this.
  function(websetup_shipped_program target)
    target_link_libraries(${target} PRIVATE websetup_shipped)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++ -municode -s -Wl,--gc-sections
      -Wl,--no-insert-timestamp
      -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,0
      -Wl,--major-os-version,6 -Wl,--minor-os-version,0
      -Wl,--dynamicbase -Wl,--enable-reloc-section -Wl,--nxcompat -Wl,--tsaware -Wl,--no-seh)
    websetup_warnings(${target})
  endfunction()

  # Every C++ file of the Windows build, the tests' included, sees the same Windows headers: the same
  # definitions, and common/platform_compat.h read before any other header, since it decides how
  # CryptoAPI is declared before wincrypt.h is read (a call declared the usual way would jump to 0).
  # The build puts it first, so no file has to remember to.
  add_library(websetup_windows_api INTERFACE)
  target_compile_definitions(websetup_windows_api INTERFACE UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                             _WIN32_WINNT=0x0A00 WINVER=0x0A00 __USE_MINGW_ANSI_STDIO=0)
  target_compile_options(websetup_windows_api INTERFACE
    "$<$<COMPILE_LANGUAGE:CXX>:SHELL:-include ${PROJECT_SOURCE_DIR}/src/common/platform_compat.h>")

  # What the code of the programs we ship is compiled with. Size matters for a stub that users download
  # first: optimised for size, with unused sections dropped at link time. The code throws nothing and
  # catches nothing, so it needs no exception tables, no landing pads and no type information (virtual
  # functions work without it). Its unwind tables go too on 32-bit x86, where only C++ exceptions read
  # them; x64 Windows walks every stack through its own unwind tables, so the 64-bit build keeps them.
  # Linked privately, so that it reaches no test program through the libraries.
  add_library(websetup_shipped INTERFACE)
  target_link_libraries(websetup_shipped INTERFACE websetup_windows_api)
  target_compile_options(websetup_shipped INTERFACE
    $<$<COMPILE_LANGUAGE:CXX>:-Os -ffunction-sections -fdata-sections -fno-exceptions -fno-rtti>)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
    target_compile_options(websetup_shipped INTERFACE
      $<$<COMPILE_LANGUAGE:CXX>:-fno-asynchronous-unwind-tables -fno-unwind-tables>)
  endif()

  # A C or C++ program or DLL compiled for 32-bit x86 beside a 64-bit test build (see
  # tests/harness/wine-arch.sh), for a package or helper whose role needs one. Makes target NAME and
  # sets OUT_VAR to the file it builds. FLAGS go to the compiler, LIBS after the source; PREPARE is a
  # command to run first (a resource compile whose object is among FLAGS), DEPENDS what else the file is
  # made from.
  function(websetup_i686_binary name source out_var)
    cmake_parse_arguments(B "" "SUFFIX" "FLAGS;LIBS;PREPARE;DEPENDS" ${ARGN})
    if(NOT B_SUFFIX)
      set(B_SUFFIX .exe)
    endif()
    set(compiler i686-w64-mingw32-gcc-win32)
    if(source MATCHES "\\.cpp$")
      set(compiler i686-w64-mingw32-g++-win32 -std=c++20)
    endif()
    set(out "${CMAKE_CURRENT_BINARY_DIR}/${name}${B_SUFFIX}")
    add_custom_command(OUTPUT "${out}" ${B_PREPARE}
      COMMAND ${compiler} -Os -static ${B_FLAGS} -o "${out}" "${source}" ${B_LIBS}
      DEPENDS "${source}" ${B_DEPENDS} VERBATIM)
    add_custom_target(${name} ALL DEPENDS "${out}")
    set(${out_var} "${out}" PARENT_SCOPE)
  endfunction()

  # Delay-load import libraries: the DLLs behind them load on first use, after wWinMain has restricted
  # the DLL search to System32. Exports are taken from MinGW's own import library for the DLL.
  function(websetup_delay_lib dll)
    set(lib "${CMAKE_BINARY_DIR}/delayload/lib${dll}_delay.a")
    # Hand-written .def files carry decorated 32-bit names; the 64-bit build has its own.
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
      set(def "${PROJECT_SOURCE_DIR}/cmake/delayload/x86_64/${dll}.def")
    else()
      set(def "${PROJECT_SOURCE_DIR}/cmake/delayload/${dll}.def")
    endif()
    # The library is made again whenever what it is made from changes: the hand-written list, or
    # MinGW's import library and the script that reads it.
    if(EXISTS "${def}")
      set(make_def "")
      set(inputs "${def}")
    else()
      set(def "${CMAKE_BINARY_DIR}/delayload/${dll}.def")
      set(implib "/usr/${MINGW_PREFIX}/lib/lib${dll}.a")
      set(make_def COMMAND "${CMAKE_COMMAND}" -DNM=${CMAKE_NM} -DDLL=${dll} -DARCH=${CMAKE_SYSTEM_PROCESSOR}
                           -DIMPLIB=${implib} -DOUT=${def} -P "${PROJECT_SOURCE_DIR}/cmake/MakeDelayDef.cmake")
      set(inputs "${implib}" "${PROJECT_SOURCE_DIR}/cmake/MakeDelayDef.cmake")
    endif()
    add_custom_command(OUTPUT "${lib}"
      COMMAND "${CMAKE_COMMAND}" -E make_directory "${CMAKE_BINARY_DIR}/delayload"
      ${make_def}
      COMMAND ${CMAKE_DLLTOOL} -k --def "${def}" --dllname ${dll}.dll --output-delaylib "${lib}"
      DEPENDS ${inputs}
      VERBATIM)
    add_custom_target(delay_${dll} DEPENDS "${lib}")
    add_library(delay::${dll} STATIC IMPORTED GLOBAL)
    set_target_properties(delay::${dll} PROPERTIES IMPORTED_LOCATION "${lib}")
    add_dependencies(delay::${dll} delay_${dll})
  endfunction()
endif()
