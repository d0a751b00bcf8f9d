#include <algorithm>
#include <cctype>
#include <string>

#include "rclcpp/detail/topic_registry.hpp"
#include "rclcpp/exceptions.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/publisher_base.hpp"
#include "rclcpp/subscription_base.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp {
namespace detail {

std::shared_ptr<TopicRegistry> TopicRegistry::instance() {
  // Never destroyed itself: an endpoint destroyed after main has returned
  // still finds the graph it registered with.
  static const auto* const registry = new std::shared_ptr<TopicRegistry>(new TopicRegistry());
  return *registry;
}

uint64_t TopicRegistry::add_publisher(const std::string& topic_name, const std::string& type_name,
                                      const rclcpp::QoS& qos) {
  std::lock_guard<std::mutex> lock(mutex_);
  const uint64_t key = next_key_++;
  publishers_.emplace(
      key,
      PublisherRecord{topic_name, type_name, qos, Clock::now() + kDiscoveryDelay, "", "", {}, {}});
  return key;
}

void TopicRegistry::name_publisher(uint64_t key, const std::string& node_name,
                                   const std::string& node_namespace) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& record = publishers_.at(key);
  record.node_name = node_name;
  record.node_namespace = node_namespace;
}

void TopicRegistry::remove_publisher(uint64_t key) {
  std::lock_guard<std::mutex> lock(mutex_);
  publishers_.erase(key);
}

void TopicRegistry::add_subscription(const std::shared_ptr<SubscriptionBase>& subscription) {
  std::lock_guard<std::mutex> lock(mutex_);
  subscriptions_.push_back(subscription);
}

std::vector<std::shared_ptr<SubscriptionBase>> TopicRegistry::live_subscriptions_locked() {
  std::vector<std::shared_ptr<SubscriptionBase>> live;
  subscriptions_.erase(std::remove_if(subscriptions_.begin(), subscriptions_.end(),
                                      [&live](const std::weak_ptr<SubscriptionBase>& entry) {
                                        auto subscription = entry.lock();
                                        if (!subscription) {
                                          return true;
                                        }
                                        live.push_back(std::move(subscription));
                                        return false;
                                      }),
                       subscriptions_.end());
  return live;
}

namespace {
bool matched(const std::string& topic_name, const std::string& type_name, const rclcpp::QoS& qos,
             TopicRegistry::Clock::time_point discovered_at, const SubscriptionBase& subscription,
             TopicRegistry::Clock::time_point now) {
  return topic_name == subscription.get_topic_name() &&
         type_name == subscription.message_type_name() && discovered_at <= now &&
         subscription.discovered_at() <= now && qos_compatible(qos, subscription.get_actual_qos());
}
}  // namespace

std::vector<std::shared_ptr<SubscriptionBase>> TopicRegistry::matched_subscriptions(uint64_t key) {
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::shared_ptr<SubscriptionBase>> receivers;
  const auto publisher = publishers_.find(key);
  if (publisher == publishers_.end()) {
    return receivers;
  }
  const PublisherRecord& record = publisher->second;
  for (auto& subscription : live_subscriptions_locked()) {
    if (matched(record.topic_name, record.type_name, record.qos, record.discovered_at,
                *subscription, now)) {
      receivers.push_back(std::move(subscription));
    }
  }
  return receivers;
}

namespace {
bool transient_local(const rclcpp::QoS& qos) {
  return qos.get_rmw_qos_profile().durability == RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL;
}
}  // namespace

void TopicRegistry::give_history_locked(PublisherRecord& record,
                                        const std::shared_ptr<SubscriptionBase>& subscription,
                                        Clock::time_point ready_at) {
  if (transient_local(record.qos) && transient_local(subscription->get_actual_qos()) &&
      record.given_history.insert(subscription).second) {
    for (const auto& message : record.history) {
      subscription->enqueue_copy(message.get(), ready_at);
    }
  }
}

void TopicRegistry::publish(uint64_t key, const void* message,
                            std::shared_ptr<const void> (*keep)(const void* message),
                            Clock::time_point ready_at) {
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  const auto publisher = publishers_.find(key);
  if (publisher == publishers_.end()) {
    return;
  }
  PublisherRecord& record = publisher->second;
  for (const auto& subscription : live_subscriptions_locked()) {
    if (matched(record.topic_name, record.type_name, record.qos, record.discovered_at,
                *subscription, now)) {
      give_history_locked(record, subscription, ready_at);  // before what it has not seen
      subscription->enqueue_copy(message, ready_at);
    }
  }
  if (transient_local(record.qos)) {
    const rmw_qos_profile_t profile = record.qos.get_rmw_qos_profile();
    record.history.push_back(keep(message));
    while (profile.history != RMW_QOS_POLICY_HISTORY_KEEP_ALL &&
           record.history.size() > profile.depth) {
      record.history.pop_front();
    }
  }
}

