// Stand-in only (no such header in rclcpp): the in-process graph through
// which every publication reaches every live subscription of the same
// resolved topic name and message type.
#ifndef RCLCPP__DETAIL__TOPIC_REGISTRY_HPP_
#define RCLCPP__DETAIL__TOPIC_REGISTRY_HPP_

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class SubscriptionBase;

namespace detail {

class RCLCPP_PUBLIC TopicRegistry {
 public:
  static TopicRegistry& instance();

  void add_subscription(const std::shared_ptr<SubscriptionBase>& subscription);

  /// Returns the live subscriptions of `topic_name`, dropping expired ones.
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions(const std::string& topic_name);

  void add_publisher(const std::string& topic_name);
  void remove_publisher(const std::string& topic_name);

  size_t count_publishers(const std::string& topic_name);
  size_t count_subscribers(const std::string& topic_name);

 private:
  std::mutex mutex_;
  std::unordered_map<std::string, std::vector<std::weak_ptr<SubscriptionBase>>> subscriptions_;
  std::unordered_map<std::string, size_t> publisher_counts_;
};

/// Expands a topic name as ROS 2 does: absolute names stay, "~/x" goes below
/// the node's fully qualified name, relative names below its namespace.
RCLCPP_PUBLIC
std::string resolve_topic_name(const std::string& topic_name, const std::string& node_namespace,
                               const std::string& node_name);

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__TOPIC_REGISTRY_HPP_
