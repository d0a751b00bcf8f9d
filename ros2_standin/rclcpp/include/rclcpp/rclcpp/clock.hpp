// Stand-in for rclcpp/clock.hpp. RCL_ROS_TIME reads the system clock, as it
// does in ROS 2 while simulated time is off.
#ifndef RCLCPP__CLOCK_HPP_
#define RCLCPP__CLOCK_HPP_

#include "rcl/time.h"
#include "rclcpp/macros.hpp"
#include "rclcpp/time.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class Clock {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(Clock)

  RCLCPP_PUBLIC
  explicit Clock(rcl_clock_type_t clock_type = RCL_SYSTEM_TIME);

  RCLCPP_PUBLIC
  ~Clock();

  RCLCPP_PUBLIC
  Time now();

  RCLCPP_PUBLIC
  bool ros_time_is_active();

  RCLCPP_PUBLIC
  rcl_clock_type_t get_clock_type() const noexcept;

 private:
  rcl_clock_type_t clock_type_;
};

}  // namespace rclcpp

#endif  // RCLCPP__CLOCK_HPP_
