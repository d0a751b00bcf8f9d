// Stand-in for rclcpp/subscription.hpp: a queue per subscription with the
// keep-last depth of its QoS, emptied into the callback by spin_some.
#ifndef RCLCPP__SUBSCRIPTION_HPP_
#define RCLCPP__SUBSCRIPTION_HPP_

#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>

#include "rclcpp/macros.hpp"
#include "rclcpp/message_memory_strategy.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription_base.hpp"
#include "rosidl_runtime_cpp/traits.hpp"

namespace rclcpp {

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

  void enqueue_copy(const void* message) override {
    auto copy = std::make_unique<MessageT>(*static_cast<const MessageT*>(message));
    const rclcpp::QoS qos = get_actual_qos();
    const rmw_qos_profile_t& profile = qos.get_rmw_qos_profile();
    std::lock_guard<std::mutex> lock(queue_mutex_);
    queue_.push_back(std::move(copy));
    if (profile.history != RMW_QOS_POLICY_HISTORY_KEEP_ALL) {
      while (queue_.size() > profile.depth) {
        queue_.pop_front();
      }
    }
  }

  size_t execute_pending() override {
    std::deque<MessageUniquePtr> pending;
    {
      std::lock_guard<std::mutex> lock(queue_mutex_);
      pending.swap(queue_);
    }
    for (auto& message : pending) {
      callback_(std::move(message));
    }
    return pending.size();
  }

 private:
  template <typename CallbackT>
  static std::function<void(MessageUniquePtr)> adapt(CallbackT&& callback) {
    using Callback = std::decay_t<CallbackT>;
    Callback stored(std::forward<CallbackT>(callback));
    if constexpr (std::is_invocable_v<Callback&, const MessageT&>) {
      return [stored](MessageUniquePtr message) mutable { stored(*message); };
    } else if constexpr (std::is_invocable_v<Callback&, MessageUniquePtr>) {
      return [stored](MessageUniquePtr message) mutable { stored(std::move(message)); };
    } else if constexpr (std::is_invocable_v<Callback&, std::shared_ptr<const MessageT>>) {
      return [stored](MessageUniquePtr message) mutable {
        stored(std::shared_ptr<const MessageT>(std::move(message)));
      };
    } else {
      static_assert(std::is_invocable_v<Callback&, std::shared_ptr<MessageT>>,
                    "the callback does not take the subscription's message type");
      return [stored](MessageUniquePtr message) mutable {
        stored(std::shared_ptr<MessageT>(std::move(message)));
      };
    }
  }

  std::function<void(MessageUniquePtr)> callback_;
  std::mutex queue_mutex_;
  std::deque<MessageUniquePtr> queue_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_HPP_
