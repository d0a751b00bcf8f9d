// Stand-in for rclcpp/publisher_base.hpp.
#ifndef RCLCPP__PUBLISHER_BASE_HPP_
#define RCLCPP__PUBLISHER_BASE_HPP_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "rclcpp/context.hpp"
#include "rclcpp/detail/topic_registry.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

namespace detail {
/// A publication reaches its subscriptions this long after publish returns.
inline constexpr std::chrono::microseconds kDeliveryLatency{500};
}  // namespace detail

class SubscriptionBase;

class PublisherBase : public std::enable_shared_from_this<PublisherBase> {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(PublisherBase)

  /// Stand-in only; clients create publishers through Node::create_publisher.
  RCLCPP_PUBLIC
  PublisherBase(const std::string& topic_name, const rclcpp::QoS& qos,
                const std::string& message_type_name, Context::SharedPtr context);

  RCLCPP_PUBLIC
  virtual ~PublisherBase();

  /// Returns the fully qualified topic name, for example "/diag".
  RCLCPP_PUBLIC
  const char* get_topic_name() const;

  /// The subscriptions this publisher is matched with now.
  RCLCPP_PUBLIC
  size_t get_subscription_count() const;

  RCLCPP_PUBLIC
  size_t get_intra_process_subscription_count() const;

  RCLCPP_PUBLIC
  rclcpp::QoS get_actual_qos() const;

  /// Stand-in only: names the node that made the publisher, for the graph.
  RCLCPP_PUBLIC
  void set_node(const std::string& node_name, const std::string& node_namespace);

 protected:
  /// Stand-in only: hands `message` to the subscriptions matched now, which
  /// may take it detail::kDeliveryLatency later; `keep` copies it for a
  /// transient-local history. Dropped once the context is shut down, as
  /// rclcpp drops publications then.
  RCLCPP_PUBLIC
  void deliver(const void* message, std::shared_ptr<const void> (*keep)(const void* message)) const;

 private:
  RCLCPP_DISABLE_COPY(PublisherBase)

  std::shared_ptr<detail::TopicRegistry> registry_;
  Context::SharedPtr context_;
  std::string topic_name_;
  rclcpp::QoS qos_;
  uint64_t key_;
};

}  // namespace rclcpp

#endif  // RCLCPP__PUBLISHER_BASE_HPP_
