// Costs on the robot's message path and of one monitoring cycle.
//
//   install/kelvane_rovimar_diagnosis/lib/kelvane_rovimar_diagnosis/bench_diagnosis
#include <benchmark/benchmark.h>
#include <ament_index_cpp/get_package_share_directory.hpp>

#include <cstdlib>
#include <string>
#include <vector>

#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

// The installed default configuration: four client nodes, twelve topics.
Diagnosis& monitor() {
  static Diagnosis diagnosis;
  static const bool initialized = diagnosis.initialize(
      ament_index_cpp::get_package_share_directory("kelvane_rovimar_diagnosis") +
      "/config/sensor_thresholds.yaml");
  if (!initialized) {
    std::abort();
  }
  return diagnosis;
}

void BM_ReportWithHeader(benchmark::State& state) {
  Diagnosis& diagnosis = monitor();
  std_msgs::msg::Header header;
  header.frame_id = "laser";
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        diagnosis.SensorReportWithHeader("lidar_proxy_node", "scan_1", header));
  }
}
BENCHMARK(BM_ReportWithHeader)->Threads(1)->Threads(2);

void BM_ReportWithoutHeader(benchmark::State& state) {
  Diagnosis& diagnosis = monitor();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        diagnosis.SensorReportWithoutHeader("chassis_node", "/robot_base/wheel/odom"));
  }
}
BENCHMARK(BM_ReportWithoutHeader);

void BM_RefusedReport(benchmark::State& state) {
  Diagnosis& diagnosis = monitor();
  for (auto _ : state) {
    benchmark::DoNotOptimize(diagnosis.SensorReportWithoutHeader("lidar_proxy_node", "/imu/data"));
  }
}
BENCHMARK(BM_RefusedReport);

// One cycle of both checks over the twelve topics, each with a full 1.1 s window.
void BM_MonitoringCycle(benchmark::State& state) {
  Diagnosis& diagnosis = monitor();
  const std::vector<std::pair<std::string, std::string>> streams = {
      {"lidar_proxy_node", "scan_1"},
      {"lidar_proxy_node", "scan_2"},
      {"lidar_proxy_node", "/rslidar_points"},
      {"ultrasonic_proxy_node", "/kelvane_ultrasonic/original_ultrasonic_1"},
      {"ultrasonic_proxy_node", "/kelvane_ultrasonic/original_ultrasonic_2"},
      {"ultrasonic_proxy_node", "/kelvane_ultrasonic/original_ultrasonic_3"},
      {"ultrasonic_proxy_node", "/kelvane_ultrasonic/original_ultrasonic_4"},
      {"camera_proxy_node", "/camera_01/color/image_raw"},
      {"camera_proxy_node", "/camera_02/depth/image_raw"},
      {"camera_proxy_node", "/camera_03/color/image_raw"},
      {"chassis_node", "/imu/data"},
      {"chassis_node", "/robot_base/wheel/odom"},
  };
  for (auto _ : state) {
    state.PauseTiming();
    for (const auto& [node, topic] : streams) {
      for (int message = 0; message < 10; ++message) {
        diagnosis.SensorReportWithoutHeader(node, topic);
      }
    }
    state.ResumeTiming();
    diagnosis.TimeoutCheck();
    diagnosis.FPSCheck();
  }
}
BENCHMARK(BM_MonitoringCycle);

}  // namespace

int main(int argc, char** argv) {
  // No sink: the numbers are about the library, not the terminal.
  setenv("SPDLOG_STDOUT", "false", 1);
  setenv("SPDLOG_SYSTEMD", "false", 1);
  setenv("SPDLOG_LEVEL", "info", 1);
  rclcpp::init(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  rclcpp::shutdown();
  return 0;
}
