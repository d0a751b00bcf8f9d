// Every kind of thread a robot program has, on one Diagnosis, while its
// thresholds file keeps changing under it. The test checks what every call
// answers and what every event says, and a watchdog fails it on a deadlock.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "kelvane_protocol/msg/diagnostic_event.hpp"
#include "rclcpp/rclcpp.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/test_support.hpp"

namespace {

using namespace std::chrono_literals;
using Event = kelvane_protocol::msg::DiagnosticEvent;

constexpr int kNodes = 10;
constexpr int kTopicsPerNode = 40;  // 400 streams, and the flapper's seven
constexpr auto kRunFor = 8s;
const std::vector<std::string> kFlapperTopics = {"scan_1",
                                                 "scan_2",
                                                 "/rslidar_points",
                                                 "/kelvane_ultrasonic/original_ultrasonic_1",
                                                 "/kelvane_ultrasonic/original_ultrasonic_2",
                                                 "/kelvane_ultrasonic/original_ultrasonic_3",
                                                 "/kelvane_ultrasonic/original_ultrasonic_4"};
const std::map<AbnormalEventType, int32_t> kClientEventIds = {
    {FRONT_2D_LIDAR_STATUS, 8009},        {REAR_2D_LIDAR_STATUS, 8011},
    {PATH_GLOBAL_PLAN_STATUS, 8021},      {PATH_LOCAL_PLAN_STATUS, 8022},
    {LOCALIZATION_DEGRADED_STATUS, 8023}, {NAV_TO_POINT_STATUS, 8026},
    {INFER_STREAM_TIMEOUT_STATUS, 5024}};
constexpr int32_t kLocalizationLostId = 8024;

std::string topicName(int node, int topic) { return fmt::format("t_{}_{}", node, topic); }

std::string reporterEntry(int node, int topic, int version) {
  return fmt::format(
      "{}: {{normal_hz: {}, low_ratio: 0.5, cutoff_timeout_ms: 60000, cutoff_recovery_threshold: "
      "2, abnormal_duration_ms: 60000, fps_recovery_threshold: 1, fps_recovery_duration_ms: {}}}",
      topicName(node, topic), 10 + version, 100 + topic);
}

/// The whole document as one flow mapping: any part of it short of the last
/// brace fails to parse, so a watcher that reads the file while it is being
/// written in place never loads half of it.
std::string thresholdsFile(int version, const std::string& extra_sensor = "") {
  std::vector<std::string> nodes = {
      fmt::format("flapper_node: {{topics: [{}]}}", fmt::join(kFlapperTopics, ", "))};
  std::vector<std::string> sensors;
  for (const auto& topic : kFlapperTopics) {
    // Times out after 100 ms of silence; its frame rate never counts as low long enough.
    sensors.push_back(topic +
                      ": {normal_hz: 10, low_ratio: 0.001, cutoff_timeout_ms: 100, "
                      "cutoff_recovery_threshold: 1, abnormal_duration_ms: 3600000, "
                      "fps_recovery_threshold: 0.01, fps_recovery_duration_ms: 1}");
  }
  for (int node = 0; node < kNodes; ++node) {
    std::vector<std::string> topics;
    for (int topic = 0; topic < kTopicsPerNode; ++topic) {
      topics.push_back(topicName(node, topic));
      sensors.push_back(reporterEntry(node, topic, version));
    }
    nodes.push_back(fmt::format("node_{}: {{topics: [{}]}}", node, fmt::join(topics, ", ")));
  }
  if (!extra_sensor.empty()) sensors.push_back(extra_sensor);
  return fmt::format("{{nodes: {{{}}},\nsensors: {{\n{}}},\ncalibration_sensors: [cam_{}]}}\n",
                     fmt::join(nodes, ", "), fmt::join(sensors, ",\n"), version);
}

/// The node, threshold and calibration tables, without the runtimes.
std::string configured(const DiagnosisTestPeer& peer) {
  const std::string tables = peer.tables();
  return tables.substr(0, tables.find("\nruntime:"));
}

TEST(Stress, ConcurrentReportsReloadsAndEventsKeepEveryPromise) {
  test_support::TempDir files;
  const std::string path = files.path("thresholds.yaml");
  std::vector<std::string> versions, expected;
  for (int version = 0; version < 3; ++version) {
    versions.push_back(thresholdsFile(version));
    Diagnosis scratch;
    ASSERT_TRUE(scratch.loadConfigFromText(versions.back(), "scratch"));
    expected.push_back(configured(DiagnosisTestPeer(scratch)));
  }
  const std::string negative = thresholdsFile(1, "bad: {normal_hz: -1}");
  const std::string repeated = thresholdsFile(2, reporterEntry(0, 0, 2));
  const std::string truncated = versions[0].substr(0, versions[0].size() / 2);
  for (const auto& invalid : {negative, repeated, truncated}) {
    ASSERT_FALSE(Diagnosis().loadConfigFromText(invalid, "scratch"));
  }
  const auto replace = [&](const std::string& content) {
    std::ofstream(path + ".new") << content;
    std::filesystem::rename(path + ".new", path);
  };
  replace(versions[0]);

  auto observer = std::make_shared<rclcpp::Node>("observer");
  std::vector<Event> events;
  std::vector<rclcpp::Subscription<Event>::SharedPtr> subscriptions;
  for (const char* topic : {"sensor_proxy", "chassis_pnc", "chassis_loc"}) {
    subscriptions.push_back(observer->create_subscription<Event>(
        std::string(topic) + "_diag_topic", 1000,
        [&events](const Event& event) { events.push_back(event); }));
  }
  Diagnosis diagnosis;
  DiagnosisTestPeer peer(diagnosis);
  ASSERT_TRUE(diagnosis.initialize(path));
  diagnosis.startTimer();
  diagnosis.startConfigWatcher();

  // From here on a deadlock anywhere, joins included, ends the process.
  std::promise<void> finished;
  std::thread watchdog([ended = finished.get_future()] {
    if (ended.wait_for(std::chrono::seconds(STRESS_WATCHDOG_SECONDS)) !=
        std::future_status::ready) {
      std::fputs("watchdog: the stress test did not end, a deadlock\n", stderr);
      std::abort();
    }
  });
  std::mutex fault_mutex;
  int faults = 0;
  std::string first_faults;
  const auto fault = [&](const std::string& what) {
    std::lock_guard<std::mutex> lock(fault_mutex);
    if (++faults <= 10) first_faults += what + "\n";
  };
  std::atomic<bool> stop{false};
  std::atomic<long> reports{0};
  std::vector<std::thread> threads;
  for (int reporter = 0; reporter < 2; ++reporter) {
    threads.emplace_back([&, reporter] {
      std_msgs::msg::Header header;
      for (int32_t sequence = 1; !stop; ++sequence) {
        for (int node = reporter; node < kNodes; node += 2) {
          const std::string node_name = "node_" + std::to_string(node);
          for (int topic = 0; topic < kTopicsPerNode; ++topic) {
            header.frame_id = topicName(node, topic);
            header.stamp.sec = sequence;
            const uint64_t before = peer.recorded(node_name, header.frame_id).first;
            const bool accepted =
                diagnosis.SensorReportWithHeader(node_name, header.frame_id, header);
            const auto [after, recorded] = peer.recorded(node_name, header.frame_id);
            // Without a load in between, the report must be the stream's last record.
            if (!accepted) fault("refused: " + header.frame_id);
            if (accepted && before == after && (!recorded || recorded->stamp.sec != sequence))
              fault("not recorded: " + header.frame_id);
            ++reports;
          }
        }
      }
    });
  }
  // Bursts on the flapper's streams, each followed by a silence that times them
  // out; the generation of the flapper's runtime is read before every burst.
  std::vector<uint64_t> generation_before_burst;
  threads.emplace_back([&] {
    std_msgs::msg::Header header;
    for (int burst = 0; !stop; ++burst) {
      generation_before_burst.push_back(peer.recorded("flapper_node", "scan_1").first);
      header.frame_id = std::to_string(burst);
      for (int round = 0; round < 6; ++round, std::this_thread::sleep_for(15ms)) {
        for (const auto& topic : kFlapperTopics) {
          if (!diagnosis.SensorReportWithHeader("flapper_node", topic, header))
            fault("refused: flapper " + topic);
          ++reports;
        }
      }
      std::this_thread::sleep_for(250ms);
    }
    generation_before_burst.push_back(peer.recorded("flapper_node", "scan_1").first);
  });
  std::map<int32_t, int> accepted_events;
  threads.emplace_back([&] {
    for (int i = 0; !stop; ++i, std::this_thread::sleep_for(2ms)) {
      const auto& [kind, id] = *std::next(kClientEventIds.begin(), i % kClientEventIds.size());
      if (diagnosis.DataStatusReport(kind, i % 5 == 4 ? 2 : i / 7 % 2)) ++accepted_events[id];
    }
  });
  int localization_events = 0;
  threads.emplace_back([&] {
    // Lost 1.5 s, back with status 2 for 0.8 s, lost 1.5 s, back with status 1.
    for (int i = 0; !stop; ++i, std::this_thread::sleep_for(10ms)) {
      const int step = i % 400;
      const int status = step < 150 ? 0 : step < 230 ? 2 : step < 380 ? 0 : 1;
      if (diagnosis.LocalizationLostReport(LOCALIZATION_LOST_STATUS, status)) ++localization_events;
    }
  });
  // Replaces the file with valid and invalid versions, by rename and in place,
  // and reloads by call or by request. `possible` holds every table the object
  // may hold: the last confirmed load and any valid file written since.
  int calls = 0, requests = 0;
  threads.emplace_back([&] {
    std::set<std::string> possible = {expected[0]};
    const auto expectFailure = [&] {
      ++calls;
      if (diagnosis.reloadConfig()) fault("an invalid file loaded");
      if (possible.count(configured(peer)) == 0) fault("a failed load changed the tables");
    };
    // A valid file about every 0.7 s; invalid ones in between, so that most
    // of the flapper's silences see no load and time its streams out.
    for (int step = 0; !stop; ++step) {
      if (step % 30 != 0) std::this_thread::sleep_for(20ms);
      const int version = step / 30 % 3;
      if (step % 30 == 0) {
        replace(versions[version]);
        ++calls;
        if (!diagnosis.reloadConfig()) fault("a valid file failed");
        if (configured(peer) != expected[version]) fault("a load took not the file's tables");
        possible = {expected[version]};
      } else if (step % 30 == 29) {
        // Often still loading when the next step loads another version: the
        // loads must not overlap, or the older file may end up in force.
        replace(versions[(version + 2) % 3]);
        possible.insert(expected[(version + 2) % 3]);
        diagnosis.requestConfigReload();
        ++requests;
      } else {
        // Invalid, renamed into place or written in place and cut short; loaded by call or request.
        const int kind = step % 4;
        if (kind % 2 == 0) replace(kind == 0 ? negative : repeated);
        if (kind % 2 == 1)
          std::ofstream(path, std::ios::trunc) << truncated.substr(0, truncated.size() / kind);
        if (kind == 2) diagnosis.requestConfigReload(), ++requests;
        if (kind != 2) expectFailure();
      }
    }
  });

  const auto started = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - started < kRunFor) {
    rclcpp::spin_some(observer);
    std::this_thread::sleep_for(2ms);
  }
  stop = true;
  for (auto& thread : threads) thread.join();
  diagnosis.stopConfigWatcher();
  diagnosis.stopTimer();
  rclcpp::spin_some(observer);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::printf(
      "stress: %.0f reports/s, %.1f reload calls/s, %.1f reload requests/s, %.1f events/s\n",
      reports / seconds, calls / seconds, requests / seconds, events.size() / seconds);

