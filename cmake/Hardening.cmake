# Debian's hardening for the build the package ships: the flags dpkg-buildflags gives with
# every hardening feature on (stack protector strong, _FORTIFY_SOURCE=2, format checks,
# RELRO, immediate binding), and position-independent executables. The build type keeps
# its own -O and -g. The sanitizer presets leave it off: their instrumentation does the
# checking there, and the fortified wrappers would only slow them down.
option(OSTREL_HARDENING "Build with Debian's hardening flags, as the package ships" OFF)

# For the programs the package installs. The toolchain's version stamps (.comment) are of
# no use in an installed program.
function(ostrel_packaged_program target)
  if(OSTREL_HARDENING)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:${target}>
      VERBATIM)
  endif()
endfunction()

if(NOT OSTREL_HARDENING)
  return()
endif()
if(NOT OSTREL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "OSTREL_HARDENING is for the plain build, not a sanitizer one")
endif()

find_program(DPKG_BUILDFLAGS dpkg-buildflags REQUIRED)
function(ostrel_buildflags variable out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env
            "DEB_BUILD_MAINT_OPTIONS=hardening=+all reproducible=-fixfilepath,-fixdebugpath"
            ${DPKG_BUILDFLAGS} --get ${variable}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g|O[0-9s]?)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

ostrel_buildflags(CPPFLAGS hardening_cppflags)
ostrel_buildflags(CXXFLAGS hardening_cxxflags)
ostrel_buildflags(LDFLAGS hardening_ldflags)
# dpkg-buildflags' own -ffile-prefix-map is one word of a space-separated list and is left
# out for a source path with spaces; given here as one argument, it keeps any path out of
# the binaries.
list(APPEND hardening_cxxflags "-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.")
add_compile_options(${hardening_cppflags} ${hardening_cxxflags})
add_link_options(${hardening_ldflags})

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
list(JOIN hardening_cppflags " " shown_cppflags)
list(JOIN hardening_cxxflags " " shown_cxxflags)
list(JOIN hardening_ldflags " " shown_ldflags)
message(STATUS "Hardening: ${shown_cppflags} ${shown_cxxflags} ${shown_ldflags} -fPIE -pie")
