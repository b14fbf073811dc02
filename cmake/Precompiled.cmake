# Quicker builds. The Windows and DirectShow headers cost more to read than most of our sources
# do to compile, so Windows targets read them once, precompiled. Test programs also precompile
# GoogleTest and GoogleMock, and compile their own code for debugging (-Og, line tables) whatever
# the preset's optimisation: the product code they link keeps the preset's flags.

# Windows targets of ours: the product's Windows half precompiles the headers; the host
# stand-in and the virtual card, compiled with the same flags, reuse its precompiled header.
function(kvx_precompile_windows target)
  if(NOT WIN32)
    return()
  endif()
  if(target STREQUAL "kvx_win")
    target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/precompiled_windows.h)
  else()
    target_precompile_headers(${target} REUSE_FROM kvx_win)
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
