// Stand-in for rclcpp/executors.hpp.
#ifndef RCLCPP__EXECUTORS_HPP_
#define RCLCPP__EXECUTORS_HPP_

#include "rclcpp/executor.hpp"
#include "rclcpp/executors/single_threaded_executor.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

/// One wait on the node's subscriptions, then at most one message from each:
/// call it until what is expected has arrived.
RCLCPP_PUBLIC
void spin_some(rclcpp::Node::SharedPtr node_ptr);

/// Serves the node's subscriptions until rclcpp::shutdown.
RCLCPP_PUBLIC
void spin(rclcpp::Node::SharedPtr node_ptr);

}  // namespace rclcpp

#endif  // RCLCPP__EXECUTORS_HPP_
