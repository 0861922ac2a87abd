# Whether a RELEASE_HOST can be the release server users reach. Names reserved for examples, tests and
# this machine never resolve to it: a web setup built for one fails on every user's machine. The same
# rule is release_tool/release_host.cpp's, which the release tool applies to the host built into it.
#   include(ReleaseHost.cmake); release_host_problem("${RELEASE_HOST}" problem)
#       problem is empty for a host that can be the release server, otherwise why it cannot, as the end
#       of a sentence about it ("is under .example, …")
#   cmake -DHOST=releases.brimlow.example -P ReleaseHost.cmake
#       prints that reason, or nothing
function(release_host_problem host out_var)
  # The name without a port (host:443) and without a trailing dot, in lower case.
  string(TOLOWER "${host}" name)
  string(REGEX REPLACE ":[0-9]*$" "" name "${name}")
  string(REGEX REPLACE "\\.$" "" name "${name}")
  if(name STREQUAL "")
    set(problem "is empty")
  elseif(name MATCHES "(^|\\.)(example|test|invalid)$")
    string(REGEX MATCH "[a-z0-9-]+$" tld "${name}")
    set(problem "is under .${tld}, a name reserved for examples and tests that never resolves")
  elseif(name MATCHES "(^|\\.)example\\.(com|net|org)$")
    set(problem "is under a domain reserved for documentation")
  elseif(name MATCHES "(^|\\.)localhost$" OR name MATCHES "^127\\.")
    set(problem "is this machine, not a server that users can reach")
  else()
    set(problem "")
  endif()
  set(${out_var} "${problem}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  release_host_problem("${HOST}" problem)
  if(problem)
    execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "${problem}")
  endif()
endif()
