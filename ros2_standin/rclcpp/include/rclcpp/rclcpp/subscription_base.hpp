// Stand-in for rclcpp/subscription_base.hpp.
#ifndef RCLCPP__SUBSCRIPTION_BASE_HPP_
#define RCLCPP__SUBSCRIPTION_BASE_HPP_

#include <cstddef>
#include <memory>
#include <string>

#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class SubscriptionBase : public std::enable_shared_from_this<SubscriptionBase> {
 public:
  RCLCPP_SMART_PTR_ALIASES_ONLY(SubscriptionBase)

  RCLCPP_PUBLIC
  SubscriptionBase(const std::string& topic_name, const rclcpp::QoS& qos,
                   const std::string& message_type_name);

  RCLCPP_PUBLIC
  virtual ~SubscriptionBase();

  RCLCPP_PUBLIC
  const char* get_topic_name() const;

  RCLCPP_PUBLIC
  rclcpp::QoS get_actual_qos() const;

  RCLCPP_PUBLIC
  size_t get_publisher_count() const;

  /// Stand-in only: the rosidl name of the message type, "pkg/msg/Name".
  RCLCPP_PUBLIC
  const std::string& message_type_name() const;

  /// Stand-in only: queues a copy of `message`, keeping the newest `depth`
  /// messages under a keep-last history.
  virtual void enqueue_copy(const void* message) = 0;

  /// Stand-in only: hands every queued message to the callback, oldest first;
  /// returns how many were handled.
  virtual size_t execute_pending() = 0;

 private:
  RCLCPP_DISABLE_COPY(SubscriptionBase)

  std::string topic_name_;
  rclcpp::QoS qos_;
  std::string message_type_name_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_BASE_HPP_