  // Each stream alternates timeout and recovery. A load starts it afresh, so
  // two timeouts in a row need a load between their bursts.
  std::map<int32_t, std::pair<int32_t, int>> last;  // event id: status, burst
  std::map<int32_t, int> published;
  for (const auto& event : events) {
    ++published[event.event_id];
    const bool stream = event.event_id >= 8001 && event.event_id <= 8007;
    if (!stream && event.event_id != kLocalizationLostId) continue;
    const int burst = stream ? std::stoi(event.header.frame_id) : 0;
    const auto previous = last.find(event.event_id);
    const bool after_timeout = previous != last.end() && previous->second.first == 1;
    if (event.event_status == 0 && !after_timeout)
      fault(fmt::format("{}: recovery without a timeout before it", event.event_id));
    if (event.event_status == 1 && after_timeout &&
        (!stream || generation_before_burst.at(previous->second.second) ==
                        generation_before_burst.at(burst + 1)))
      fault(fmt::format("{}: two timeouts without a load between", event.event_id));
    last[event.event_id] = {event.event_status, burst};
  }
  EXPECT_EQ(faults, 0) << "first:\n" << first_faults;
  for (const auto& [kind, id] : kClientEventIds) {
    EXPECT_EQ(published[id], accepted_events[id]) << "event " << id;
  }
  EXPECT_EQ(published[kLocalizationLostId], localization_events);
  EXPECT_GT(published[8001], 2) << "the flapper's streams must time out and recover";
  EXPECT_GT(localization_events, 1);
  finished.set_value();
  watchdog.join();
}

}  // namespace
