# Debian's hardening for the build the package ships: the flags dpkg-buildflags gives with
# every hardening feature on (stack protector strong, _FORTIFY_SOURCE=2, format checks,
# RELRO, immediate binding), control-flow and stack clash protection, and
# position-independent executables. The build type keeps its own -O and -g. The sanitizer
# presets leave it off: their instrumentation does the checking there, and the fortified
# wrappers would only slow them down.
option(OSTREL_HARDENING "Build with Debian's hardening flags, as the package ships" OFF)

# For the programs the package installs. The toolchain's version stamps (.comment) are of
# no use in an installed program. Only what a program uses goes into it: the linker drops
# every function and datum no one calls (each in a section of its own, below), most of the
# static C++ runtime among them, and packs the relative relocations (glibc 2.36's DT_RELR),
# which also leaves the loader less to do at each start.
function(ostrel_packaged_program target)
  if(OSTREL_HARDENING)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_OBJCOPY} --remove-section=.comment $<TARGET_FILE:${target}>
      VERBATIM)
    target_link_options(${target} PRIVATE -Wl,--gc-sections)
    if(OSTREL_LINKER_PACKS_RELATIVE_RELOCS)
      target_link_options(${target} PRIVATE -Wl,-z,pack-relative-relocs)
    endif()
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
# What Debian 12's dpkg-buildflags does not give yet: control-flow protection (CET's
# endbr64 landing pads and shadow-stack marking) and stack clash probes, where the compiler
# takes them.
include(CheckCXXCompilerFlag)
foreach(flag -fcf-protection=full -fstack-clash-protection)
  string(MAKE_C_IDENTIFIER "OSTREL_CXX_HAS${flag}" known)
  check_cxx_compiler_flag(${flag} ${known})
  if(${known})
    list(APPEND hardening_cxxflags ${flag})
  endif()
endforeach()
# Debian 12's C start files (crti.o, crtn.o, Scrt1.o) carry no CET property note, so the
# linker would drop the marking every object of ours earns with -fcf-protection; the
# linker's -z ibt and -z shstk keep it. Their code is plain calls and returns (sound under a
# shadow stack); that _init has no end-branch instruction would matter only where user
# space runs with indirect branch tracking enforced, which Linux does not do.
include(CheckLinkerFlag)
if("-fcf-protection=full" IN_LIST hardening_cxxflags)
  check_linker_flag(CXX "LINKER:-z,ibt,-z,shstk" OSTREL_LINKER_HAS_CET_MARKING)
  if(OSTREL_LINKER_HAS_CET_MARKING)
    list(APPEND hardening_ldflags "-Wl,-z,ibt,-z,shstk")
  endif()
endif()
add_compile_options(${hardening_cppflags} ${hardening_cxxflags})
add_link_options(${hardening_ldflags})
# For ostrel_packaged_program's dropping of what no one uses.
add_compile_options(-ffunction-sections -fdata-sections)
check_linker_flag(CXX "LINKER:-z,pack-relative-relocs" OSTREL_LINKER_PACKS_RELATIVE_RELOCS)

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
list(JOIN hardening_cppflags " " shown_cppflags)
list(JOIN hardening_cxxflags " " shown_cxxflags)
list(JOIN hardening_ldflags " " shown_ldflags)
message(STATUS "Hardening: ${shown_cppflags} ${shown_cxxflags} ${shown_ldflags} -fPIE -pie")
