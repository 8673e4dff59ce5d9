# Test registration, one function for every test binary of the project.
#
# Natively each GoogleTest case is its own CTest entry. When cross-compiling for Windows
# every test binary runs under Wine, whose start costs seconds: each binary is then ONE
# CTest entry that runs all its cases in one Wine process.
enable_testing()

if(CMAKE_CROSSCOMPILING AND CMAKE_SYSTEM_NAME STREQUAL "Windows")
  set(OSTREL_TEST_UNDER_WINE ON)
else()
  set(OSTREL_TEST_UNDER_WINE OFF)
endif()

if(OSTREL_TEST_UNDER_WINE)
  # GoogleTest for the target, from Debian's sources (they define GTest::gtest and GTest::gtest_main).
  set(OSTREL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the target")
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  add_subdirectory(${OSTREL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

  find_program(OSTREL_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(OSTREL_WINESERVER NAMES wineserver PATHS /usr/lib/wine NO_DEFAULT_PATH)
  if(NOT OSTREL_WINE OR NOT OSTREL_WINESERVER)
    message(FATAL_ERROR "Windows tests run under Wine: install wine64 (make deps)")
  endif()
  set(OSTREL_WINEPREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.sh.in ${CMAKE_BINARY_DIR}/wine-run.sh
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE
                 @ONLY)
  # Every executable made after this point runs through it in add_test.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run.sh)

  # The persistent server started by wine-run.sh ends with the test run; no server is
  # nothing to stop.
  add_test(NAME wine_shutdown
           COMMAND sh -c "WINEPREFIX='${OSTREL_WINEPREFIX}' '${OSTREL_WINESERVER}' -k 2>/dev/null; exit 0")
  set_tests_properties(wine_shutdown PROPERTIES FIXTURES_CLEANUP wine LABELS wine)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
endif()

# The one way to register a test program: a GoogleTest executable, as CTest entries.
#   ostrel_add_gtest(name SOURCES ... [LIBS ...] [LABELS ...] [QT] [WINDOWS])
# Every test is labelled `unit`, and `wine` when it runs under Wine. QT: real Qt widgets
# on Qt's offscreen platform, with the binary's own main (a QApplication); label `qt`.
# WINDOWS: real Win32 dialogs; under Wine they need an X display, so the binary runs inside
# its own Xvfb in a prefix of its own (a prefix's desktop belongs to the Wine process that
# first needs one, and the other tests run without a display); label `window`.
function(ostrel_add_gtest name)
  cmake_parse_arguments(ARG "QT;WINDOWS" "" "SOURCES;LIBS;LABELS" ${ARGN})
  set(labels unit ${ARG_LABELS})
  if(ARG_QT)
    add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/qt/tests/QtTestMain.cpp)
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ostrel_qt Qt6::Widgets Qt6::Test
                                          ostrel_test_support GTest::gtest)
    list(APPEND labels qt)
  else()
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE ${ARG_LIBS} ostrel_test_support GTest::gtest
                                          GTest::gtest_main)
  endif()
  ostrel_test_warnings(${name})
  if(ARG_WINDOWS)
    list(APPEND labels window)
  endif()
  if(OSTREL_TEST_UNDER_WINE)
    list(APPEND labels wine)
    if(ARG_WINDOWS)
      ostrel_add_wine_window_test(${name} "${labels}")
    else()
      add_test(NAME ${name} COMMAND ${name})
      set_tests_properties(${name} PROPERTIES LABELS "${labels}" FIXTURES_REQUIRED wine)
    endif()
    return()
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  # gtest_discover_tests flattens a list given in PROPERTIES (only the first label would
  # stick), so the properties are set on the discovered tests afterwards.
  set(properties "LABELS \"${labels}\"")
  if(ARG_QT)
    string(APPEND properties " ENVIRONMENT QT_QPA_PLATFORM=offscreen")
  endif()
  set(label_script "${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake")
  file(WRITE "${label_script}"
       "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} PROPERTIES ${properties})\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${label_script}")
endfunction()

# A window test program under Wine: in its own Xvfb and prefix, whose server stops at the
# end of the run.
function(ostrel_add_wine_window_test name labels)
  find_program(OSTREL_XVFB_RUN xvfb-run REQUIRED)
  set(prefix ${CMAKE_BINARY_DIR}/wine-prefix-windows)
  add_test(NAME ${name}
           COMMAND ${CMAKE_COMMAND} -E env OSTREL_WINE_PREFIX=${prefix}
                   ${OSTREL_XVFB_RUN} -a -s "-screen 0 1024x768x24 -nolisten tcp"
                   ${PROJECT_SOURCE_DIR}/cmake/run-window-tests.sh ${CMAKE_CROSSCOMPILING_EMULATOR}
                   $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES LABELS "${labels}" FIXTURES_REQUIRED wine_windows)
  if(NOT TEST wine_windows_shutdown)
    add_test(NAME wine_windows_shutdown
             COMMAND ${CMAKE_COMMAND} -E env WINEPREFIX=${prefix} ${OSTREL_WINESERVER} -k)
    set_tests_properties(wine_windows_shutdown PROPERTIES LABELS "wine;window"
                         FIXTURES_CLEANUP wine_windows)
  endif()
endfunction()
