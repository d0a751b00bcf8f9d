// Stand-in for rclcpp/executors.hpp.
#ifndef RCLCPP__EXECUTORS_HPP_
#define RCLCPP__EXECUTORS_HPP_

#include "rclcpp/node.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

/// Runs the callbacks of the node's subscriptions for every message queued so far.
RCLCPP_PUBLIC
void spin_some(rclcpp::Node::SharedPtr node_ptr);

/// Serves the node's subscriptions until rclcpp::shutdown.
RCLCPP_PUBLIC
void spin(rclcpp::Node::SharedPtr node_ptr);

}  // namespace rclcpp

#endif  // RCLCPP__EXECUTORS_HPP_
