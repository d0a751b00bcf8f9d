// Stand-in only (no such header in rclcpp): the in-process graph. It behaves
// as a DDS middleware does towards a client: an endpoint is discovered only a
// short while after its creation, a publication reaches only the
// subscriptions it is matched with at that moment (same topic and type,
// compatible QoS, both discovered), and nothing is replayed to a later one,
// except that a transient-local publisher keeps its last `depth` messages
// for each transient-local subscription it is matched with later.
#ifndef RCLCPP__DETAIL__TOPIC_REGISTRY_HPP_
#define RCLCPP__DETAIL__TOPIC_REGISTRY_HPP_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "rclcpp/node_interfaces/node_graph_interface.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class SubscriptionBase;

namespace detail {

/// How long discovery takes on loopback: an endpoint is invisible to the
/// graph queries, and unmatched, until this long after its creation.
inline constexpr std::chrono::milliseconds kDiscoveryDelay{50};

class RCLCPP_PUBLIC TopicRegistry {
 public:
  using Clock = std::chrono::steady_clock;

  /// The graph of the process. It is never destroyed, and every endpoint
  /// holds it: an endpoint destroyed after main has returned still finds it.
  static std::shared_ptr<TopicRegistry> instance();

  /// Records a publisher and returns its key for remove_publisher.
  uint64_t add_publisher(const std::string& topic_name, const std::string& type_name,
                         const rclcpp::QoS& qos);
  void remove_publisher(uint64_t key);
  /// Records the node that made the publisher `key`, as the graph shows it.
  void name_publisher(uint64_t key, const std::string& node_name,
                      const std::string& node_namespace);
  void add_subscription(const std::shared_ptr<SubscriptionBase>& subscription);

  /// The live subscriptions that the publisher `key` is matched with now.
  std::vector<std::shared_ptr<SubscriptionBase>> matched_subscriptions(uint64_t key);
  /// Delivers `message` from the publisher `key` to every subscription matched
  /// with it now, deliverable from `ready_at`. A transient-local publisher
  /// first gives a transient-local subscription it meets for the first time
  /// the messages it kept, oldest first, then keeps a copy made by `keep`.
  void publish(uint64_t key, const void* message,
               std::shared_ptr<const void> (*keep)(const void* message),
               Clock::time_point ready_at);
  /// What a middleware does when `subscription` is matched: every
  /// transient-local publisher matched with a transient-local `subscription`
  /// for the first time delivers the messages it kept, oldest first.
  void deliver_history(const std::shared_ptr<SubscriptionBase>& subscription);
  /// How many publishers `subscription` is matched with now.
  size_t matched_publisher_count(const SubscriptionBase& subscription);

  /// Discovered endpoints of `topic_name`, as the graph queries count them.
  size_t count_publishers(const std::string& topic_name);
  size_t count_subscribers(const std::string& topic_name);
  /// The discovered publishers, or subscriptions, of `topic_name`.
  std::vector<rclcpp::TopicEndpointInfo> endpoints_info(const std::string& topic_name,
                                                        rclcpp::EndpointType endpoint_type);
  /// Every discovered topic with its types, sorted by name.
  std::map<std::string, std::vector<std::string>> topic_names_and_types();

 private:
  struct PublisherRecord {
    std::string topic_name;
    std::string type_name;
    rclcpp::QoS qos;
    Clock::time_point discovered_at;
    std::string node_name, node_namespace;
    /// A transient-local publisher's last `depth` messages, oldest first.
    std::deque<std::shared_ptr<const void>> history;
    /// The subscriptions it has given its history.
    std::set<std::weak_ptr<SubscriptionBase>, std::owner_less<>> given_history;
  };

  std::vector<std::shared_ptr<SubscriptionBase>> live_subscriptions_locked();
  /// Gives `subscription` the history of `record` if both are transient local
  /// and it has not had it yet.
  static void give_history_locked(PublisherRecord& record,
                                  const std::shared_ptr<SubscriptionBase>& subscription,
                                  Clock::time_point ready_at);

  std::mutex mutex_;
  uint64_t next_key_ = 1;
  std::map<uint64_t, PublisherRecord> publishers_;
  std::vector<std::weak_ptr<SubscriptionBase>> subscriptions_;
};

/// Whether a subscription with `requested` QoS can receive from a publisher
/// with `offered` QoS: a reliable reader needs a reliable writer, a
/// transient-local reader a transient-local writer.
RCLCPP_PUBLIC
bool qos_compatible(const rclcpp::QoS& offered, const rclcpp::QoS& requested);

/// Expands a topic name as ROS 2 does: absolute names stay, "~/x" goes below
/// the node's fully qualified name, relative names below its namespace.
RCLCPP_PUBLIC
std::string resolve_topic_name(const std::string& topic_name, const std::string& node_namespace,
                               const std::string& node_name);

}  // namespace detail
}  // namespace rclcpp

#endif  // RCLCPP__DETAIL__TOPIC_REGISTRY_HPP_
