# Writes a .def file listing every function that MinGW's import library IMPLIB exports, decorated as
# the 32-bit stdcall names are, for dlltool to turn into a delay-load library.
execute_process(COMMAND ${NM} -g --defined-only ${IMPLIB} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
string(REGEX MATCHALL " T _[A-Za-z0-9_]+@[0-9]+" found "${symbols}")
set(text "LIBRARY \"${DLL}.dll\"\nEXPORTS\n")
list(REMOVE_DUPLICATES found)
foreach(entry IN LISTS found)
  string(REGEX REPLACE "^ T _" "" name "${entry}")
  string(APPEND text "${name}\n")
endforeach()
file(WRITE "${OUT}" "${text}")
