// Stand-in for rclcpp/init_options.hpp.
#ifndef RCLCPP__INIT_OPTIONS_HPP_
#define RCLCPP__INIT_OPTIONS_HPP_

#include "rcl/allocator.h"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class InitOptions {
 public:
  /// If true, the context is shut down on its destruction if not already.
  bool shutdown_on_signal = true;

  RCLCPP_PUBLIC
  explicit InitOptions(rcl_allocator_t allocator = rcl_get_default_allocator());

  RCLCPP_PUBLIC
  virtual ~InitOptions() = default;

  RCLCPP_PUBLIC
  bool auto_initialize_logging() const;

  RCLCPP_PUBLIC
  InitOptions& auto_initialize_logging(bool initialize_logging);

 private:
  bool initialize_logging_{true};
};

}  // namespace rclcpp

#endif  // RCLCPP__INIT_OPTIONS_HPP_
