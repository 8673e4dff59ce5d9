# The Windows packages (make package-windows: cpack in build/windows): the installer
# ostrel-<version>-setup.exe (NSIS, 64-bit) and the zip ostrel-<version>-win64.zip, both
# holding the programs registered with ostrel_windows_program(), at the top of the
# install folder. Included at the end of the top-level CMakeLists, after every program.

# Programs by their usual target names join unless registered already.
get_property(registered GLOBAL PROPERTY OSTREL_WINDOWS_PROGRAMS)
if(TARGET ostrel AND NOT "ostrel" IN_LIST registered)
  ostrel_windows_program(ostrel "Ostrel Programmer")
endif()
if(TARGET ostrel-sim AND NOT "ostrel-sim" IN_LIST registered)
  ostrel_windows_program(ostrel-sim "Ostrel Programmer (simulated controller)")
endif()
get_property(OSTREL_PACKAGED_PROGRAMS GLOBAL PROPERTY OSTREL_WINDOWS_PROGRAMS)
get_property(OSTREL_PACKAGED_FILES GLOBAL PROPERTY OSTREL_WINDOWS_PROGRAM_FILES)
get_property(CPACK_NSIS_MENU_LINKS GLOBAL PROPERTY OSTREL_WINDOWS_MENU_LINKS)

set(CPACK_GENERATOR "NSIS;ZIP")
# The programs ship stripped (the toolchain's strip): a third of their built size.
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Ostrel")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Ostrel")
set(CPACK_NSIS_PACKAGE_NAME "Ostrel Programmer")
set(CPACK_NSIS_DISPLAY_NAME "Ostrel Programmer")
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
# The licence page shows the project's licence; the installer, the uninstaller and the
# uninstall entry carry the programmer's icon, and the pages its pictures
# (scripts/render-artwork.sh) in place of NSIS's own.
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_NSIS_MUI_ICON "${PROJECT_SOURCE_DIR}/win32/resources/ostrel.ico")
set(CPACK_NSIS_MUI_UNIICON "${PROJECT_SOURCE_DIR}/win32/resources/ostrel.ico")
set(CPACK_NSIS_MUI_HEADERIMAGE "${PROJECT_SOURCE_DIR}/dist/windows/header.bmp")
set(CPACK_NSIS_MUI_WELCOMEFINISHPAGE_BITMAP "${PROJECT_SOURCE_DIR}/dist/windows/welcome.bmp")
set(CPACK_NSIS_MUI_UNWELCOMEFINISHPAGE_BITMAP "${PROJECT_SOURCE_DIR}/dist/windows/welcome.bmp")
# What Settings > Apps shows of the installation beside the name, the publisher
# (CPACK_PACKAGE_VENDOR) and the version: the icon and who built it. No help link: the
# project has no site.
set(CPACK_NSIS_INSTALLED_ICON_NAME "ostrel.exe")
set(CPACK_NSIS_CONTACT "${CPACK_PACKAGE_CONTACT}")
# A page offers to put the folder bin, where ostrelctl.exe is alone, on the PATH (for all
# users or the current one); by default it stays off. The page's texts are ours
# (dist/windows/NSIS.InstallOptions.ini.in), without CPack's desktop icon choice, which has
# no program here to act on. Uninstalling takes the folder off.
set(CPACK_NSIS_MODIFY_PATH ON)
set(CPACK_MODULE_PATH "${PROJECT_SOURCE_DIR}/dist/windows")
# makensis builds 32-bit installers unless told otherwise; the programs are 64-bit. FileFunc
# reads the installer's own switches.
set(CPACK_NSIS_DEFINES "Target amd64-unicode\n!include FileFunc.nsh")
# A silent installation, as fleets and benches deploy, has no page: /PATH=all, /PATH=user or
# /PATH=no says what the page would. Any other value is refused before anything is installed
# (the folder made for the files is left again, and removed, once it is not the current one).
set(CPACK_NSIS_EXTRA_PREINSTALL_COMMANDS "\${GetParameters} $R0
  ClearErrors
  \${GetOptions} $R0 \"/PATH=\" $R1
  IfErrors ostrel_path_checked
  StrCmp $R1 \"all\" ostrel_path_checked
  StrCmp $R1 \"user\" ostrel_path_checked
  StrCmp $R1 \"no\" ostrel_path_checked
    MessageBox MB_OK|MB_ICONSTOP \"/PATH= takes all, user or no, not $R1; nothing was installed\" /SD IDOK
    SetOutPath \"$TEMP\"
    RMDir \"$INSTDIR\"
    SetErrorLevel 2
    Quit
  ostrel_path_checked:")
# Where the switch is given, it decides in place of the page, and the uninstaller, which reads
# the choice back from the uninstall entry, takes the folder off the same PATH.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS "\${GetParameters} $R0
  ClearErrors
  \${GetOptions} $R0 \"/PATH=\" $R1
  IfErrors ostrel_path_kept
  StrCpy $DO_NOT_ADD_TO_PATH \"1\"
  StrCpy $ADD_TO_PATH_ALL_USERS \"0\"
  StrCpy $ADD_TO_PATH_CURRENT_USER \"0\"
  StrCmp $R1 \"all\" 0 ostrel_path_not_all
    StrCpy $DO_NOT_ADD_TO_PATH \"0\"
    StrCpy $ADD_TO_PATH_ALL_USERS \"1\"
  ostrel_path_not_all:
  StrCmp $R1 \"user\" 0 ostrel_path_not_user
    StrCpy $DO_NOT_ADD_TO_PATH \"0\"
    StrCpy $ADD_TO_PATH_CURRENT_USER \"1\"
  ostrel_path_not_user:
  Push \"DoNotAddToPath\"
  Push $DO_NOT_ADD_TO_PATH
  Call ConditionalAddToRegistry
  Push \"AddToPathAllUsers\"
  Push $ADD_TO_PATH_ALL_USERS
  Call ConditionalAddToRegistry
  Push \"AddToPathCurrentUser\"
  Push $ADD_TO_PATH_CURRENT_USER
  Call ConditionalAddToRegistry
  ostrel_path_kept:")
# The installer leaves its own key below the vendor's; the vendor's key goes with it.
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "DeleteRegKey SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\"
  DeleteRegKey /ifempty SHCTX \"Software\\${CPACK_PACKAGE_VENDOR}\"")
