# Front ends (ui/, cli/) see the core only through its public headers; the
# rest of core/ may change without them noticing. Configuring fails when a
# front-end file includes any other core header.
set(kestrune_public_core_headers
  core/algorithms.h
  core/container_names.h
  core/files/file_system.h
  core/front_end.h
  core/kestrune.h
  core/messages.h
  core/outcome.h
  core/secret_memory.h
  core/services.h
)

function(kestrune_check_front_end_includes)
  file(GLOB_RECURSE front_end_files RELATIVE ${PROJECT_SOURCE_DIR}
       ${PROJECT_SOURCE_DIR}/ui/*.h ${PROJECT_SOURCE_DIR}/ui/*.cpp
       ${PROJECT_SOURCE_DIR}/cli/*.h ${PROJECT_SOURCE_DIR}/cli/*.cpp)
  set(violations "")
  foreach(file IN LISTS front_end_files)
    file(STRINGS ${PROJECT_SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"core/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" header "${line}")
      if(NOT header IN_LIST kestrune_public_core_headers)
        string(APPEND violations "\n  ${file}: ${header}")
      endif()
    endforeach()
  endforeach()
  if(violations)
    message(FATAL_ERROR "Front ends include internal core headers:${violations}")
  endif()
endfunction()

kestrune_check_front_end_includes()
