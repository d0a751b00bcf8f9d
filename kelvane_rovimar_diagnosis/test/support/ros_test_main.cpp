// Test main for tests that need a ROS context and predictable log lines.
#include <gtest/gtest.h>

#include <cstdlib>

#include "rclcpp/rclcpp.hpp"

int main(int argc, char** argv) {
  // Read once by the first log call: console only, at info, no notices.
  setenv("SPDLOG_STDOUT", "true", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  setenv("SPDLOG_LEVEL", "info", 1);
  ::testing::InitGoogleTest(&argc, argv);
  rclcpp::init(argc, argv);
  const int result = RUN_ALL_TESTS();
  rclcpp::shutdown();
  return result;
}