# The values above go to CPack as they stand, quotes and backslashes included.
set(CPACK_VERBATIM_VARIABLES ON)

# One file name per generator.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackWindowsNames.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "\
if(CPACK_GENERATOR STREQUAL \"NSIS\")
  set(CPACK_PACKAGE_FILE_NAME \"ostrel-\${CPACK_PACKAGE_VERSION}-setup\")
else()
  set(CPACK_PACKAGE_FILE_NAME \"ostrel-\${CPACK_PACKAGE_VERSION}-win64\")
endif()
")

# A build without programs has nothing to install: cpack says so instead of making an
# installer of the uninstaller alone.
if(NOT OSTREL_PACKAGED_PROGRAMS)
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/CPackNoPrograms.cmake)
  file(WRITE ${CPACK_PRE_BUILD_SCRIPTS}
       "message(FATAL_ERROR \"This build has no Windows program to package\")\n")
endif()

include(CPack)

# Installs and uninstalls the setup silently under Wine and looks for anything left behind.
find_program(OSTREL_MAKENSIS makensis)
if(OSTREL_PACKAGED_PROGRAMS AND OSTREL_MAKENSIS AND OSTREL_TEST_UNDER_WINE)
  # The menu links are pairs of file and entry name.
  list(LENGTH CPACK_NSIS_MENU_LINKS menu_entries)
  math(EXPR menu_entries "${menu_entries} / 2")
  add_test(NAME windows_installer
    COMMAND ${PROJECT_SOURCE_DIR}/dist/windows/installer-test.sh
            --build ${CMAKE_BINARY_DIR} --run ${CMAKE_BINARY_DIR}/wine-run.sh
            --prefix ${OSTREL_WINEPREFIX} --setup ostrel-${PROJECT_VERSION}-setup.exe
            --version ${PROJECT_VERSION} --publisher "${CPACK_PACKAGE_VENDOR}"
            --menu-entries ${menu_entries} ${OSTREL_PACKAGED_FILES})
  set_tests_properties(windows_installer PROPERTIES LABELS "package;wine" FIXTURES_REQUIRED wine
                       TIMEOUT 300)
endif()
