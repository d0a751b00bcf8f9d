#include "stream_monitor.hpp"

#include <algorithm>
#include <utility>

#include "logger/logger.hpp"
#include "message_headers.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

constexpr size_t kMonitorDepth = 10;

}  // namespace

rclcpp::QoS monitorQos() { return rclcpp::QoS(kMonitorDepth).best_effort().durability_volatile(); }

void reportMessage(Diagnosis& diagnosis, const WatchedTopic& watched, const uint8_t* cdr,
                   size_t size) {
  const std::optional<std_msgs::msg::Header> header =
      watched.has_header ? leadingHeader(cdr, size) : std::nullopt;
  for (const std::string& node : watched.nodes) {
    if (header) {
      diagnosis.SensorReportWithHeader(node, watched.topic, *header);
    } else {
      diagnosis.SensorReportWithoutHeader(node, watched.topic);
    }
  }
}

StreamMonitor::StreamMonitor(Diagnosis& diagnosis, rclcpp::Node::SharedPtr node)
    : diagnosis_(diagnosis), node_(std::move(node)) {}

void StreamMonitor::pollGraph() {
  // The file's topics, grouped by the name the graph gives them.
  std::map<std::string, std::pair<std::string, std::vector<std::string>>> configured;
  for (const auto& [node, topic] : diagnosis_.configuredTopics()) {
    auto& entry = configured[graphName(topic)];
    entry.first = topic;
    if (std::find(entry.second.begin(), entry.second.end(), node) == entry.second.end()) {
      entry.second.push_back(node);
      diagnosis_.AutoRegisterNode(node);
    }
  }
  for (auto watched = topics_.begin(); watched != topics_.end();) {
    watched = configured.count(watched->first) > 0 ? std::next(watched) : topics_.erase(watched);
  }
  const auto graph = node_->get_topic_names_and_types();
  for (auto& [name, entry] : configured) {
    WatchedTopic& watched = topics_[name];
    if (watched.topic != entry.first || watched.nodes != entry.second) {
      watched.topic = entry.first;
      watched.nodes = entry.second;
      watched.type.clear();  // subscribed again below, reporting under the nodes listed now
    }
    const auto found = graph.find(name);
    if (found == graph.end() || found->second.empty()) {
      if (!watched.warned_missing && watched.type.empty()) {
        LOG_WARN("Topic {} of {} is not published yet; monitoring it once it is", name,
                 fmt::join(watched.nodes, ", "));
        watched.warned_missing = true;
      }
      continue;  // a subscription stays for publishers that come back
    }
    const std::vector<std::string>& types = found->second;
    if (types.size() > 1) {
      // Reports of two types would be counted as one stream: wait until one is left.
      const std::string listed = fmt::format("{}", fmt::join(types, ", "));
      if (watched.warned_types != listed &&
          std::find(types.begin(), types.end(), watched.type) == types.end()) {
        LOG_WARN("Topic {} is published with several types ({}); monitoring it once it has one",
                 name, listed);
        watched.warned_types = listed;
      }
      continue;
    }
    if (types.front() != watched.type) {
      subscribe(name, watched, types.front());
    }
  }
}

void StreamMonitor::subscribe(const std::string& name, WatchedTopic& watched,
                              const std::string& type) {
  const HeaderSupport support = headerSupportOf(type);
  if (!support.error.empty()) {
    if (watched.warned_types != type) {
      LOG_WARN("Topic {} has type {}, whose type support cannot be loaded: {}", name, type,
               support.error);
      watched.warned_types = type;
    }
    return;
  }
  const bool has_header = support.has_header;
  if (!watched.type.empty()) {
    LOG_INFO("Topic {} changed its type from {} to {}", name, watched.type, type);
  }
  watched.type = type;
  watched.has_header = has_header;
  watched.warned_types.clear();
  // The callback keeps its own copy of what it reports under: a later poll
  // may replace this subscription while a message is being handled.
  const WatchedTopic reported = watched;
  watched.subscription = node_->create_generic_subscription(
      name, type, monitorQos(),
      [this, reported](std::shared_ptr<rclcpp::SerializedMessage> message) {
        const rcl_serialized_message_t& bytes = message->get_rcl_serialized_message();
        reportMessage(diagnosis_, reported, bytes.buffer, bytes.buffer_length);
      });
  LOG_INFO("Monitoring {} ({}, {}) for {}", name, type, has_header ? "header stamps" : "no header",
           fmt::join(watched.nodes, ", "));
}

}  // namespace kelvane_rovimar_diagnosis
