# CLI11 and nlohmann-json, the header-only libraries of the command line and of the core
# every program uses: found once here, so that every folder sees the same targets.
if(CMAKE_CROSSCOMPILING)
  # CLI11 and nlohmann-json are header-only Debian packages for the build machine. The cross
  # compiler must not see the rest of /usr/include (glibc's headers), so it gets a folder
  # that holds links to those two alone.
  set(host_headers ${PROJECT_BINARY_DIR}/host-headers)
  file(MAKE_DIRECTORY ${host_headers})
  function(ostrel_host_header_library target folder)
    if(NOT IS_DIRECTORY /usr/include/${folder})
      message(FATAL_ERROR "/usr/include/${folder} is missing (make deps)")
    endif()
    file(CREATE_LINK /usr/include/${folder} ${host_headers}/${folder} SYMBOLIC)
    add_library(${target} INTERFACE IMPORTED)
    set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${host_headers})
  endfunction()
  ostrel_host_header_library(CLI11::CLI11 CLI)
  ostrel_host_header_library(nlohmann_json::nlohmann_json nlohmann)
else()
  find_package(CLI11 REQUIRED)
  find_package(nlohmann_json 3.9 REQUIRED)
endif()
