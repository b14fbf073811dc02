# Quicker builds. The Windows and DirectShow headers cost more to read than most of our sources
# do to compile, so Windows targets read them once, precompiled. Test programs also precompile
# GoogleTest and GoogleMock, and compile their own code for debugging (-Og, line tables) whatever
# the preset's optimisation: the product code they link keeps the preset's flags.

# Windows targets of ours: kvx_win (the product's Windows half) and the host stand-in precompile
# the headers; a target compiled with the same flags as one of them reuses its header
# (REUSE_FROM <target>).
function(kvx_precompile_windows target)
  if(NOT WIN32)
    return()
  endif()
  if(ARGC GREATER 2 AND ARGV1 STREQUAL "REUSE_FROM")
    target_precompile_headers(${target} REUSE_FROM ${ARGV2})
  else()
    target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/precompiled_windows.h)
  endif()
endfunction()

# Test programs are also built as a few large files (unity builds), which saves reading the
# precompiled header once per test file.
function(kvx_test_program target)
  target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/precompiled_tests.h)
  set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 8)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Og -g1>)
  endif()
endfunction()