void TopicRegistry::deliver_history(const std::shared_ptr<SubscriptionBase>& subscription) {
  if (!transient_local(subscription->get_actual_qos())) {
    return;
  }
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [key, record] : publishers_) {
    if (matched(record.topic_name, record.type_name, record.qos, record.discovered_at,
                *subscription, now)) {
      give_history_locked(record, subscription, now);
    }
  }
}

size_t TopicRegistry::matched_publisher_count(const SubscriptionBase& subscription) {
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(
      std::count_if(publishers_.begin(), publishers_.end(), [&](const auto& entry) {
        const PublisherRecord& record = entry.second;
        return matched(record.topic_name, record.type_name, record.qos, record.discovered_at,
                       subscription, now);
      }));
}

size_t TopicRegistry::count_publishers(const std::string& topic_name) {
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<size_t>(
      std::count_if(publishers_.begin(), publishers_.end(), [&](const auto& entry) {
        return entry.second.topic_name == topic_name && entry.second.discovered_at <= now;
      }));
}

size_t TopicRegistry::count_subscribers(const std::string& topic_name) {
  const auto now = Clock::now();
  std::lock_guard<std::mutex> lock(mutex_);
  size_t count = 0;
  for (const auto& subscription : live_subscriptions_locked()) {
    count += topic_name == subscription->get_topic_name() && subscription->discovered_at() <= now;
  }
  return count;
}

std::vector<rclcpp::TopicEndpointInfo> TopicRegistry::endpoints_info(
    const std::string& topic_name, rclcpp::EndpointType endpoint_type) {
  const auto now = Clock::now();
  std::vector<rclcpp::TopicEndpointInfo> endpoints;
  std::lock_guard<std::mutex> lock(mutex_);
  if (endpoint_type == rclcpp::EndpointType::Publisher) {
    for (const auto& [key, record] : publishers_) {
      if (record.topic_name == topic_name && record.discovered_at <= now) {
        endpoints.emplace_back(record.node_name, record.node_namespace, record.type_name,
                               endpoint_type, record.qos);
      }
    }
    return endpoints;
  }
  for (const auto& subscription : live_subscriptions_locked()) {
    if (topic_name == subscription->get_topic_name() && subscription->discovered_at() <= now) {
      endpoints.emplace_back(subscription->node_name(), subscription->node_namespace(),
                             subscription->message_type_name(), endpoint_type,
                             subscription->get_actual_qos());
    }
  }
  return endpoints;
}

std::map<std::string, std::vector<std::string>> TopicRegistry::topic_names_and_types() {
  const auto now = Clock::now();
  std::map<std::string, std::vector<std::string>> topics;
  const auto add = [&topics](const std::string& topic_name, const std::string& type_name) {
    auto& types = topics[topic_name];
    if (std::find(types.begin(), types.end(), type_name) == types.end()) {
      types.push_back(type_name);
      std::sort(types.begin(), types.end());
    }
  };
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& [key, record] : publishers_) {
    if (record.discovered_at <= now) {
      add(record.topic_name, record.type_name);
    }
  }
  for (const auto& subscription : live_subscriptions_locked()) {
    if (subscription->discovered_at() <= now) {
      add(subscription->get_topic_name(), subscription->message_type_name());
    }
  }
  return topics;
}

