// Stand-in for rclcpp/subscription.hpp: a queue per subscription with the
// keep-last depth of its QoS, from which an executor takes one message per
// subscription and wait.
#ifndef RCLCPP__SUBSCRIPTION_HPP_
#define RCLCPP__SUBSCRIPTION_HPP_

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>

#include "rclcpp/macros.hpp"
#include "rclcpp/message_memory_strategy.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription_base.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace rclcpp {

namespace detail {

/// The parameter type of a callback, deduced as rclcpp's function_traits
/// does: from the address of its call operator. A generic lambda has no
/// single call operator and so does not compile, as on a robot.
template <typename CallbackT>
struct callback_argument : callback_argument<decltype(&CallbackT::operator())> {};
template <typename ReturnT, typename ArgumentT>
struct callback_argument<ReturnT (*)(ArgumentT)> {
  using type = ArgumentT;
};
template <typename ClassT, typename ReturnT, typename ArgumentT>
struct callback_argument<ReturnT (ClassT::*)(ArgumentT)> {
  using type = ArgumentT;
};
template <typename ClassT, typename ReturnT, typename ArgumentT>
struct callback_argument<ReturnT (ClassT::*)(ArgumentT) const> {
  using type = ArgumentT;
};

}  // namespace detail

template <typename MessageT, typename AllocatorT = std::allocator<void>,
          typename MessageMemoryStrategyT =
              rclcpp::message_memory_strategy::MessageMemoryStrategy<MessageT, AllocatorT>>
class Subscription : public SubscriptionBase {
 public:
  using MessageMemoryStrategyType = MessageMemoryStrategyT;
  using MessageUniquePtr = std::unique_ptr<MessageT>;

  RCLCPP_SMART_PTR_DEFINITIONS(Subscription)

  /// Accepts the callback forms of ROS 2: const MessageT &, std::unique_ptr<MessageT>,
  /// std::shared_ptr<const MessageT> (also by const reference) and std::shared_ptr<MessageT>.
  template <typename CallbackT>
  Subscription(const std::string& topic_name, const rclcpp::QoS& qos, CallbackT&& callback)
      : SubscriptionBase(topic_name, qos, rosidl_generator_traits::name<MessageT>()),
        callback_(adapt(std::forward<CallbackT>(callback))) {}

  ~Subscription() override = default;

  void enqueue_copy(const void* message, std::chrono::steady_clock::time_point ready_at) override {
    queue_.push(ready_at, std::make_unique<MessageT>(*static_cast<const MessageT*>(message)),
                get_actual_qos());
  }

  bool has_ready_message(std::chrono::steady_clock::time_point now) override {
    return queue_.ready(now);
  }

  bool execute_one(std::chrono::steady_clock::time_point now) override {
    MessageUniquePtr message = queue_.take(now);
    if (!message) {
      return false;
    }
    callback_(std::move(message));
    return true;
  }

 private:
  template <typename CallbackT>
  static std::function<void(MessageUniquePtr)> adapt(CallbackT&& callback) {
    using Callback = std::decay_t<CallbackT>;
    using Argument = typename detail::callback_argument<Callback>::type;
    using Plain = std::remove_cv_t<std::remove_reference_t<Argument>>;
    Callback stored(std::forward<CallbackT>(callback));
    if constexpr (std::is_same_v<Argument, const MessageT&>) {
      return [stored](MessageUniquePtr message) mutable { stored(*message); };
    } else if constexpr (std::is_same_v<Plain, MessageUniquePtr>) {
      return [stored](MessageUniquePtr message) mutable { stored(std::move(message)); };
    } else if constexpr (std::is_same_v<Plain, std::shared_ptr<const MessageT>>) {
      return [stored](MessageUniquePtr message) mutable {
        stored(std::shared_ptr<const MessageT>(std::move(message)));
      };
    } else {
      static_assert(std::is_same_v<Plain, std::shared_ptr<MessageT>>,
                    "the callback does not take the subscription's message type");
      return [stored](MessageUniquePtr message) mutable {
        stored(std::shared_ptr<MessageT>(std::move(message)));
      };
    }
  }

  std::function<void(MessageUniquePtr)> callback_;
  detail::DeliveryQueue<MessageUniquePtr> queue_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_HPP_
