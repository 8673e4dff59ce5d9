# The programs of the Windows packages (cmake/PackagingWindows.cmake), registered where they
# are defined: ostrel_windows_program(target [menu_name] [NO_MENU_ENTRY]) installs the
# target at the top of the install folder and gives it a Start-menu entry (default name: the
# target's), unless NO_MENU_ENTRY: a console program, started from a command prompt, which
# goes alone into the folder bin, which the installer offers to put on the PATH.
function(ostrel_windows_program target)
  cmake_parse_arguments(ARG "NO_MENU_ENTRY" "" "" ${ARGN})
  set(menu_name ${ARG_UNPARSED_ARGUMENTS})
  if(NOT menu_name)
    set(menu_name ${target})
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  if(ARG_NO_MENU_ENTRY)
    set(folder bin)
    set(file bin/${output_name}.exe)
  else()
    set(folder .)
    set(file ${output_name}.exe)
  endif()
  install(TARGETS ${target} RUNTIME DESTINATION ${folder})
  set_property(GLOBAL APPEND PROPERTY OSTREL_WINDOWS_PROGRAMS ${target})
  set_property(GLOBAL APPEND PROPERTY OSTREL_WINDOWS_PROGRAM_FILES ${file})
  if(NOT ARG_NO_MENU_ENTRY)
    set_property(GLOBAL APPEND PROPERTY OSTREL_WINDOWS_MENU_LINKS ${output_name}.exe "${menu_name}")
  endif()
endfunction()

