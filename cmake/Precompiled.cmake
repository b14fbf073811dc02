# Quicker builds. The Windows and DirectShow headers cost more to read than most of our sources
# do to compile, so Windows targets read them once, precompiled. Test programs also precompile
# GoogleTest and GoogleMock, and compile their own code for debugging (-Og, line tables) whatever
# the preset's optimisation: the product code they link keeps the preset's flags.

# Windows targets of ours: the product's Windows half, the host stand-in, the virtual card.
function(kvx_precompile_windows target)
  if(WIN32)
    target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/precompiled_windows.h)
  endif()
endfunction()

function(kvx_test_program target)
  target_precompile_headers(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/precompiled_tests.h)
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Og -g1>)
  endif()
endfunction()
