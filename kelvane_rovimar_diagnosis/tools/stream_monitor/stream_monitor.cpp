#include "stream_monitor.hpp"

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "logger/logger.hpp"
#include "rosidl_typesupport_introspection_cpp/field_types.hpp"
#include "rosidl_typesupport_introspection_cpp/message_introspection.hpp"

namespace kelvane_rovimar_diagnosis {

namespace {

constexpr char kIntrospection[] = "rosidl_typesupport_introspection_cpp";
constexpr size_t kMonitorDepth = 10;
// CDR: a 4-byte encapsulation header whose second byte tells the byte order.
constexpr size_t kEncapsulationSize = 4;
// A header's stamp.sec (int32) and stamp.nanosec (uint32) come first, then its
// frame_id: a length that counts the closing zero, and the characters.
constexpr size_t kFrameIdOffset = 12;

/// The 4-byte unsigned integer at `offset` of the payload, in the message's byte order.
uint32_t readUint32(const uint8_t* cdr, size_t offset) {
  const uint8_t* bytes = cdr + kEncapsulationSize + offset;
  const bool little_endian = (cdr[1] & 1) != 0;
  return little_endian ? uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 | uint32_t{bytes[2]} << 16 |
                             uint32_t{bytes[3]} << 24
                       : uint32_t{bytes[3]} | uint32_t{bytes[2]} << 8 | uint32_t{bytes[1]} << 16 |
                             uint32_t{bytes[0]} << 24;
}

/// "scan_1" as the graph names it: "/scan_1".
std::string resolved(const std::string& topic) {
  return !topic.empty() && topic.front() == '/' ? topic : "/" + topic;
}

}  // namespace

bool startsWithHeader(const rosidl_message_type_support_t& introspection) {
  namespace ts = rosidl_typesupport_introspection_cpp;
  const auto* members = static_cast<const ts::MessageMembers*>(introspection.data);
  if (members == nullptr) {
    return false;
  }
  // rosidl gives every message type a member, a placeholder for an empty one.
  const ts::MessageMember& first = members->members_[0];
  if (first.type_id_ != ts::ROS_TYPE_MESSAGE || first.is_array_ || first.members_ == nullptr) {
    return false;
  }
  const auto* nested = static_cast<const ts::MessageMembers*>(first.members_->data);
  return std::strcmp(nested->message_namespace_, "std_msgs::msg") == 0 &&
         std::strcmp(nested->message_name_, "Header") == 0;
}

std::optional<std_msgs::msg::Header> leadingHeader(const uint8_t* cdr, size_t size) {
  // The shortest header has an empty frame_id: its length and closing zero alone.
  if (size < kEncapsulationSize + kFrameIdOffset + 1) {
    return std::nullopt;
  }
  const uint32_t nanosec = readUint32(cdr, 4), length = readUint32(cdr, 8);
  if (length == 0 || kEncapsulationSize + kFrameIdOffset + length > size || nanosec >= 1000000000) {
    return std::nullopt;
  }
  std_msgs::msg::Header header;
  header.stamp.sec = static_cast<int32_t>(readUint32(cdr, 0));
  header.stamp.nanosec = nanosec;
  const char* frame_id = reinterpret_cast<const char*>(cdr + kEncapsulationSize + kFrameIdOffset);
  header.frame_id.assign(frame_id, strnlen(frame_id, length - 1));
  return header;
}

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
    auto& entry = configured[resolved(topic)];
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
  bool has_header{};  // told by the type support, once it loads
  try {
    const auto library = rclcpp::get_typesupport_library(type, kIntrospection);
    has_header = startsWithHeader(*rclcpp::get_typesupport_handle(type, kIntrospection, *library));
  } catch (const std::exception& error) {
    if (watched.warned_types != type) {
      LOG_WARN("Topic {} has type {}, whose type support cannot be loaded: {}", name, type,
               error.what());
      watched.warned_types = type;
    }
    return;
  }
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
