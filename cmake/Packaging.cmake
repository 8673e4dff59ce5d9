# Packages: make package (cpack -G DEB in build/default) on Linux, make package-windows
# (NSIS installer and zip in build/windows) for Windows.
set(CPACK_PACKAGE_NAME ostrel)
set(CPACK_PACKAGE_VENDOR "Ostrel project")
set(CPACK_PACKAGE_CONTACT "${OSTREL_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "programmer for the Ostrel power-supply controller")
# The long description as the Windows packages show it.
set(CPACK_PACKAGE_DESCRIPTION [[
The Ostrel is the power-supply controller of a vehicle-mounted computer,
attached over USB as a HID device. This programmer finds the controller,
shows its live status (input, ignition and rail voltages, temperature,
state, mode, firmware version and flags) and reads and writes its stored
parameters: thresholds, delays, retry counts and the off timers of each
mode. ostrelctl does the same from the command line.]])

if(OSTREL_PLATFORM STREQUAL "windows")
  include(${CMAKE_CURRENT_LIST_DIR}/PackagingWindows.cmake)
  return()
endif()

# Two Debian packages: ostrelctl, the command line with everything a headless host needs
# (the udev rule, the metrics units, the completions, its manual page), and ostrel, the
# window and its demonstration, which uses the rule of ostrelctl. Each install() names its
# package as a component.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ostrelctl)
if(OSTREL_BUILD_GUI)
  list(APPEND CPACK_COMPONENTS_ALL ostrel)
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SOURCE ostrel)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_OSTRELCTL_PACKAGE_NAME ostrelctl)
set(CPACK_DEBIAN_OSTREL_PACKAGE_NAME ostrel)
# dpkg-shlibdeps finds the libraries the programs link; the window's platform plugins and
# dialog fonts are loaded at run time, so they are named here.
set(CPACK_DEBIAN_OSTREL_PACKAGE_DEPENDS
    "ostrelctl (= ${PROJECT_VERSION}), qt6-qpa-plugins, fonts-dejavu-core, fonts-dejavu-extra")
# libudev is loaded at run time (the hotplug watch); without it the watch searches by the
# clock.
set(CPACK_DEBIAN_OSTRELCTL_PACKAGE_RECOMMENDS "libudev1")
set(CPACK_DEBIAN_OSTRELCTL_PACKAGE_SUGGESTS "prometheus-node-exporter")
# Each package's first line is its own: the summary shared above stays out of them
# (CPackDeb would put it before each description).
set(CPACK_DEBIAN_OSTRELCTL_DESCRIPTION [[
command line for the Ostrel power-supply controller
The Ostrel is the power-supply controller of a vehicle-mounted computer,
attached over USB as a HID device. ostrelctl finds the controllers
attached, shows their live status, reads and writes their stored
parameters, and saves, restores and compares their settings as JSON files.

A udev rule lets the user at the seat, or members of the group plugdev,
open the controller. The metrics command, run by the timer
ostrel-metrics.timer once enabled, gives node_exporter's textfile
collector the figures of every controller for Prometheus.

The package needs no graphical environment; the window is in the package
ostrel.]])
set(CPACK_DEBIAN_OSTREL_DESCRIPTION [[
window to program the Ostrel power-supply controller
The Ostrel is the power-supply controller of a vehicle-mounted computer,
attached over USB as a HID device. This programmer finds the controller,
shows its live status (input, ignition and rail voltages, temperature,
state, mode, firmware version and flags) and reads and writes its stored
parameters: thresholds, delays, retry counts and the off timers of each
mode.

ostrel-sim runs the same window on a simulated controller, for trying the
programmer without one. The command line and the udev rule are in the
package ostrelctl.]])
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_BINARY_DIR}/CPackDebianConfig.cmake)
file(WRITE ${CPACK_PROJECT_CONFIG_FILE} "unset(CPACK_PACKAGE_DESCRIPTION_SUMMARY)\n")
# A package needs its maintainer: said before anything is packed.
if(OSTREL_MAINTAINER STREQUAL "")
  set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_BINARY_DIR}/CPackNoMaintainer.cmake)
  file(WRITE ${CPACK_PRE_BUILD_SCRIPTS} "message(FATAL_ERROR \"The packages need a maintainer: \
set DEBFULLNAME and DEBEMAIL, git's user.name and user.email, or OSTREL_PACKAGE_MAINTAINER\")\n")
endif()

# Stripped programs, their debug symbols in separate -dbgsym packages (by build id under
# /usr/lib/debug, as Debian's own -dbgsym packages). CPack splits and strips the files
# itself, so they reach it unstripped.
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/FixDebugPackage.cmake")

# The maintainer scripts of ostrelctl apply the udev rule to a controller already plugged
# in, stop the units with the package and forget them with its purge. The MQTT unit's
# configuration is a conffile: dpkg keeps the administrator's changes across upgrades.
set(CPACK_DEBIAN_OSTRELCTL_PACKAGE_CONTROL_EXTRA
    "${PROJECT_SOURCE_DIR}/dist/debian/postinst;${PROJECT_SOURCE_DIR}/dist/debian/prerm;${PROJECT_SOURCE_DIR}/dist/debian/postrm")
if(TARGET ostrel_mqtt)
  file(WRITE ${CMAKE_BINARY_DIR}/debian-ostrelctl/conffiles "/etc/ostrel/mqtt.conf\n")
  list(APPEND CPACK_DEBIAN_OSTRELCTL_PACKAGE_CONTROL_EXTRA
       ${CMAKE_BINARY_DIR}/debian-ostrelctl/conffiles)
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
