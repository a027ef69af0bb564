# Our own code builds warning-free; third-party code is not held to it.
# Fatal warnings are for the presets and CI: a plain build with another
# compiler release, whose new or mistaken warnings we have not seen yet,
# must still succeed.
# C++ only: the resource compiler takes no such options.
option(KESTRUNE_WERROR "Treat compiler warnings in Kestrune's own code as errors" OFF)

function(kestrune_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra $<$<BOOL:${KESTRUNE_WERROR}>:-Werror>>)
endfunction()
