// Stand-in for rclcpp/visibility_control.hpp.
#ifndef RCLCPP__VISIBILITY_CONTROL_HPP_
#define RCLCPP__VISIBILITY_CONTROL_HPP_

#define RCLCPP_PUBLIC __attribute__((visibility("default")))
#define RCLCPP_PUBLIC_TYPE

#endif  // RCLCPP__VISIBILITY_CONTROL_HPP_
