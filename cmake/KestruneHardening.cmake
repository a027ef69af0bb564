# Exploit mitigations for everything built here, as distributions build their
# packages: the programs handle passwords and files from anywhere.
include(CheckPIESupported)

set(KESTRUNE_HARDENING_DEFAULT ON)
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  set(KESTRUNE_HARDENING_DEFAULT OFF)
endif()
option(KESTRUNE_HARDENING "Build with stack protection, fortified functions, PIE and full RELRO"
       ${KESTRUNE_HARDENING_DEFAULT})

# Fortified calls need optimisation, and the sanitizers replace the same
# functions, so neither debug nor sanitizer builds get them.
function(kestrune_fortify_source)
  if(KESTRUNE_SANITIZE OR KESTRUNE_FUZZ)
    return()
  endif()
  set(level 2)
  if((CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
     OR (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 9))
    set(level 3)
  endif()
  # Some compilers predefine a level of their own.
  add_compile_options("$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=${level}>")
endfunction()

function(kestrune_harden_elf)
  kestrune_fortify_source()
  add_compile_options(-fstack-protector-strong -fstack-clash-protection)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i.86)$")
    add_compile_options(-fcf-protection)
  endif()
  add_link_options(-Wl,-z,relro,-z,now)
endfunction()

# MinGW-w64 has no -z options; the PE header asks for ASLR and DEP instead.
# The stack protector's runtime, libssp, is linked statically (the
# toolchain links everything with -static) so each .exe still runs alone.
function(kestrune_harden_pe)
  add_compile_options(-fstack-protector-strong)
  add_link_options(-fstack-protector-strong -Wl,--dynamicbase,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
  endif()
  # No link time in the header, so the same sources give the same .exe.
  add_link_options(-Wl,--no-insert-timestamp)
endfunction()

if(KESTRUNE_HARDENING)
  if(WIN32)
    kestrune_harden_pe()
  else()
    set(CMAKE_POSITION_INDEPENDENT_CODE ON)
    check_pie_supported()
    kestrune_harden_elf()
  endif()
endif()
