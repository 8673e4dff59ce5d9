# Packages: make package (cpack -G DEB in build/default) on Linux, make package-windows
# (NSIS installer and zip in build/windows) for Windows.
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "Ostrel project")
set(CPACK_PACKAGE_CONTACT "${OSTREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "programmer for the Ostrel power-supply controller")
# The long description as dpkg shows it: one paragraph per line group, wrapped.
set(CPACK_PACKAGE_DESCRIPTION [[
The Ostrel is the power-supply controller of a vehicle-mounted computer,
attached over USB as a HID device. This programmer finds the controller,
shows its live status (input, ignition and rail voltages, temperature,
state, mode, firmware version and flags) and reads and writes its stored
parameters: thresholds, delays, retry counts and the off timers of each
mode.

A udev rule lets the user at the seat, or members of the group plugdev,
open the controller. ostrel-sim runs the same window on a simulated
controller, for trying the programmer without one.

ostrelctl does the same from the command line, and saves, restores and
compares a controller's settings as JSON files. Its metrics command, run by
the timer ostrel-metrics.timer once enabled, gives node_exporter's textfile
collector the figures of every controller for Prometheus.]])

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

# A package needs its maintainer: said before anything is packed.
if(OSTREL_MAINTAINER STREQUAL "")
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/CPackNoMaintainer.cmake)
  file(WRITE ${CPACK_PRE_BUILD_SCRIPTS} "message(FATAL_ERROR \"The packages need a maintainer: \
set DEBFULLNAME and DEBEMAIL, git's user.name and user.email, or OSTREL_PACKAGE_MAINTAINER\")\n")
endif()

# Stripped programs, their debug symbols in a separate ostrel-dbgsym package (by build id
# under /usr/lib/debug, as Debian's own -dbgsym packages). CPack splits and strips the
# files itself, so they reach it unstripped.
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/FixDebugPackage.cmake")

# The maintainer scripts apply the udev rule to a controller already plugged in and set up,
# then take away, the metrics timer's group, access and file.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/dist/debian/postinst;${PROJECT_SOURCE_DIR}/dist/debian/prerm;${PROJECT_SOURCE_DIR}/dist/debian/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
