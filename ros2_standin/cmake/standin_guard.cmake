# Included first by every stand-in package. The stand-ins exist only so the
# workspace builds and tests where ROS 2 Humble cannot be installed; where a
# real ROS 2 is sourced they would shadow its packages of the same names, so
# they refuse to build.
if(DEFINED ENV{ROS_DISTRO} OR DEFINED ENV{ROS_VERSION})
  message(FATAL_ERROR
    "${PROJECT_NAME} here is a stand-in for the ROS 2 package of the same name, "
    "but a real ROS 2 ($ENV{ROS_DISTRO}) is sourced in this shell. Build only the "
    "library against it, for example: colcon build --packages-select "
    "kelvane_rovimar_diagnosis (see README.md).")
endif()
