include("${CMAKE_CURRENT_LIST_DIR}/standin_guard.cmake")

find_package(rosidl_runtime_cpp REQUIRED)

# Generates the C++ message headers of this package with Debian's rosidl
# generator and exports them the way a rosidl package does: targets
# <pkg>::<pkg>__rosidl_generator_cpp and <pkg>::<pkg>__rosidl_typesupport_cpp,
# listed in <pkg>_TARGETS for downstream packages.
#
#   standin_generate_messages(MESSAGES msg/A.msg ... [DEPENDENCIES pkg ...])
macro(standin_generate_messages)
  cmake_parse_arguments(ARG "" "" "MESSAGES;DEPENDENCIES" ${ARGN})
  find_program(ROSIDL_EXECUTABLE rosidl REQUIRED)

  set(generated_root "${CMAKE_CURRENT_BINARY_DIR}/rosidl_generator_cpp")
  set(stamp "${generated_root}/${PROJECT_NAME}.stamp")
  set(interface_args "")
  set(message_sources "")
  foreach(message IN LISTS ARG_MESSAGES)
    list(APPEND interface_args "${CMAKE_CURRENT_SOURCE_DIR}:${message}")
    list(APPEND message_sources "${CMAKE_CURRENT_SOURCE_DIR}/${message}")
  endforeach()

  add_custom_command(
    OUTPUT "${stamp}"
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${generated_root}/${PROJECT_NAME}"
    COMMAND "${ROSIDL_EXECUTABLE}" generate -o "${generated_root}/${PROJECT_NAME}" -t cpp
            ${PROJECT_NAME} ${interface_args}
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${generated_root}/${PROJECT_NAME}/tmp"
    COMMAND "${CMAKE_COMMAND}" -E touch "${stamp}"
    DEPENDS ${message_sources}
    COMMENT "Generating C++ headers of ${PROJECT_NAME} messages"
    VERBATIM)
  add_custom_target(${PROJECT_NAME}__generate_cpp ALL DEPENDS "${stamp}")

  set(generator_target ${PROJECT_NAME}__rosidl_generator_cpp)
  add_library(${generator_target} INTERFACE)
  add_dependencies(${generator_target} ${PROJECT_NAME}__generate_cpp)
  target_include_directories(${generator_target} INTERFACE
    "$<BUILD_INTERFACE:${generated_root}>"
    "$<INSTALL_INTERFACE:include/${PROJECT_NAME}>")
  target_link_libraries(${generator_target} INTERFACE rosidl_runtime_cpp::rosidl_runtime_cpp)
  foreach(dependency IN LISTS ARG_DEPENDENCIES)
    find_package(${dependency} REQUIRED)
    target_link_libraries(${generator_target} INTERFACE ${${dependency}_TARGETS})
  endforeach()

  set(typesupport_target ${PROJECT_NAME}__rosidl_typesupport_cpp)
  add_library(${typesupport_target} INTERFACE)
  target_link_libraries(${typesupport_target} INTERFACE ${generator_target})

  install(DIRECTORY "${generated_root}/${PROJECT_NAME}/"
    DESTINATION include/${PROJECT_NAME}/${PROJECT_NAME})
  install(FILES ${message_sources} DESTINATION share/${PROJECT_NAME}/msg)
  install(TARGETS ${generator_target} ${typesupport_target} EXPORT export_${PROJECT_NAME})
  ament_export_targets(export_${PROJECT_NAME})
  ament_export_dependencies(rosidl_runtime_cpp ${ARG_DEPENDENCIES})
endmacro()
