# Our own code builds warning-free; third-party code is not held to it.
# C++ only: the resource compiler takes no such options.
function(kestrune_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Werror>)
endfunction()
