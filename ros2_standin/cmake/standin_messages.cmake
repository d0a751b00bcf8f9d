include("${CMAKE_CURRENT_LIST_DIR}/standin_guard.cmake")

find_package(rosidl_runtime_cpp REQUIRED)
find_package(rosidl_runtime_c REQUIRED)
find_package(rosidl_typesupport_introspection_cpp REQUIRED)

# Generates the C++ message headers of this package with Debian's rosidl
# generator and exports them the way a rosidl package does: targets
# <pkg>::<pkg>__rosidl_generator_cpp and <pkg>::<pkg>__rosidl_typesupport_cpp,
# listed in <pkg>_TARGETS for downstream packages. Like a robot's message
# packages, each also installs its introspection type support,
# lib<pkg>__rosidl_typesupport_introspection_cpp.so, which tools load by the
# type's name to learn its fields.
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

  # The introspection type support: generated sources, one per message, built
  # into a shared library that links the introspection of the types it nests.
  set(introspection_root "${CMAKE_CURRENT_BINARY_DIR}/rosidl_typesupport_introspection_cpp")
  set(introspection_sources "")
  foreach(message IN LISTS ARG_MESSAGES)
    get_filename_component(message_name "${message}" NAME_WE)
    string(REGEX REPLACE "(.)([A-Z][a-z]+)" "\\1_\\2" snake "${message_name}")
    string(REGEX REPLACE "([a-z0-9])([A-Z])" "\\1_\\2" snake "${snake}")
    string(TOLOWER "${snake}" snake)
    list(APPEND introspection_sources "${introspection_root}/msg/detail/${snake}__type_support.cpp")
  endforeach()
  add_custom_command(
    OUTPUT ${introspection_sources}
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${introspection_root}"
    COMMAND "${ROSIDL_EXECUTABLE}" generate -o "${introspection_root}" -ts introspection_cpp
            ${PROJECT_NAME} ${interface_args}
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${introspection_root}/tmp"
    DEPENDS ${message_sources}
    COMMENT "Generating the introspection type support of ${PROJECT_NAME} messages"
    VERBATIM)
  # The generated sources name a header of rosidl_typesupport_cpp, which
  # Debian does not ship; they use nothing of it but its declaration.
  set(shim_root "${CMAKE_CURRENT_BINARY_DIR}/rosidl_typesupport_cpp_shim")
  file(WRITE "${shim_root}/rosidl_typesupport_cpp/message_type_support.hpp"
    "#pragma once\n#include \"rosidl_runtime_c/message_type_support_struct.h\"\n"
    "namespace rosidl_typesupport_cpp {\ntemplate <typename T>\n"
    "const rosidl_message_type_support_t* get_message_type_support_handle();\n}\n")
  set(introspection_target ${PROJECT_NAME}__rosidl_typesupport_introspection_cpp)
  add_library(${introspection_target} SHARED ${introspection_sources})
  target_include_directories(${introspection_target} PRIVATE "${shim_root}")
  target_link_libraries(${introspection_target} PUBLIC
    ${generator_target}
    rosidl_typesupport_introspection_cpp::rosidl_typesupport_introspection_cpp
    rosidl_runtime_c::rosidl_runtime_c)
  foreach(dependency IN LISTS ARG_DEPENDENCIES)
    target_link_libraries(${introspection_target} PUBLIC
      ${dependency}::${dependency}__rosidl_typesupport_introspection_cpp)
  endforeach()

  set(typesupport_target ${PROJECT_NAME}__rosidl_typesupport_cpp)
  add_library(${typesupport_target} INTERFACE)
  target_link_libraries(${typesupport_target} INTERFACE ${generator_target})

  install(DIRECTORY "${generated_root}/${PROJECT_NAME}/"
    DESTINATION include/${PROJECT_NAME}/${PROJECT_NAME})
  install(FILES ${message_sources} DESTINATION share/${PROJECT_NAME}/msg)
  install(TARGETS ${generator_target} ${typesupport_target} ${introspection_target}
    EXPORT export_${PROJECT_NAME}
    LIBRARY DESTINATION lib)
  ament_export_targets(export_${PROJECT_NAME})
  ament_export_dependencies(rosidl_runtime_cpp rosidl_runtime_c
    rosidl_typesupport_introspection_cpp ${ARG_DEPENDENCIES})
endmacro()
