// Stand-in for rclcpp/generic_subscription.hpp: a subscription to a type
// known only by its name, whose callback receives each message serialized
// in CDR, as a DDS middleware carries it.
#ifndef RCLCPP__GENERIC_SUBSCRIPTION_HPP_
#define RCLCPP__GENERIC_SUBSCRIPTION_HPP_

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/serialized_message.hpp"
#include "rclcpp/subscription_base.hpp"
#include "rclcpp/visibility_control.hpp"
#include "rcpputils/shared_library.hpp"
#include "rosidl_runtime_c/message_type_support_struct.h"

namespace rclcpp {

class GenericSubscription : public SubscriptionBase {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(GenericSubscription)

  using Callback = std::function<void(std::shared_ptr<rclcpp::SerializedMessage>)>;

  /// Stand-in only; clients create one through Node::create_generic_subscription.
  /// \throws std::runtime_error when the type's support library is not found.
  RCLCPP_PUBLIC
  GenericSubscription(const std::string& topic_name, const std::string& topic_type,
                      const rclcpp::QoS& qos, Callback callback);

  RCLCPP_PUBLIC
  ~GenericSubscription() override;

  /// Serializes the typed message a publisher hands over, with the type's introspection.
  RCLCPP_PUBLIC
  void enqueue_copy(const void* message, std::chrono::steady_clock::time_point ready_at) override;

  RCLCPP_PUBLIC
  bool has_ready_message(std::chrono::steady_clock::time_point now) override;

  RCLCPP_PUBLIC
  bool execute_one(std::chrono::steady_clock::time_point now) override;

 private:
  std::shared_ptr<rcpputils::SharedLibrary> introspection_library_;
  const rosidl_message_type_support_t* introspection_;
  Callback callback_;
  detail::DeliveryQueue<std::shared_ptr<SerializedMessage>> queue_;
};

}  // namespace rclcpp

#endif  // RCLCPP__GENERIC_SUBSCRIPTION_HPP_
