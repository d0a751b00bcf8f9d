#!/usr/bin/env bash
# Builds every package of the workspace with colcon into build/ and install/
# at the repository root. Extra arguments go to colcon build.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's ament_cmake must run under Debian's python3, not one earlier on PATH.
cmake_args=(-DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=RelWithDebInfo)
skip=()
if [ -n "${ROS_DISTRO:-}" ]; then
  # A real ROS 2 is sourced: build against it, never against the stand-ins.
  skip=(--packages-ignore builtin_interfaces std_msgs rclcpp kelvane_protocol)
fi

colcon build "${skip[@]}" --cmake-args "${cmake_args[@]}" "$@"
