# GoogleTest is built from the sources Debian's googletest package installs, with the
# compiler of the current build, so the same tests run natively and under Wine.
set(KVX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest source tree")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${KVX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
# Its speed does not matter and nobody steps through it: built quickly, without debug information.
foreach(target gtest gtest_main gmock gmock_main)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -Og -g0)
  endif()
endforeach()
