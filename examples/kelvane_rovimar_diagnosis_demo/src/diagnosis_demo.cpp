// Embeds one Diagnosis the way a robot program does: ROS is initialised, the
// client nodes of the installed default configuration report their streams,
// and the first report initialises the monitor. A scripted sequence of faults
// then shows what robot engineers see on the three diagnostic topics, and the
// run ends with the health snapshot and the last /diagnostics array.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "ament_index_cpp/get_package_share_directory.hpp"
#include "diagnostic_msgs/msg/diagnostic_array.hpp"
#include "kelvane_protocol/msg/diagnostic_event.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using DiagnosticEvent = kelvane_protocol::msg::DiagnosticEvent;
using DiagnosticArray = diagnostic_msgs::msg::DiagnosticArray;
using DiagnosticStatus = diagnostic_msgs::msg::DiagnosticStatus;
using kelvane_rovimar_diagnosis::StreamHealth;

/// One sensor stream as a client node receives it.
struct Stream {
  std::string node;
  std::string topic;
  double rate_hz;
  bool with_header;
  bool running = true;
  double next_report_s = 0.0;
};

/// One scripted fault or repair, at `at_s` seconds after the start.
struct Step {
  double at_s;
  std::string what;
  std::function<void()> act;
};

constexpr double kRunSeconds = 17.5;

std::vector<Stream> defaultStreams() {
  return {
      {"lidar_proxy_node", "scan_1", 15.0, true},
      {"lidar_proxy_node", "scan_2", 15.0, true},
      {"lidar_proxy_node", "/rslidar_points", 10.0, true},
      {"ultrasonic_proxy_node", "/kelvane_ultrasonic/original_ultrasonic_1", 10.0, false},
      {"ultrasonic_proxy_node", "/kelvane_ultrasonic/original_ultrasonic_2", 10.0, false},
      {"ultrasonic_proxy_node", "/kelvane_ultrasonic/original_ultrasonic_3", 10.0, false},
      {"ultrasonic_proxy_node", "/kelvane_ultrasonic/original_ultrasonic_4", 10.0, false},
      {"camera_proxy_node", "/camera_01/color/image_raw", 30.0, true},
      {"camera_proxy_node", "/camera_02/depth/image_raw", 15.0, true},
      {"camera_proxy_node", "/camera_03/color/image_raw", 30.0, true},
      {"chassis_node", "/imu/data", 100.0, true},
      {"chassis_node", "/robot_base/wheel/odom", 50.0, true},
  };
}

Stream& streamOf(std::vector<Stream>& streams, const std::string& topic) {
  for (auto& stream : streams) {
    if (stream.topic == topic) {
      return stream;
    }
  }
  throw std::out_of_range("no stream " + topic);
}

constexpr const char* kEventTopics[] = {"sensor_proxy_diag_topic", "chassis_pnc_diag_topic",
                                        "chassis_loc_diag_topic"};

/// Subscribes `node` to the three event topics, transient local: the last ten
/// events of each are delivered once discovery has matched it, however late.
std::vector<rclcpp::Subscription<DiagnosticEvent>::SharedPtr> subscribeToEvents(
    rclcpp::Node& node, const std::function<void(const char*, const DiagnosticEvent&)>& seen) {
  std::vector<rclcpp::Subscription<DiagnosticEvent>::SharedPtr> subscriptions;
  for (const char* topic : kEventTopics) {
    subscriptions.push_back(node.create_subscription<DiagnosticEvent>(
        topic, rclcpp::QoS(10).transient_local(),
        [&seen, topic](const DiagnosticEvent& event) { seen(topic, event); }));
  }
  return subscriptions;
}

std::string installedThresholds() {
  return ament_index_cpp::get_package_share_directory("kelvane_rovimar_diagnosis") +
         "/config/sensor_thresholds.yaml";
}

std::string figure(const std::optional<double>& value, const char* unit) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value.value_or(0.0), unit);
  return value ? text : "-";
}

