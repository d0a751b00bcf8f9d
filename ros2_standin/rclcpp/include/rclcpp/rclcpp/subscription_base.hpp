// Stand-in for rclcpp/subscription_base.hpp.
#ifndef RCLCPP__SUBSCRIPTION_BASE_HPP_
#define RCLCPP__SUBSCRIPTION_BASE_HPP_

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "rclcpp/detail/topic_registry.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

namespace detail {

/// Stand-in only: the messages on their way to one subscription, each
/// deliverable from its ready time on; a keep-last history keeps the newest `depth`.
template <typename MessagePtr>
class DeliveryQueue {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  void push(TimePoint ready_at, MessagePtr message, const rclcpp::QoS& qos) {
    const rmw_qos_profile_t profile = qos.get_rmw_qos_profile();
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.emplace_back(ready_at, std::move(message));
    while (profile.history != RMW_QOS_POLICY_HISTORY_KEEP_ALL && queue_.size() > profile.depth) {
      queue_.pop_front();
    }
  }

  bool ready(TimePoint now) {
    std::lock_guard<std::mutex> lock(mutex_);
    return !queue_.empty() && queue_.front().first <= now;
  }

  /// The oldest message deliverable at `now`; empty when none is.
  MessagePtr take(TimePoint now) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty() || queue_.front().first > now) {
      return MessagePtr();
    }
    MessagePtr message = std::move(queue_.front().second);
    queue_.pop_front();
    return message;
  }

 private:
  std::mutex mutex_;
  std::deque<std::pair<TimePoint, MessagePtr>> queue_;
};

}  // namespace detail

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

  /// The publishers this subscription is matched with now: none until
  /// discovery has seen both ends.
  RCLCPP_PUBLIC
  size_t get_publisher_count() const;

  /// Stand-in only: the rosidl name of the message type, "pkg/msg/Name".
  RCLCPP_PUBLIC
  const std::string& message_type_name() const;

  /// Stand-in only: the node that made the subscription, as the graph shows it.
  RCLCPP_PUBLIC
  void set_node(const std::string& node_name, const std::string& node_namespace);
  RCLCPP_PUBLIC
  const std::string& node_name() const;
  RCLCPP_PUBLIC
  const std::string& node_namespace() const;

  /// Stand-in only: when discovery has seen this subscription.
  RCLCPP_PUBLIC
  std::chrono::steady_clock::time_point discovered_at() const;

  /// Stand-in only: queues a copy of a message of the subscription's type,
  /// deliverable from `ready_at` on; a keep-last history keeps the newest
  /// `depth` of them.
  virtual void enqueue_copy(const void* message,
                            std::chrono::steady_clock::time_point ready_at) = 0;

  /// Stand-in only: whether a message is deliverable at `now`.
  virtual bool has_ready_message(std::chrono::steady_clock::time_point now) = 0;

  /// Stand-in only: hands the oldest deliverable message to the callback;
  /// false when none was ready.
  virtual bool execute_one(std::chrono::steady_clock::time_point now) = 0;

 private:
  RCLCPP_DISABLE_COPY(SubscriptionBase)

  std::shared_ptr<detail::TopicRegistry> registry_;
  std::string topic_name_;
  rclcpp::QoS qos_;
  std::string message_type_name_;
  std::string node_name_, node_namespace_;
  std::chrono::steady_clock::time_point discovered_at_;
};

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_BASE_HPP_
