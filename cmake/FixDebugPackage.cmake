# Run by CPack after it made the packages (CPACK_POST_BUILD_SCRIPTS). CPack's debug-symbol
# package lists its files in md5sums by their absolute staging path and leaves them
# executable. Rebuilt as Debian's own -dbgsym packages are: md5sums relative to the root,
# the files 0644, the documentation folder a link to that of the package it serves
# (ostrelctl-dbgsym_... serves ostrelctl).
foreach(package IN LISTS CPACK_PACKAGE_FILES)
  if(NOT package MATCHES "\\.ddeb$")
    continue()
  endif()
  get_filename_component(name "${package}" NAME)
  string(REGEX REPLACE "-dbgsym_.*$" "" served "${name}")
  set(root "${CPACK_TOPLEVEL_DIRECTORY}/debug-package")
  file(REMOVE_RECURSE "${root}")
  execute_process(COMMAND dpkg-deb -R "${package}" "${root}" COMMAND_ERROR_IS_FATAL ANY)

  file(STRINGS "${root}/DEBIAN/md5sums" lines)
  set(md5sums "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^([0-9a-f]+)  .*/(usr/lib/debug/.*)$" "\\1  \\2" line "${line}")
    string(APPEND md5sums "${line}\n")
  endforeach()
  file(WRITE "${root}/DEBIAN/md5sums" "${md5sums}")

  file(GLOB_RECURSE debugFiles "${root}/usr/lib/debug/*")
  file(CHMOD ${debugFiles} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  file(MAKE_DIRECTORY "${root}/usr/share/doc")
  file(CREATE_LINK "${served}" "${root}/usr/share/doc/${served}-dbgsym" SYMBOLIC)

  execute_process(COMMAND dpkg-deb --root-owner-group -b "${root}" "${package}"
                  OUTPUT_QUIET COMMAND_ERROR_IS_FATAL ANY)
  file(REMOVE_RECURSE "${root}")
endforeach()