const char* const kLevels[] = {"OK", "WARN", "ERROR", "STALE"};

/// What a robot's supervisor asks before the robot moves: the streams whose
/// level is not OK now (timed out, at a low rate, or not started yet; one that
/// its node suspended on purpose holds nothing), as "topic (state)", or "".
std::string unhealthyStreams(const std::vector<StreamHealth>& streams) {
  std::string unhealthy;
  for (const StreamHealth& stream : streams) {
    const bool low = stream.frame_rate == kelvane_rovimar_diagnosis::FrameRateState::ABNORMAL;
    if (kelvane_rovimar_diagnosis::diagnosticLevel(stream) != DiagnosticStatus::OK) {
      unhealthy += (unhealthy.empty() ? "" : ", ") + stream.topic + " (" +
                   (low ? "low rate" : kelvane_rovimar_diagnosis::conditionName(stream.condition)) +
                   ")";
    }
  }
  return unhealthy;
}

void printHealthTable(const std::vector<StreamHealth>& streams) {
  std::printf("\nhealth snapshot:\n  %-5s %-22s %-42s %-12s %-5s %16s %9s %9s %9s\n", "level",
              "node", "topic", "state", "rate", "Hz / nominal", "silence", "age", "jitter");
  for (const StreamHealth& stream : streams) {
    const std::optional<double> silence =
        stream.silence_ms ? std::optional<double>(*stream.silence_ms) : std::nullopt;
    std::printf(
        "  %-5s %-22s %-42s %-12s %-5s %7.1f / %6.1f %9s %9s %9s\n",
        kLevels[kelvane_rovimar_diagnosis::diagnosticLevel(stream)], stream.node.c_str(),
        stream.topic.c_str(), kelvane_rovimar_diagnosis::conditionName(stream.condition),
        stream.frame_rate == kelvane_rovimar_diagnosis::FrameRateState::ABNORMAL ? "low" : "ok",
        stream.rate_hz, stream.nominal_hz, figure(silence, "ms").c_str(),
        figure(stream.age_ms, "ms").c_str(), figure(stream.jitter_ms, "ms").c_str());
  }
}

