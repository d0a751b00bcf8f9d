// Stand-in for rclcpp/publisher.hpp: publishing copies the message into the
// queue of every subscription the publisher is matched with in this process
// (and, for a transient-local publisher, into its history).
#ifndef RCLCPP__PUBLISHER_HPP_
#define RCLCPP__PUBLISHER_HPP_

#include <chrono>
#include <memory>
#include <string>
#include <type_traits>

#include "rclcpp/context.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/publisher_base.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription_base.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace rclcpp {

template <typename MessageT, typename AllocatorT = std::allocator<void>>
class Publisher : public PublisherBase {
 public:
  static_assert(
      rosidl_generator_traits::is_message<MessageT>::value,
      "given message type is not compatible with ROS and cannot be used with a Publisher");

  using PublishedType = MessageT;
  using ROSMessageType = MessageT;
  using ROSMessageTypeDeleter = std::default_delete<ROSMessageType>;

  RCLCPP_SMART_PTR_DEFINITIONS(Publisher<MessageT, AllocatorT>)

  Publisher(const std::string& topic_name, const rclcpp::QoS& qos, Context::SharedPtr context)
      : PublisherBase(topic_name, qos, rosidl_generator_traits::name<MessageT>(),
                      std::move(context)) {}

  ~Publisher() override = default;

  template <typename T>
  typename std::enable_if_t<rosidl_generator_traits::is_message<T>::value &&
                            std::is_same<T, ROSMessageType>::value>
  publish(std::unique_ptr<T, ROSMessageTypeDeleter> msg) {
    this->publish(*msg);
  }

  template <typename T>
  typename std::enable_if_t<rosidl_generator_traits::is_message<T>::value &&
                            std::is_same<T, ROSMessageType>::value>
  publish(const T& msg) {
    this->deliver(&msg, [](const void* message) -> std::shared_ptr<const void> {
      return std::make_shared<const MessageT>(*static_cast<const MessageT*>(message));
    });
  }
};

}  // namespace rclcpp

#endif  // RCLCPP__PUBLISHER_HPP_
