// A robot program that holds its Diagnosis as robot programs do and ends in
// one of the ways a process ends, so that tests can check how it ends.
//
//   exit_probe <namespace|local_static|member> <return|shutdown|exit> <watch|no_watch> CONFIG
//
// It initialises from CONFIG, starts the monitoring thread (and the watcher),
// reports one message, lets a few cycles run, prints "ending" and ends with
// status 3: by returning from main, after rclcpp::shutdown(), or by std::exit.
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>
#include <thread>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

Diagnosis namespace_diagnosis;

struct Robot {
  Diagnosis diagnosis;
};
Robot robot;

Diagnosis& localStatic() {
  static Diagnosis diagnosis;
  return diagnosis;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string placement = argv[1], ending = argv[2];
  rclcpp::init(argc, argv);
  Diagnosis& diagnosis = placement == "namespace"      ? namespace_diagnosis
                         : placement == "local_static" ? localStatic()
                                                       : robot.diagnosis;
  if (!diagnosis.initialize(argv[4])) return 2;
  diagnosis.startTimer();
  if (std::string(argv[3]) == "watch") diagnosis.startConfigWatcher();
  if (!diagnosis.SensorReportWithoutHeader("lidar_proxy_node", "scan_1")) return 2;
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  std::cout << "ending" << std::endl;
  if (ending == "shutdown") rclcpp::shutdown();
  if (ending == "exit") std::exit(3);
  return 3;
}
