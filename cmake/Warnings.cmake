# Strict warnings for the project's own code; warnings are errors.
set(OSTREL_BASE_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor
    -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough)
set(OSTREL_STRICT_WARNINGS ${OSTREL_BASE_WARNINGS} -Wold-style-cast -Wcast-qual -Wconversion
    -Wsign-conversion)

# Library and program code.
function(ostrel_strict_warnings target)
  target_compile_options(${target} PRIVATE ${OSTREL_STRICT_WARNINGS})
endfunction()

# Test code: the same base, without the conversion warnings that fight gtest's macros.
function(ostrel_test_warnings target)
  target_compile_options(${target} PRIVATE ${OSTREL_BASE_WARNINGS})
endfunction()
