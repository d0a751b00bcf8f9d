# Sourced by the scripts that build or test the workspace. Where a real ROS 2
# is sourced (as on a robot) its packages replace the stand-ins, which are
# then neither built nor tested: colcon gets "${skip_standins[@]}".
standin_packages=(builtin_interfaces std_msgs sensor_msgs diagnostic_msgs rclcpp kelvane_protocol)
skip_standins=()
if [ -n "${ROS_DISTRO:-}" ]; then
  skip_standins=(--packages-ignore "${standin_packages[@]}")
fi
