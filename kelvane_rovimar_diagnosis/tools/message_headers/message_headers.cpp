#include "message_headers.hpp"

#include <cstring>
#include <exception>

#include "rclcpp/typesupport_helpers.hpp"
#include "rosidl_typesupport_introspection_cpp/field_types.hpp"
#include "rosidl_typesupport_introspection_cpp/message_introspection.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

constexpr char kIntrospection[] = "rosidl_typesupport_introspection_cpp";
// CDR: a 4-byte encapsulation header whose second byte tells the byte order.
constexpr size_t kEncapsulationSize = 4;
// A header's stamp.sec (int32) and stamp.nanosec (uint32) come first, then its
// frame_id: a length that counts the closing zero, and the characters.
constexpr size_t kFrameIdOffset = 12;

/// The 4-byte unsigned integer at `offset` of the payload, in the message's byte order.
uint32_t readUint32(const uint8_t* cdr, size_t offset) {
  const uint8_t* bytes = cdr + kEncapsulationSize + offset;
  const bool little_endian = (cdr[1] & 1) != 0;
  return little_endian ? uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                             uint32_t{bytes[3]} << 24
                       : uint32_t{bytes[3]} | uint32_t{bytes[2]} << 8 | uint32_t{bytes[1]} << 16 |
                             uint32_t{bytes[0]} << 24;
}

}  // namespace

bool startsWithHeader(const rosidl_message_type_support_t& introspection) {
  namespace ts = rosidl_typesupport_introspection_cpp;
  const auto* members = static_cast<const ts::MessageMembers*>(introspection.data);
  if (members == nullptr) {
    return false;
  }
  // rosidl gives every message type a member, a placeholder for an empty one.
  const ts::MessageMember& first = members->members_[0];
  if (first.type_id_ != ts::ROS_TYPE_MESSAGE || first.is_array_ || first.members_ == nullptr) {
    return false;
  }
  const auto* nested = static_cast<const ts::MessageMembers*>(first.members_->data);
  return std::strcmp(nested->message_namespace_, "std_msgs::msg") == 0 &&
         std::strcmp(nested->message_name_, "Header") == 0;
}

HeaderSupport headerSupportOf(const std::string& type) {
  HeaderSupport support;
  try {
    const auto library = rclcpp::get_typesupport_library(type, kIntrospection);
    support.has_header =
        startsWithHeader(*rclcpp::get_typesupport_handle(type, kIntrospection, *library));
  } catch (const std::exception& error) {
    support.error = error.what();
    if (support.error.empty()) {
      support.error = "no reason given";
    }
  }
  return support;
}

std::optional<std_msgs::msg::Header> leadingHeader(const uint8_t* cdr, size_t size) {
  // The shortest header has an empty frame_id: its length and closing zero alone.
  if (size < kEncapsulationSize + kFrameIdOffset + 1) {
    return std::nullopt;
  }
  const uint32_t nanosec = readUint32(cdr, 4), length = readUint32(cdr, 8);
  if (length == 0 || kEncapsulationSize + kFrameIdOffset + length > size || nanosec >= 1000000000) {
    return std::nullopt;
  }
  std_msgs::msg::Header header;
  header.stamp.sec = static_cast<int32_t>(readUint32(cdr, 0));
  header.stamp.nanosec = nanosec;
  const char* frame_id = reinterpret_cast<const char*>(cdr + kEncapsulationSize + kFrameIdOffset);
  header.frame_id.assign(frame_id, strnlen(frame_id, length - 1));
  return header;
}

std::string graphName(const std::string& topic) {
  return !topic.empty() && topic.front() == '/' ? topic : "/" + topic;
}

}  // namespace kelvane_rovimar_diagnosis
