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

# A GoogleTest executable registered with CTest: ostrel_add_gtest(name SOURCES ... LIBS ... [LABELS ...])
function(ostrel_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} ostrel_test_support GTest::gtest GTest::gtest_main)
  ostrel_test_warnings(${name})
  set(labels unit ${ARG_LABELS})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  # gtest_discover_tests flattens a list given in PROPERTIES (only the first label would
  # stick), so the labels are set on the discovered tests afterwards.
  set(label_script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
  file(WRITE "${label_script}"
       "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES LABELS \"${labels}\")\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${label_script}")
endfunction()
