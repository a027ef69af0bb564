# Our own code builds warning-free; third-party code is not held to it.
function(kestrune_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
