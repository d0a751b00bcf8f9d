// What the programs that read messages without knowing their types share:
// whether a type begins with a std_msgs/Header, as its type support tells,
// and that header read from the message's CDR bytes.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__MESSAGE_HEADERS_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__MESSAGE_HEADERS_HPP_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "rosidl_runtime_c/message_type_support_struct.h"
#include "std_msgs/msg/header.hpp"

namespace kelvane_rovimar_diagnosis {

/// Whether the message type that `introspection` (a C++ introspection type
/// support) describes begins with a std_msgs/Header, as the ROS tools decide it.
bool startsWithHeader(const rosidl_message_type_support_t& introspection);

/// What the type support of a type, such as "sensor_msgs/msg/LaserScan", says of its header.
struct HeaderSupport {
  bool has_header = false;
  /// Why the type support could not be loaded; "" when it was.
  std::string error;
};

/// Loads the C++ introspection type support of `type` and asks it.
HeaderSupport headerSupportOf(const std::string& type);

/// The std_msgs/Header at the start of a message in CDR (encapsulation header
/// first, either byte order); std::nullopt when the bytes cannot hold one.
std::optional<std_msgs::msg::Header> leadingHeader(const uint8_t* cdr, size_t size);

/// A topic as the graph and recordings name it: "scan_1" is "/scan_1".
std::string graphName(const std::string& topic);

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__MESSAGE_HEADERS_HPP_
