#include <algorithm>
#include <cctype>
#include <string>
#include <thread>

#include "rclcpp/detail/topic_registry.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/executors.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/publisher_base.hpp"
#include "rclcpp/subscription_base.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp {
namespace detail {

TopicRegistry& TopicRegistry::instance() {
  static TopicRegistry registry;
  return registry;
}

void TopicRegistry::add_subscription(const std::shared_ptr<SubscriptionBase>& subscription) {
  std::lock_guard<std::mutex> lock(mutex_);
  subscriptions_[subscription->get_topic_name()].push_back(subscription);
}

std::vector<std::shared_ptr<SubscriptionBase>> TopicRegistry::subscriptions(
    const std::string& topic_name) {
  std::vector<std::shared_ptr<SubscriptionBase>> live;
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = subscriptions_.find(topic_name);
  if (found == subscriptions_.end()) {
    return live;
  }
  auto& entries = found->second;
  entries.erase(std::remove_if(entries.begin(), entries.end(),
                               [&live](const std::weak_ptr<SubscriptionBase>& entry) {
                                 auto subscription = entry.lock();
                                 if (!subscription) {
                                   return true;
                                 }
                                 live.push_back(std::move(subscription));
                                 return false;
                               }),
                entries.end());
  return live;
}

void TopicRegistry::add_publisher(const std::string& topic_name) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++publisher_counts_[topic_name];
}

void TopicRegistry::remove_publisher(const std::string& topic_name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = publisher_counts_.find(topic_name);
  if (found != publisher_counts_.end() && --found->second == 0) {
    publisher_counts_.erase(found);
  }
}

size_t TopicRegistry::count_publishers(const std::string& topic_name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = publisher_counts_.find(topic_name);
  return found == publisher_counts_.end() ? 0 : found->second;
}

size_t TopicRegistry::count_subscribers(const std::string& topic_name) {
  return subscriptions(topic_name).size();
}

std::string resolve_topic_name(const std::string& topic_name, const std::string& node_namespace,
                               const std::string& node_name) {
  if (!topic_name.empty() && topic_name.front() == '/') {
    return topic_name;
  }
  const std::string prefix = node_namespace == "/" ? "" : node_namespace;
  if (!topic_name.empty() && topic_name.front() == '~') {
    return prefix + "/" + node_name + topic_name.substr(1);
  }
  return prefix + "/" + topic_name;
}

}  // namespace detail

PublisherBase::PublisherBase(const std::string& topic_name, const rclcpp::QoS& qos)
    : topic_name_(topic_name), qos_(qos) {
  detail::TopicRegistry::instance().add_publisher(topic_name_);
}

PublisherBase::~PublisherBase() { detail::TopicRegistry::instance().remove_publisher(topic_name_); }

const char* PublisherBase::get_topic_name() const { return topic_name_.c_str(); }

size_t PublisherBase::get_subscription_count() const {
  return detail::TopicRegistry::instance().count_subscribers(topic_name_);
}

size_t PublisherBase::get_intra_process_subscription_count() const {
  return get_subscription_count();
}

rclcpp::QoS PublisherBase::get_actual_qos() const { return qos_; }

SubscriptionBase::SubscriptionBase(const std::string& topic_name, const rclcpp::QoS& qos,
                                   const std::string& message_type_name)
    : topic_name_(topic_name), qos_(qos), message_type_name_(message_type_name) {}

SubscriptionBase::~SubscriptionBase() = default;

const char* SubscriptionBase::get_topic_name() const { return topic_name_.c_str(); }

rclcpp::QoS SubscriptionBase::get_actual_qos() const { return qos_; }

size_t SubscriptionBase::get_publisher_count() const {
  return detail::TopicRegistry::instance().count_publishers(topic_name_);
}

const std::string& SubscriptionBase::message_type_name() const { return message_type_name_; }

namespace {
// Node names as rmw validates them: letters, digits and underscores, not
// starting with a digit.
void validate_node_name(const std::string& node_name) {
  if (node_name.empty()) {
    throw exceptions::InvalidNodeNameError(node_name.c_str(), "node name must not be empty", 0);
  }
  if (std::isdigit(static_cast<unsigned char>(node_name.front()))) {
    throw exceptions::InvalidNodeNameError(node_name.c_str(),
                                           "node name must not start with a number", 0);
  }
  for (size_t index = 0; index < node_name.size(); ++index) {
    const unsigned char character = static_cast<unsigned char>(node_name[index]);
    if (!std::isalnum(character) && character != '_') {
      throw exceptions::InvalidNodeNameError(
          node_name.c_str(),
          "node name must not contain characters other than alphanumerics or '_'", index);
    }
  }
}

std::string normalize_namespace(const std::string& namespace_) {
  if (namespace_.empty()) {
    return "/";
  }
  std::string normalized = namespace_.front() == '/' ? namespace_ : "/" + namespace_;
  if (normalized.size() > 1 && normalized.back() == '/') {
    normalized.pop_back();
  }
  return normalized;
}
}  // namespace

Node::Node(const std::string& node_name, const NodeOptions& options)
    : Node(node_name, "", options) {}

Node::Node(const std::string& node_name, const std::string& namespace_, const NodeOptions& options)
    : name_(node_name),
      namespace_(normalize_namespace(namespace_)),
      clock_(std::make_shared<Clock>(RCL_ROS_TIME)) {
  if (!options.context() || !options.context()->is_valid()) {
    throw exceptions::RCLError(
        exceptions::RCLErrorBase(
            1,
            "the given context is not valid, either rcl_init() was not called or "
            "rcl_shutdown() was called."),
        "failed to initialize rcl node: ");
  }
  validate_node_name(node_name);
  fully_qualified_name_ = (this->namespace_ == "/" ? "" : this->namespace_) + "/" + name_;
}

Node::~Node() = default;

const char* Node::get_name() const { return name_.c_str(); }

const char* Node::get_namespace() const { return namespace_.c_str(); }

const char* Node::get_fully_qualified_name() const { return fully_qualified_name_.c_str(); }

size_t Node::count_publishers(const std::string& topic_name) const {
  return detail::TopicRegistry::instance().count_publishers(resolve(topic_name));
}

size_t Node::count_subscribers(const std::string& topic_name) const {
  return detail::TopicRegistry::instance().count_subscribers(resolve(topic_name));
}

Clock::SharedPtr Node::get_clock() { return clock_; }

Clock::ConstSharedPtr Node::get_clock() const { return clock_; }

Time Node::now() const { return clock_->now(); }

std::string Node::resolve(const std::string& topic_name) const {
  return detail::resolve_topic_name(topic_name, namespace_, name_);
}

void Node::add_subscription(const std::shared_ptr<SubscriptionBase>& subscription) {
  detail::TopicRegistry::instance().add_subscription(subscription);
  std::lock_guard<std::mutex> lock(subscriptions_mutex_);
  subscriptions_.push_back(subscription);
}

std::vector<std::shared_ptr<SubscriptionBase>> Node::live_subscriptions() const {
  std::vector<std::shared_ptr<SubscriptionBase>> live;
  std::lock_guard<std::mutex> lock(subscriptions_mutex_);
  for (const auto& entry : subscriptions_) {
    if (auto subscription = entry.lock()) {
      live.push_back(std::move(subscription));
    }
  }
  return live;
}

void spin_some(Node::SharedPtr node_ptr) {
  for (const auto& subscription : node_ptr->live_subscriptions()) {
    subscription->execute_pending();
  }
}

void spin(Node::SharedPtr node_ptr) {
  while (ok()) {
    spin_some(node_ptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace rclcpp
