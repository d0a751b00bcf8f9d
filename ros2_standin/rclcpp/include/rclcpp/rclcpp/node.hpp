// Stand-in for rclcpp/node.hpp: a node names its publishers and subscriptions,
// keeps its context alive and lists the subscriptions an executor serves.
#ifndef RCLCPP__NODE_HPP_
#define RCLCPP__NODE_HPP_

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "rclcpp/clock.hpp"
#include "rclcpp/context.hpp"
#include "rclcpp/detail/topic_registry.hpp"
#include "rclcpp/generic_subscription.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/message_memory_strategy.hpp"
#include "rclcpp/node_interfaces/node_graph_interface.hpp"
#include "rclcpp/node_options.hpp"
#include "rclcpp/publisher.hpp"
#include "rclcpp/publisher_options.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/subscription.hpp"
#include "rclcpp/subscription_options.hpp"
#include "rclcpp/time.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class Executor;

class Node : public std::enable_shared_from_this<Node> {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(Node)

  /// \throws rclcpp::exceptions::RCLError before rclcpp::init or after rclcpp::shutdown
  /// \throws rclcpp::exceptions::InvalidNodeNameError for an invalid name
  RCLCPP_PUBLIC
  explicit Node(const std::string& node_name, const NodeOptions& options = NodeOptions());

  RCLCPP_PUBLIC
  explicit Node(const std::string& node_name, const std::string& namespace_,
                const NodeOptions& options = NodeOptions());

  RCLCPP_PUBLIC
  virtual ~Node();

  RCLCPP_PUBLIC
  const char* get_name() const;

  RCLCPP_PUBLIC
  const char* get_namespace() const;

  RCLCPP_PUBLIC
  const char* get_fully_qualified_name() const;

  template <typename MessageT, typename AllocatorT = std::allocator<void>,
            typename PublisherT = rclcpp::Publisher<MessageT, AllocatorT>>
  std::shared_ptr<PublisherT> create_publisher(
      const std::string& topic_name, const rclcpp::QoS& qos,
      const PublisherOptionsWithAllocator<AllocatorT>& options =
          PublisherOptionsWithAllocator<AllocatorT>()) {
    (void)options;
    throw_if_context_invalid();
    auto publisher = std::make_shared<PublisherT>(resolve(topic_name), qos, context_);
    publisher->set_node(name_, namespace_);
    return publisher;
  }

  template <typename MessageT, typename CallbackT, typename AllocatorT = std::allocator<void>,
            typename SubscriptionT = rclcpp::Subscription<MessageT, AllocatorT>,
            typename MessageMemoryStrategyT = typename SubscriptionT::MessageMemoryStrategyType>
  std::shared_ptr<SubscriptionT> create_subscription(
      const std::string& topic_name, const rclcpp::QoS& qos, CallbackT&& callback,
      const SubscriptionOptionsWithAllocator<AllocatorT>& options =
          SubscriptionOptionsWithAllocator<AllocatorT>(),
      typename MessageMemoryStrategyT::SharedPtr msg_mem_strat =
          (MessageMemoryStrategyT::create_default())) {
    (void)options;
    (void)msg_mem_strat;
    throw_if_context_invalid();
    auto subscription = std::make_shared<SubscriptionT>(resolve(topic_name), qos,
                                                        std::forward<CallbackT>(callback));
    add_subscription(subscription);
    return subscription;
  }

  /// Subscribes to `topic_type` ("sensor_msgs/msg/LaserScan") without knowing
  /// it at compile time; the callback receives each message in CDR.
  /// \throws std::runtime_error when the type's support library is not found.
  template <typename AllocatorT = std::allocator<void>>
  std::shared_ptr<rclcpp::GenericSubscription> create_generic_subscription(
      const std::string& topic_name, const std::string& topic_type, const rclcpp::QoS& qos,
      std::function<void(std::shared_ptr<rclcpp::SerializedMessage>)> callback,
      const rclcpp::SubscriptionOptionsWithAllocator<AllocatorT>& options =
          (rclcpp::SubscriptionOptionsWithAllocator<AllocatorT>())) {
    (void)options;
    throw_if_context_invalid();
    auto subscription = std::make_shared<rclcpp::GenericSubscription>(
        resolve(topic_name), topic_type, qos, std::move(callback));
    add_subscription(subscription);
    return subscription;
  }

  /// Counts the publishers of `topic_name` that discovery has seen.
  RCLCPP_PUBLIC
  size_t count_publishers(const std::string& topic_name) const;

  RCLCPP_PUBLIC
  size_t count_subscribers(const std::string& topic_name) const;

  /// The publishers, or subscriptions, of `topic_name` that discovery has
  /// seen, each with its type and QoS.
  RCLCPP_PUBLIC
  std::vector<rclcpp::TopicEndpointInfo> get_publishers_info_by_topic(const std::string& topic_name,
                                                                      bool no_mangle = false) const;

  RCLCPP_PUBLIC
  std::vector<rclcpp::TopicEndpointInfo> get_subscriptions_info_by_topic(
      const std::string& topic_name, bool no_mangle = false) const;

  /// Every topic that discovery has seen, with the types it is published or
  /// subscribed with ("pkg/msg/Name").
  RCLCPP_PUBLIC
  std::map<std::string, std::vector<std::string>> get_topic_names_and_types() const;

  RCLCPP_PUBLIC
  rclcpp::Clock::SharedPtr get_clock();

  RCLCPP_PUBLIC
  rclcpp::Clock::ConstSharedPtr get_clock() const;

  RCLCPP_PUBLIC
  Time now() const;

 private:
  RCLCPP_DISABLE_COPY(Node)

  friend class Executor;

  /// \throws rclcpp::exceptions::RCLError once the context is shut down, as rcl does.
  void throw_if_context_invalid() const;
  std::string resolve(const std::string& topic_name) const;
  void add_subscription(const std::shared_ptr<SubscriptionBase>& subscription);
  std::vector<std::shared_ptr<SubscriptionBase>> live_subscriptions() const;

  Context::SharedPtr context_;
  std::string name_;
  std::string namespace_;
  std::string fully_qualified_name_;
  rclcpp::Clock::SharedPtr clock_;
  mutable std::mutex subscriptions_mutex_;
  std::vector<std::weak_ptr<SubscriptionBase>> subscriptions_;
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_HPP_
