# The project's version, set once in project(), reaches every place that
# shows it. The Win32 dialog template keeps its label as it always was, so
# the build refuses to go on when the two disagree.
file(STRINGS "${PROJECT_SOURCE_DIR}/ui/resources/kestrune.rc" kestrune_dialog_label
     REGEX "\"Ver\\.[^\"]*\"")
if(NOT kestrune_dialog_label MATCHES "\"Ver\\.${PROJECT_VERSION}\"")
  message(FATAL_ERROR "ui/resources/kestrune.rc shows another version than ${PROJECT_VERSION}: "
                      "${kestrune_dialog_label}")
endif()

# A VERSIONINFO resource for a Windows program, in a script of its own so
# the dialog's resource script stays untouched.
function(kestrune_version_resource target description)
  set(KESTRUNE_FILE_DESCRIPTION "${description}")
  set(KESTRUNE_FILE_NAME "$<TARGET_FILE_NAME:${target}>")
  set(KESTRUNE_INTERNAL_NAME "${target}")
  set(script "${PROJECT_BINARY_DIR}/generated/${target}-version.rc")
  configure_file("${PROJECT_SOURCE_DIR}/cmake/version.rc.in" "${script}.in" @ONLY)
  file(GENERATE OUTPUT "${script}" INPUT "${script}.in")
  target_sources(${target} PRIVATE "${script}")
endfunction()
