# ostrelctl-mqtt: ostrelctl with Paho, which ostrelctl execs for `mqtt` (services/mqtt/Mqtt.h), in
# the private program folder. ostrelctl finds it by the same path relative to its own folder
# in the build tree as where both are installed.
file(RELATIVE_PATH mqtt_program "${CMAKE_INSTALL_FULL_BINDIR}"
     "${CMAKE_INSTALL_FULL_LIBEXECDIR}/ostrel/ostrelctl-mqtt")
get_filename_component(mqtt_program_dir "${PROJECT_BINARY_DIR}/cli/${mqtt_program}" DIRECTORY)
# The shared C++ runtime (apt's own dependency, so on every Debian system): a service pays
# for its start once, and a second copy of the runtime would only add to the package.
ostrelctl_program(ostrelctl-mqtt SHARED_RUNTIME)
target_link_libraries(ostrelctl-mqtt PRIVATE ostrel_mqtt)
target_compile_definitions(ostrelctl-mqtt PRIVATE OSTREL_MQTT=1)
set_target_properties(ostrelctl-mqtt PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${mqtt_program_dir}")
target_compile_definitions(ostrelctl PRIVATE OSTREL_MQTT_PROGRAM="${mqtt_program}")
# Built with ostrelctl, so that its mqtt finds the program wherever ostrelctl is built.
add_dependencies(ostrelctl ostrelctl-mqtt)
install(TARGETS ostrelctl-mqtt RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/ostrel
        COMPONENT ostrelctl)

