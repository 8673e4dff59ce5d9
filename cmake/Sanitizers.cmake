# Sanitizer builds apply to everything built here, tests included.
if(OSTREL_SANITIZE STREQUAL "address")
  # GCC leaves float-to-integer overflow out of "undefined"; value conversion relies on it.
  add_compile_options(-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow -fno-sanitize-recover=all)
elseif(OSTREL_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT OSTREL_SANITIZE STREQUAL "")
  message(FATAL_ERROR "OSTREL_SANITIZE must be empty, 'address' or 'thread', not '${OSTREL_SANITIZE}'")
endif()

# Fuzz targets: libFuzzer comes with clang. Everything is built with its coverage
# instrumentation, so that the fuzzer sees the paths it takes through the libraries too.
if(OSTREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "OSTREL_FUZZ needs clang (libFuzzer): use the preset fuzz")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
