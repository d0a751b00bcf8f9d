// Stand-in for rclcpp/serialized_message.hpp: a message in CDR, the form a
// DDS middleware carries, with its 4-byte encapsulation header.
#ifndef RCLCPP__SERIALIZED_MESSAGE_HPP_
#define RCLCPP__SERIALIZED_MESSAGE_HPP_

#include <cstddef>

#include "rcl/allocator.h"
#include "rclcpp/visibility_control.hpp"
#include "rmw/serialized_message.h"

namespace rclcpp {

class SerializedMessage {
 public:
  RCLCPP_PUBLIC
  explicit SerializedMessage(const rcl_allocator_t& allocator = rcl_get_default_allocator());

  RCLCPP_PUBLIC
  SerializedMessage(size_t initial_capacity,
                    const rcl_allocator_t& allocator = rcl_get_default_allocator());

  RCLCPP_PUBLIC
  SerializedMessage(const SerializedMessage& other);

  RCLCPP_PUBLIC
  SerializedMessage& operator=(const SerializedMessage& other);

  RCLCPP_PUBLIC
  virtual ~SerializedMessage();

  RCLCPP_PUBLIC
  rcl_serialized_message_t& get_rcl_serialized_message();

  RCLCPP_PUBLIC
  const rcl_serialized_message_t& get_rcl_serialized_message() const;

  /// Bytes held, the encapsulation header included.
  RCLCPP_PUBLIC
  size_t size() const;

  RCLCPP_PUBLIC
  size_t capacity() const;

  RCLCPP_PUBLIC
  void reserve(size_t capacity);

 private:
  rcl_serialized_message_t serialized_message_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SERIALIZED_MESSAGE_HPP_
