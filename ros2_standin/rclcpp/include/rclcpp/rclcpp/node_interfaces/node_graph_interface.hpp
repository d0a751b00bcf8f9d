// Stand-in for rclcpp/node_interfaces/node_graph_interface.hpp: what the graph
// tells of one publisher or subscription of a topic, as `ros2 topic info -v`
// shows it. GIDs are left out: nothing here needs them.
#ifndef RCLCPP__NODE_INTERFACES__NODE_GRAPH_INTERFACE_HPP_
#define RCLCPP__NODE_INTERFACES__NODE_GRAPH_INTERFACE_HPP_

#include <string>
#include <utility>

#include "rclcpp/qos.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

enum class EndpointType { Invalid = 0, Publisher, Subscription };

class RCLCPP_PUBLIC TopicEndpointInfo {
 public:
  TopicEndpointInfo(std::string node_name, std::string node_namespace, std::string topic_type,
                    EndpointType endpoint_type, const rclcpp::QoS& qos)
      : node_name_(std::move(node_name)),
        node_namespace_(std::move(node_namespace)),
        topic_type_(std::move(topic_type)),
        endpoint_type_(endpoint_type),
        qos_profile_(qos) {}

  std::string& node_name() { return node_name_; }
  const std::string& node_name() const { return node_name_; }
  std::string& node_namespace() { return node_namespace_; }
  const std::string& node_namespace() const { return node_namespace_; }

  std::string& topic_type() { return topic_type_; }
  const std::string& topic_type() const { return topic_type_; }
  rclcpp::EndpointType& endpoint_type() { return endpoint_type_; }
  const rclcpp::EndpointType& endpoint_type() const { return endpoint_type_; }
  rclcpp::QoS& qos_profile() { return qos_profile_; }
  const rclcpp::QoS& qos_profile() const { return qos_profile_; }

 private:
  std::string node_name_;
  std::string node_namespace_;
  std::string topic_type_;
  rclcpp::EndpointType endpoint_type_;
  rclcpp::QoS qos_profile_;
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_INTERFACES__NODE_GRAPH_INTERFACE_HPP_