bool qos_compatible(const rclcpp::QoS& offered, const rclcpp::QoS& requested) {
  const rmw_qos_profile_t& writer = offered.get_rmw_qos_profile();
  const rmw_qos_profile_t& reader = requested.get_rmw_qos_profile();
  if (reader.reliability == RMW_QOS_POLICY_RELIABILITY_RELIABLE &&
      writer.reliability == RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT) {
    return false;
  }
  return !(reader.durability == RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL &&
           writer.durability == RMW_QOS_POLICY_DURABILITY_VOLATILE);
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

PublisherBase::PublisherBase(const std::string& topic_name, const rclcpp::QoS& qos,
                             const std::string& message_type_name, Context::SharedPtr context)
    : registry_(detail::TopicRegistry::instance()),
      context_(std::move(context)),
      topic_name_(topic_name),
      qos_(qos),
      key_(registry_->add_publisher(topic_name, message_type_name, qos)) {}

PublisherBase::~PublisherBase() { registry_->remove_publisher(key_); }

const char* PublisherBase::get_topic_name() const { return topic_name_.c_str(); }

size_t PublisherBase::get_subscription_count() const {
  return registry_->matched_subscriptions(key_).size();
}

size_t PublisherBase::get_intra_process_subscription_count() const { return 0; }

rclcpp::QoS PublisherBase::get_actual_qos() const { return qos_; }

void PublisherBase::set_node(const std::string& node_name, const std::string& node_namespace) {
  registry_->name_publisher(key_, node_name, node_namespace);
}

void PublisherBase::deliver(const void* message,
                            std::shared_ptr<const void> (*keep)(const void* message)) const {
  if (context_->is_valid()) {
    registry_->publish(key_, message, keep,
                       std::chrono::steady_clock::now() + detail::kDeliveryLatency);
  }
}

SubscriptionBase::SubscriptionBase(const std::string& topic_name, const rclcpp::QoS& qos,
                                   const std::string& message_type_name)
    : registry_(detail::TopicRegistry::instance()),
      topic_name_(topic_name),
      qos_(qos),
      message_type_name_(message_type_name),
      discovered_at_(std::chrono::steady_clock::now() + detail::kDiscoveryDelay) {}

SubscriptionBase::~SubscriptionBase() = default;

const char* SubscriptionBase::get_topic_name() const { return topic_name_.c_str(); }

rclcpp::QoS SubscriptionBase::get_actual_qos() const { return qos_; }

size_t SubscriptionBase::get_publisher_count() const {
  return registry_->matched_publisher_count(*this);
}

const std::string& SubscriptionBase::message_type_name() const { return message_type_name_; }

void SubscriptionBase::set_node(const std::string& node_name, const std::string& node_namespace) {
  node_name_ = node_name;
  node_namespace_ = node_namespace;
}

const std::string& SubscriptionBase::node_name() const { return node_name_; }

const std::string& SubscriptionBase::node_namespace() const { return node_namespace_; }

std::chrono::steady_clock::time_point SubscriptionBase::discovered_at() const {
  return discovered_at_;
}

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
    : context_(options.context()),
      name_(node_name),
      namespace_(normalize_namespace(namespace_)),
      clock_(std::make_shared<Clock>(RCL_ROS_TIME)) {
  if (!context_ || !context_->is_valid()) {
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
  return detail::TopicRegistry::instance()->count_publishers(resolve(topic_name));
}

size_t Node::count_subscribers(const std::string& topic_name) const {
  return detail::TopicRegistry::instance()->count_subscribers(resolve(topic_name));
}

std::vector<rclcpp::TopicEndpointInfo> Node::get_publishers_info_by_topic(
    const std::string& topic_name, bool no_mangle) const {
  (void)no_mangle;
  return detail::TopicRegistry::instance()->endpoints_info(resolve(topic_name),
                                                           EndpointType::Publisher);
}

std::vector<rclcpp::TopicEndpointInfo> Node::get_subscriptions_info_by_topic(
    const std::string& topic_name, bool no_mangle) const {
  (void)no_mangle;
  return detail::TopicRegistry::instance()->endpoints_info(resolve(topic_name),
                                                           EndpointType::Subscription);
}

std::map<std::string, std::vector<std::string>> Node::get_topic_names_and_types() const {
  return detail::TopicRegistry::instance()->topic_names_and_types();
}

void Node::throw_if_context_invalid() const {
  if (!context_->is_valid()) {
    throw exceptions::RCLError(exceptions::RCLErrorBase(1, "the given context is not valid"),
                               "failed to create: ");
  }
}

Clock::SharedPtr Node::get_clock() { return clock_; }

Clock::ConstSharedPtr Node::get_clock() const { return clock_; }

Time Node::now() const { return clock_->now(); }

std::string Node::resolve(const std::string& topic_name) const {
  return detail::resolve_topic_name(topic_name, namespace_, name_);
}

void Node::add_subscription(const std::shared_ptr<SubscriptionBase>& subscription) {
  subscription->set_node(name_, namespace_);
  detail::TopicRegistry::instance()->add_subscription(subscription);
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

}  // namespace rclcpp