void printDiagnosticArray(const DiagnosticArray& array) {
  std::printf("\nlast /diagnostics array (%zu statuses, stamp %d.%09u):\n", array.status.size(),
              array.header.stamp.sec, array.header.stamp.nanosec);
  for (const auto& status : array.status) {
    std::printf("  %-5s %-66s %s\n", status.level < 4 ? kLevels[status.level] : "?",
                status.name.c_str(), status.message.c_str());
  }
  if (!array.status.empty()) {
    std::printf("  values of \"%s\" [hardware_id %s]:\n", array.status.front().name.c_str(),
                array.status.front().hardware_id.c_str());
    for (const auto& value : array.status.front().values) {
      std::printf("    %-24s %s\n", value.key.c_str(), value.value.c_str());
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Plain log lines on standard output, without the logger's notices.
  setenv("SPDLOG_STDOUT", "true", 0);
  setenv("SPDLOG_SYSTEMD", "false", 0);
  setenv("SPDLOG_LEVEL", "info", 0);
  rclcpp::init(argc, argv);

  const Clock::time_point start = Clock::now();
  auto seconds_since_start = [start] {
    return std::chrono::duration<double>(Clock::now() - start).count();
  };

  // The robot's side: a node that watches the three diagnostic topics.
  auto monitor = std::make_shared<rclcpp::Node>("diagnosis_demo_monitor");
  std::map<std::string, int> events_seen;
  const std::function<void(const char*, const DiagnosticEvent&)> print_event =
      [&](const char* topic, const DiagnosticEvent& event) {
        std::printf("==> EVENT [%6.2fs] %-24s %5d  status %d  %s\n", seconds_since_start(), topic,
                    event.event_id, event.event_status, event.event_msg.c_str());
        std::fflush(stdout);
        ++events_seen[std::to_string(event.event_id) + " " + event.event_msg];
      };
  const auto subscriptions = subscribeToEvents(*monitor, print_event);
  // A supervisor that another machine starts late: it joins at 6 s and still
  // gets the start-up events, with the stamps of when they happened.
  auto late_supervisor = std::make_shared<rclcpp::Node>("diagnosis_demo_late_supervisor");
  std::vector<std::string> late_seen;
  const std::function<void(const char*, const DiagnosticEvent&)> note_late =
      [&](const char* topic, const DiagnosticEvent& event) {
        const auto& stamp = event.header.stamp;
        char when[64] = "no stamp";
        if (stamp.sec != 0) {
          std::snprintf(
              when, sizeof when, "stamped %.1f s before it arrived",
              rclcpp::Clock(RCL_SYSTEM_TIME).now().seconds() - (stamp.sec + stamp.nanosec * 1e-9));
        }
        late_seen.push_back(std::string(topic) + " " + std::to_string(event.event_id) + " status " +
                            std::to_string(event.event_status) + " " + event.event_msg + " (" +
                            when + ")");
      };
  std::vector<rclcpp::Subscription<DiagnosticEvent>::SharedPtr> late_subscriptions;

  // What rqt_robot_monitor or diagnostic_aggregator would read.
  DiagnosticArray last_array;
  int arrays_seen = 0;
  const auto diagnostics_subscription = monitor->create_subscription<DiagnosticArray>(
      "/diagnostics", rclcpp::QoS(10), [&](const DiagnosticArray& array) {
        last_array = array;
        ++arrays_seen;
      });

  auto owned_diagnosis = std::make_unique<Diagnosis>();
  Diagnosis& diagnosis = *owned_diagnosis;
  std::vector<Stream> streams = defaultStreams();
  auto say = [&](const std::string& what) {
    std::printf("--- [%6.2fs] %s\n", seconds_since_start(), what.c_str());
    std::fflush(stdout);
  };
  const std::string ultrasonic_2 = "/kelvane_ultrasonic/original_ultrasonic_2";
  int localization_status = 1;
  std::vector<Step> script = {
      // No wait for the monitor's subscriptions: the publishers keep what they
      // sent for subscribers that ask for transient local, however late.
      {0.3, "the calibration of the configured sensors is checked once",
       [&] { diagnosis.SensorCalibrationStatusReport(); }},
      {0.5,
       "the /diagnostics view is turned on: the installed file again, with a diagnostics section",
       [&] {
         std::ifstream installed(installedThresholds());
         std::ostringstream text;
         text << installed.rdbuf() << "\ndiagnostics: {period_ms: 1000, hardware_id: demo_robot}\n";
         diagnosis.loadConfigFromText(text.str(), "sensor_thresholds.yaml with diagnostics");
       }},
      {2.0, "rear 2D lidar scan_2 stops", [&] { streamOf(streams, "scan_2").running = false; }},
      {3.0, "the global planner reports a failed plan",
       [&] { diagnosis.DataStatusReport(PATH_GLOBAL_PLAN_STATUS, 1); }},
      {3.2, "and again 200 ms later: dropped by the one-per-second limit",
       [&] { diagnosis.DataStatusReport(PATH_GLOBAL_PLAN_STATUS, 1); }},
      {4.5, "the global planner plans again",
       [&] { diagnosis.DataStatusReport(PATH_GLOBAL_PLAN_STATUS, 0); }},
      {5.0, "scan_2 is back", [&] { streamOf(streams, "scan_2").running = true; }},
      {6.0, "a supervisor joins late, asking for transient local: it gets the past events",
       [&] { late_subscriptions = subscribeToEvents(*late_supervisor, note_late); }},
      {7.0, "camera_01 drops to 5 Hz (nominal 30 Hz)",
       [&] { streamOf(streams, "/camera_01/color/image_raw").rate_hz = 5.0; }},
      {8.0, "ultrasonic_2 is suspended and goes silent: no event expected",
       [&] {
         diagnosis.SensorReportUsingStatus("ultrasonic_proxy_node", ultrasonic_2, 1);
         streamOf(streams, ultrasonic_2).running = false;
       }},
      {9.0, "a node the configuration does not know reports: refused",
       [&] {
         const bool accepted =
             diagnosis.SensorReportWithHeader("ghost_node", "scan_1", std_msgs::msg::Header());
         say(std::string("ghost_node report ") + (accepted ? "accepted" : "refused"));
       }},
      {11.0, "ultrasonic_2 resumes",
       [&] {
         diagnosis.SensorReportUsingStatus("ultrasonic_proxy_node", ultrasonic_2, 0);
         streamOf(streams, ultrasonic_2).running = true;
       }},
      {12.0, "localization reports status 0 (lost) every 100 ms", [&] { localization_status = 0; }},
      {13.0, "camera_01 is back to 30 Hz",
       [&] { streamOf(streams, "/camera_01/color/image_raw").rate_hz = 30.0; }},
      {14.0, "localization reports status 2 (relocalised) every 100 ms",
       [&] { localization_status = 2; }},
  };
  size_t next_step = 0;
  double next_localization_s = 0.0;
  double next_supervision_s = 1.0;
  std::string held_for = "not started";

  say("streams start: 12 topics from 4 client nodes; the first report initialises the monitor");
  int64_t reports = 0;
  while (seconds_since_start() < kRunSeconds) {
    const double now_s = seconds_since_start();
    while (next_step < script.size() && script[next_step].at_s <= now_s) {
      say(script[next_step].what);
      script[next_step].act();
      ++next_step;
    }
    if (next_supervision_s <= now_s) {
      // Once a second, as a supervisor would before letting the robot move.
      const std::string unhealthy = unhealthyStreams(diagnosis.snapshot());
      if (unhealthy != held_for) {
        say(unhealthy.empty() ? "supervisor: every stream healthy, the robot may move"
                              : "supervisor: the robot holds for " + unhealthy);
        held_for = unhealthy;
      }
      next_supervision_s += 1.0;
    }
    if (next_localization_s <= now_s) {
      diagnosis.LocalizationLostReport(LOCALIZATION_LOST_STATUS, localization_status);
      next_localization_s += 0.1;
    }
    for (auto& stream : streams) {
      if (stream.next_report_s > now_s) {
        continue;
      }
      if (stream.running) {
        std_msgs::msg::Header header;
        header.stamp = rclcpp::Clock(RCL_SYSTEM_TIME).now();
        header.frame_id = stream.topic;
        if (stream.with_header) {
          diagnosis.SensorReportWithHeader(stream.node, stream.topic, header);
        } else {
          diagnosis.SensorReportWithoutHeader(stream.node, stream.topic);
        }
        ++reports;
      }
      stream.next_report_s += 1.0 / stream.rate_hz;
    }
    rclcpp::spin_some(monitor);
    rclcpp::spin_some(late_supervisor);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  // What is still on its way: a middleware delivers a moment after publishing.
  for (const auto end = Clock::now() + std::chrono::milliseconds(200); Clock::now() < end;) {
    rclcpp::spin_some(monitor);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  printHealthTable(diagnosis.snapshot());
  owned_diagnosis.reset();  // stops the monitoring thread
  std::printf("\n%d /diagnostics arrays received, one a second", arrays_seen);
  printDiagnosticArray(last_array);

  std::printf("\nsummary: %lld reports in %.1f s; events seen:\n", static_cast<long long>(reports),
              kRunSeconds);
  for (const auto& [event, count] : events_seen) {
    std::printf("  %dx %s\n", count, event.c_str());
  }
  std::printf(
      "a supervisor that joined at 6 s, transient local, received %zu events, "
      "the first ones from before it joined:\n",
      late_seen.size());
  for (const std::string& event : late_seen) {
    std::printf("  %s\n", event.c_str());
  }
  rclcpp::shutdown();
  return 0;
}
