// The standalone stream monitor: a node that subscribes itself to every topic
// the thresholds file lists, whatever its type, and reports each message it
// receives to a Diagnosis under the node names of the file, so that streams
// of nodes whose code cannot change are watched too.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__STREAM_MONITOR_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__STREAM_MONITOR_HPP_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "rclcpp/rclcpp.hpp"

namespace kelvane_rovimar_diagnosis {

/// Best effort, volatile, the newest ten: a best-effort subscription matches
/// reliable and best-effort publishers alike, and sensor drivers publish best effort.
rclcpp::QoS monitorQos();

/// One topic the monitor subscribes to, and the nodes it reports it under.
struct WatchedTopic {
  /// The name as the file spells it, under which reports are made.
  std::string topic;
  std::vector<std::string> nodes;
  /// The type subscribed with, "" while none.
  std::string type;
  bool has_header{};  // set with the subscription
  rclcpp::GenericSubscription::SharedPtr subscription;
  /// What has been said of it, so that each warning comes once.
  bool warned_missing = false;
  std::string warned_types;
};

/// Reports one message of `watched` to `diagnosis` under each of its nodes:
/// with the message's own header when its type begins with one.
void reportMessage(Diagnosis& diagnosis, const WatchedTopic& watched, const uint8_t* cdr,
                   size_t size);

class StreamMonitor {
 public:
  /// Watches the topics `diagnosis` is configured with, through `node`.
  StreamMonitor(Diagnosis& diagnosis, rclcpp::Node::SharedPtr node);

  /// Compares the configured topics with the ROS graph and subscribes to each
  /// that is published with one type, again when its type changes. A topic
  /// not published yet, or published with several types, is warned of once.
  /// Registers every configured node, so that a stream that never comes
  /// times out after its initial grace. Call it about once a second.
  void pollGraph();

  /// The topics by their resolved names.
  const std::map<std::string, WatchedTopic>& topics() const { return topics_; }

 private:
  void subscribe(const std::string& resolved, WatchedTopic& watched, const std::string& type);

  Diagnosis& diagnosis_;
  rclcpp::Node::SharedPtr node_;
  std::map<std::string, WatchedTopic> topics_;
};

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__STREAM_MONITOR_HPP_
