# Packages: make package (cpack -G DEB in build/default) on Linux, make package-windows
# (NSIS installer and zip in build/windows) for Windows.
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "Ostrel project")
set(CPACK_PACKAGE_CONTACT "Ostrel maintainers <maintainers@ostrel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "programmer for the Ostrel power-supply controller")
set(CPACK_PACKAGE_DESCRIPTION
    "Shows the live status of an Ostrel power-supply controller attached over USB (voltages, temperature, state, mode, firmware version, flags) and reads and writes its stored parameters. ostrel-sim runs the same window on a simulated controller.")
set(CPACK_STRIP_FILES ON)

if(OSTREL_PLATFORM STREQUAL "windows")
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
  return()
endif()

# The Debian package depends on Debian's own Qt: dpkg-shlibdeps finds the libraries the
# programs link; the platform plugins and the dialog fonts are loaded at run time, so they
# are named here.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-dejavu-core, fonts-dejavu-extra")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev")

include(CPack)
