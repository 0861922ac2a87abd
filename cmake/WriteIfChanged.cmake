# Writes text to path only when it differs from what the file holds, so that an unchanged generated
# source rebuilds nothing. Included by the build's -P scripts.
function(write_if_changed path text)
  if(EXISTS "${path}")
    file(READ "${path}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${path}" "${text}")
  endif()
endfunction()
