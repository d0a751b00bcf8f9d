// Stand-in for rclcpp/typesupport_helpers.hpp: the type support of a message
// type known only by its name, loaded from its package's library as rclcpp
// does (lib<package>__<typesupport>.so in the package's prefix).
#ifndef RCLCPP__TYPESUPPORT_HELPERS_HPP_
#define RCLCPP__TYPESUPPORT_HELPERS_HPP_

#include <memory>
#include <string>

#include "rclcpp/visibility_control.hpp"
#include "rcpputils/shared_library.hpp"
#include "rosidl_runtime_c/message_type_support_struct.h"

namespace rclcpp {

/// Loads the type support library of `type` ("std_msgs/msg/String").
/// \throws std::runtime_error when the package or its library is not found.
RCLCPP_PUBLIC
std::shared_ptr<rcpputils::SharedLibrary> get_typesupport_library(
    const std::string& type, const std::string& typesupport_identifier);

/// The type support handle of `type` in `library`, which must stay loaded while it is used.
/// \throws std::runtime_error when the library does not hold it.
RCLCPP_PUBLIC
const rosidl_message_type_support_t* get_typesupport_handle(
    const std::string& type, const std::string& typesupport_identifier,
    rcpputils::SharedLibrary& library);

}  // namespace rclcpp

#endif  // RCLCPP__TYPESUPPORT_HELPERS_HPP_
