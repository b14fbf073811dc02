# Warnings are errors in our own code; third-party code (GoogleTest) keeps its defaults.
function(kvx_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror -Wshadow
                                           -Wno-unknown-pragmas)
endfunction()
