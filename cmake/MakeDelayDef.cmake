# Writes a .def file listing every function that MinGW's import library IMPLIB exports, named as the
# import library names them (decorated stdcall names in a 32-bit build, plain ones in a 64-bit build), for
# dlltool to turn into a delay-load library.
execute_process(COMMAND ${NM} -g --defined-only ${IMPLIB} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
if(ARCH STREQUAL "x86_64")
  string(REGEX MATCHALL " T [A-Za-z][A-Za-z0-9_]*\n" found "${symbols}")
else()
  string(REGEX MATCHALL " T _[A-Za-z0-9_]+@[0-9]+" found "${symbols}")
endif()
set(text "LIBRARY \"${DLL}.dll\"\nEXPORTS\n")
list(REMOVE_DUPLICATES found)
foreach(entry IN LISTS found)
  string(REGEX REPLACE "^ T _?" "" name "${entry}")
  string(STRIP "${name}" name)
  string(APPEND text "${name}\n")
endforeach()
file(WRITE "${OUT}" "${text}")
