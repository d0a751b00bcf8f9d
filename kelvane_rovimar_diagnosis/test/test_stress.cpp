// Every kind of thread a robot program has, on one Diagnosis, while its
// thresholds file keeps changing under it. The test checks what every call
// answers and what every event says, and a watchdog fails it on a deadlock.
#include <atomic>
#include <future>

#include "support/diagnosis_fixture.hpp"

namespace {

using namespace std::chrono_literals;

// clang-format off
const char* const kFlapperTopics[] = {"scan_1", "scan_2", "/rslidar_points", "/kelvane_ultrasonic/original_ultrasonic_1",
    "/kelvane_ultrasonic/original_ultrasonic_2", "/kelvane_ultrasonic/original_ultrasonic_3", "/kelvane_ultrasonic/original_ultrasonic_4"};
// Client event kinds with their codes; LOCALIZATION_LOST_STATUS has its own reports.
const std::pair<AbnormalEventType, int32_t> kClientEvents[] = {{FRONT_2D_LIDAR_STATUS, 8009}, {REAR_2D_LIDAR_STATUS, 8011},
    {PATH_GLOBAL_PLAN_STATUS, 8021}, {PATH_LOCAL_PLAN_STATUS, 8022}, {LOCALIZATION_DEGRADED_STATUS, 8023},
    {NAV_TO_POINT_STATUS, 8026}, {INFER_STREAM_TIMEOUT_STATUS, 5024}};
// clang-format on

std::string entry(const std::string& topic, double normal_hz, double low_ratio, int cutoff_ms) {
  return fmt::format(
      "{}: {{normal_hz: {}, low_ratio: {}, cutoff_timeout_ms: {}, cutoff_recovery_threshold: 1, "
      "abnormal_duration_ms: 3600000, fps_recovery_threshold: 0.01, fps_recovery_duration_ms: 1}}",
      topic, normal_hz, low_ratio, cutoff_ms);
}

/// Ten nodes of 40 streams t_<node>_<topic> and the flapper's seven, whose
/// streams time out after 100 ms of silence and never count as low. One flow
/// mapping: any part of it short of the last brace fails to parse, so a
/// watcher reading the file while it is written in place never loads half.
std::string thresholdsFile(int version, const std::string& extra_sensor = "") {
  std::string nodes =
      fmt::format("flapper_node: {{topics: [{}]}}", fmt::join(kFlapperTopics, ", "));
  std::vector<std::string> sensors = {extra_sensor.empty() ? entry("spare", 1, 1, 1)
                                                           : extra_sensor};
  for (const char* topic : kFlapperTopics) sensors.push_back(entry(topic, 10, 0.001, 100));
  for (int node = 0; node < 10; ++node) {
    nodes += fmt::format(", node_{}: {{topics: [", node);
    for (int topic = 0; topic < 40; ++topic) {
      nodes += fmt::format("{}t_{}_{}", topic ? ", " : "", node, topic);
      sensors.push_back(entry(fmt::format("t_{}_{}", node, topic), 10 + version, 0.5, 60000));
    }
    nodes += "]}";
  }
  return fmt::format("{{nodes: {{{}}},\nsensors: {{\n{}}},\ncalibration_sensors: [cam_{}]}}\n",
                     nodes, fmt::join(sensors, ",\n"), version);
}

using Stress = test_support::DiagnosisFixture;

TEST_F(Stress, ConcurrentReportsReloadsAndEventsKeepEveryPromise) {
  std::vector<std::string> versions, expected;
  for (int version = 0; version < 3; ++version) {
    versions.push_back(thresholdsFile(version));
    Diagnosis scratch;
    ASSERT_TRUE(scratch.loadConfigFromText(versions.back(), "scratch"));
    expected.push_back(DiagnosisTestPeer(scratch).configured());
  }
  const std::string invalid[] = {thresholdsFile(1, entry("bad", -1, 0.5, 1)),
                                 thresholdsFile(2, entry("t_0_0", 1, 0.5, 1))};  // a repeated key
  const std::string truncated = versions[0].substr(0, versions[0].size() / 2);
  const auto replace = [&](const std::string& content) {
    std::ofstream(path_ + ".new") << content;
    std::filesystem::rename(path_ + ".new", path_);
  };
  initialize(versions[0]);
  diagnosis_.startTimer();
  diagnosis_.startConfigWatcher();
  // From here on a deadlock anywhere, joins included, ends the process.
  std::promise<void> finished;
  std::thread watchdog([ended = finished.get_future()] {
    if (ended.wait_for(std::chrono::seconds(STRESS_WATCHDOG_SECONDS)) == std::future_status::ready)
      return;
    std::fputs("watchdog: the stress test did not end, a deadlock\n", stderr);
    std::abort();
  });
  std::atomic<int> faults{0};  // the first ten fail the test with their story, from any thread
  const auto fault = [&faults](const std::string& what) {
    if (++faults <= 10) ADD_FAILURE() << what;
  };
  std::atomic<bool> stop{false};
  std::map<int32_t, int> accepted_events;
  std::vector<uint64_t> generation_before_burst;
  std::vector<std::thread> threads;
  // Two reporters on 200 streams each, as fast as they can. Without a load in
  // between (the node's runtime generation unchanged), a report must be its
  // stream's last record.
  for (int reporter = 0; reporter < 2; ++reporter) {
    threads.emplace_back([&, reporter] {
      std_msgs::msg::Header header;
      for (header.stamp.sec = 1; !stop; ++header.stamp.sec) {
        for (int index = reporter; index < 400; index += 2) {
          const std::string node = "node_" + std::to_string(index / 40);
          header.frame_id = fmt::format("t_{}_{}", index / 40, index % 40);
          const uint64_t before = peer_.recorded(node, header.frame_id).first;
          const bool accepted = diagnosis_.SensorReportWithHeader(node, header.frame_id, header);
          const auto [after, recorded] = peer_.recorded(node, header.frame_id);
          if (!accepted || (before == after && (!recorded || *recorded != header)))
            fault("refused or not recorded: " + header.frame_id);
        }
      }
    });
  }
  // Bursts on the flapper's streams, each followed by a silence that times them
  // out; the generation of the flapper's runtime is read before every burst.
  threads.emplace_back([&] {
    std_msgs::msg::Header header;
    for (int burst = 0; !stop; ++burst, std::this_thread::sleep_for(250ms)) {
      generation_before_burst.push_back(peer_.recorded("flapper_node", "scan_1").first);
      header.frame_id = std::to_string(burst);
      for (int round = 0; round < 6; ++round, std::this_thread::sleep_for(15ms)) {
        for (const char* topic : kFlapperTopics)
          if (!diagnosis_.SensorReportWithHeader("flapper_node", topic, header)) fault(topic);
      }
    }
    generation_before_burst.push_back(peer_.recorded("flapper_node", "scan_1").first);
  });
  // Client events of every kind (and invalid statuses) every 2 ms; localization
  // lost 1.5 s, back with status 2 for 0.8 s, lost again, back with status 1.
  threads.emplace_back([&] {
    for (int i = 0; !stop; ++i, std::this_thread::sleep_for(2ms)) {
      const auto& [kind, id] = kClientEvents[i % std::size(kClientEvents)];
      accepted_events[id] += diagnosis_.DataStatusReport(kind, i % 5 == 4 ? 2 : i / 7 % 2);
      const int step = i / 5 % 400, status = step < 150 ? 0 : step < 230 ? 2 : step < 380 ? 0 : 1;
      if (i % 5 == 0)
        accepted_events[8024] +=
            diagnosis_.LocalizationLostReport(LOCALIZATION_LOST_STATUS, status);
    }
  });
  // Replaces the file every 20 ms: a valid version about every 0.7 s, loaded by
  // call, so that most of the flapper's silences see no load; invalid ones in
  // between, renamed into place or written in place and cut short, loaded by
  // call or by request. The tables in force are always the last valid file's.
  // Step 29 writes that file again and requests a load, which step 0 (the next,
  // without a pause) often overlaps: loads must not interleave, or it may win.
  threads.emplace_back([&] {
    std::string in_force = expected[0];
    for (int step = 0; !stop; ++step) {
      if (step % 30 != 0) std::this_thread::sleep_for(20ms);
      const int version = step / 30 % 3, kind = step % 4;
      const bool valid = step % 30 == 0 || step % 30 == 29;
      if (valid || kind % 2 == 0) replace(valid ? versions[version] : invalid[kind / 2]);
      if (!valid && kind % 2 == 1)
        std::ofstream(path_, std::ios::trunc) << truncated.substr(0, truncated.size() / kind);
      if (step % 30 == 29 || (!valid && kind == 2)) {
        diagnosis_.requestConfigReload();
        continue;
      }
      if (diagnosis_.reloadConfig() != valid) fault(valid ? "a valid file failed" : "not valid");
      if (valid) in_force = expected[version];
      if (peer_.configured() != in_force) fault("tables not the last valid file's");
    }
  });

  test_support::Lines events;  // "<topic> <id> <status> <text>[ @..] <frame>", as published
  const auto started = std::chrono::steady_clock::now();
  for (; std::chrono::steady_clock::now() - started < 8s; std::this_thread::sleep_for(2ms))
    for (const auto& event : received()) events.push_back(event);
  stop = true;
  for (auto& thread : threads) thread.join();
  diagnosis_.stopConfigWatcher();
  diagnosis_.stopTimer();
  for (const auto& event : received()) events.push_back(event);

  // Each stream alternates timeout and recovery, and so does localization. A
  // load starts a stream afresh, so two timeouts in a row need a load between
  // their bursts.
  std::map<int32_t, std::pair<int32_t, int>> last;  // event id: status, burst
  std::map<int32_t, int> published;
  for (const auto& event : events) {
    std::istringstream fields(event);
    std::string topic, frame;
    int32_t id = 0, status = 0;
    fields >> topic >> id >> status;
    while (fields >> frame) continue;  // the last word: the burst of a stream event
    const bool stream = id >= 8001 && id <= 8007;
    if (++published[id]; !stream && id != 8024) continue;
    const int burst = stream ? std::stoi(frame) : 0;
    const auto previous = last.find(id);
    const bool after_timeout = previous != last.end() && previous->second.first == 1;
    if (status == after_timeout && (status == 0 || !stream ||
                                    generation_before_burst.at(previous->second.second) ==
                                        generation_before_burst.at(burst + 1)))
      fault(fmt::format("{}: status {} again, or a recovery first", id, status));
    last[id] = {status, burst};
  }
  EXPECT_EQ(faults, 0);
  for (const auto& [id, accepted] : accepted_events) EXPECT_EQ(published[id], accepted) << id;
  EXPECT_GT(published[8001], 2) << "the flapper's streams must time out and recover";
  EXPECT_GT(published[8024], 1);
  finished.set_value();
  watchdog.join();
}

}  // namespace
