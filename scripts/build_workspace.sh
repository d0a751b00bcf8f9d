#!/usr/bin/env bash
# Builds every package of the workspace with colcon into build/ and install/
# at the repository root. Extra arguments go to colcon build; those after
# --cmake-args are added to the CMake arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

# Debian's ament_cmake must run under Debian's python3, not one earlier on PATH.
cmake_args=(-DPython3_EXECUTABLE=/usr/bin/python3 -DCMAKE_BUILD_TYPE=RelWithDebInfo)
# A real ROS 2 sourced: build against it, never against the stand-ins.
. scripts/lib/workspace.bash

colcon_args=()
while [ $# -gt 0 ] && [ "$1" != --cmake-args ]; do
  colcon_args+=("$1")
  shift
done
[ $# -gt 0 ] && shift
colcon build "${skip_standins[@]}" "${colcon_args[@]}" --cmake-args "${cmake_args[@]}" "$@"
