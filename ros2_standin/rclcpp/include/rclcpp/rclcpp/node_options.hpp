// Stand-in for rclcpp/node_options.hpp.
#ifndef RCLCPP__NODE_OPTIONS_HPP_
#define RCLCPP__NODE_OPTIONS_HPP_

#include "rcl/allocator.h"
#include "rclcpp/context.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class NodeOptions {
 public:
  RCLCPP_PUBLIC
  explicit NodeOptions(rcl_allocator_t allocator = rcl_get_default_allocator());

  RCLCPP_PUBLIC
  virtual ~NodeOptions() = default;

  RCLCPP_PUBLIC
  NodeOptions(const NodeOptions& other);

  RCLCPP_PUBLIC
  NodeOptions& operator=(const NodeOptions& other);

  RCLCPP_PUBLIC
  rclcpp::Context::SharedPtr context() const;

  RCLCPP_PUBLIC
  NodeOptions& context(rclcpp::Context::SharedPtr context);

  RCLCPP_PUBLIC
  const rcl_allocator_t& allocator() const;

 private:
  rclcpp::Context::SharedPtr context_;
  rcl_allocator_t allocator_;
};

}  // namespace rclcpp

#endif  // RCLCPP__NODE_OPTIONS_HPP_
