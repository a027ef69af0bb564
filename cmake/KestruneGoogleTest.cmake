# GoogleTest for the tests: the system's package natively; when cross-building
# there is no package for the target, so it is built from Debian's sources
# with the same toolchain.
if(CMAKE_CROSSCOMPILING)
  set(KESTRUNE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)  # Win32 threads serve it there
  # Defines the GTest:: names the package would.
  add_subdirectory(${KESTRUNE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
else()
  find_package(GTest REQUIRED)
endif()
