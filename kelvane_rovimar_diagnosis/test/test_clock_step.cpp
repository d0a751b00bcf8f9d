// The wall clock stepped by an hour while streams run, as a first time sync or
// an operator does: nothing the monitor judges moves with it. Only the wall
// clock of the object under test is stepped, through the clock it reads.
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "support/diagnosis_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using test_support::Lines;
using test_support::sensorEntry;
using test_support::steadyMs;

constexpr int64_t kHourNs = 3'600'000'000'000;
const char kCamera[] = "/camera_01/color/image_raw";

class ClockStep : public test_support::DiagnosisFixture,
                  public ::testing::WithParamInterface<int64_t> {};

// At 0.5 s the wall clock steps by an hour. Three streams report at 20 Hz:
// scan_1 stamped by its sensor's own clock, which is not stepped, scan_2
// until 1.6 s, and a camera without header. Localization is lost from 0.3 s
// on; a kind of client report comes at 0.45, 0.6 and 1.5 s.
TEST_P(ClockStep, NothingJudgedMovesWithTheWallClock) {
  // clang-format off
  initialize("nodes:\n  lidar_node: {topics: [scan_1, scan_2, " + std::string(kCamera) + "]}\nsensors:\n" +
             sensorEntry("scan_1", {{"normal_hz", "20"}, {"low_ratio", "0.25"}, {"cutoff_timeout_ms", "1000"}}) +
             sensorEntry("scan_2", {{"normal_hz", "20"}, {"low_ratio", "0.25"}, {"cutoff_timeout_ms", "300"}}) +
             sensorEntry(kCamera, {{"normal_hz", "20"}, {"low_ratio", "0.25"}}));
  // clang-format on
  test_support::LogCapture capture;
  diagnosis_.startTimer();
  const int64_t start = steadyMs();
  const auto at = [start](int64_t ms) {
    std::this_thread::sleep_until(
        std::chrono::steady_clock::time_point(std::chrono::milliseconds(start + ms)));
  };
  std::atomic<bool> stop{false};
  std::thread streams([&] {
    for (int64_t tick = 0; !stop; at(++tick * 50)) {
      std_msgs::msg::Header sensor_clock;
      sensor_clock.stamp =
          kelvane_rovimar_diagnosis::stampOf(kelvane_rovimar_diagnosis::systemTimeNs());
      diagnosis_.SensorReportWithHeader("lidar_node", "scan_1", sensor_clock);
      if (tick * 50 < 1600)
        diagnosis_.SensorReportWithHeader("lidar_node", "scan_2", test_support::stamped(12));
      diagnosis_.SensorReportWithoutHeader("lidar_node", kCamera);
    }
  });
  int64_t lost_after_ms = -1;
  std::thread localization([&] {
    at(300);
    for (int64_t tick = 1; !stop && lost_after_ms < 0; at(300 + tick++ * 100))
      if (diagnosis_.LocalizationLostReport(LOCALIZATION_LOST_STATUS, 0))
        lost_after_ms = steadyMs() - start - 300;
  });
  std::string client_reports;
  for (const auto& [ms, status] : {std::pair{450, 1}, {600, 0}, {1500, 0}}) {
    at(ms);
    client_reports += diagnosis_.DataStatusReport(NAV_TO_POINT_STATUS, status) ? '+' : '-';
    if (ms == 450) at(500), peer_.stepWallClock(GetParam());
  }
  at(2500);
  const auto health = diagnosis_.snapshot();
  stop = true;
  streams.join();
  localization.join();
  diagnosis_.stopTimer();
  // Stamps are times of day: the report before the step carries the time before it.
  Lines events = received(4);
  const int64_t before_step = peer_.wallSeconds() - GetParam() / 1'000'000'000;
  for (auto& event : events) {
    const auto stamp = event.find(" @");
    if (stamp != std::string::npos && std::abs(std::atof(&event[stamp + 2]) - before_step) < 5)
      event = event.substr(0, stamp) + " @before the step";
  }
  std::optional<int64_t> cutoff_ms;
  for (const auto& line : capture.lines())
    if (line.rfind("[ERROR] [TIMEOUT] ", 0) == 0)
      cutoff_ms = std::stoll(line.substr(line.rfind(' ')));
  const auto& scan_1 = health.at(0);
  // clang-format off
  const struct { const char* what; std::string observed, expected; } rows[] = {
      {"events: the stopped stream's timeout, the client reports let through, one loss",
       fmt::format("{}", fmt::join(events, "|")),
       "proxy 8002 1 STREAM TIMEOUT @12.7 f12|pnc 8026 1 NAV_TO_POINT_FAILED @before the step|pnc 8026 0 NAV_TO_POINT_NORMAL @now|loc 8024 1 LOCALIZATION LOST @now"},
      {"no timeout and no frame-rate event for a stream that keeps reporting",
       fmt::format("{} {} {}", scan_1.last_event_id, scan_1.last_event_status, health.at(2).last_event_id), "0 0 0"},
      {"the stopped stream timed out within its cutoff and a cycle (or two under load)",
       std::to_string(cutoff_ms.value_or(0) > 300 && cutoff_ms.value_or(0) <= 600), "1"},
      {"one client report of a kind per real second", client_reports, "+-+"},
      {"the loss is published after its second", std::to_string(lost_after_ms >= 1000 && lost_after_ms <= 1300), "1"},
      {"rates measured as before the step", std::to_string(scan_1.rate_hz > 15 && health.at(2).rate_hz > 15 && scan_1.rate_hz < 25), "1"},
      {"silence does not jump", std::to_string(scan_1.silence_ms.value_or(-1) >= 0 && *scan_1.silence_ms < 200), "1"},
      {"the age against the sensor's own stamp follows the wall clock",
       std::to_string(std::llround(scan_1.age_ms.value_or(0) / 60000)), std::to_string(GetParam() / 60'000'000'000)},
  };
  // clang-format on
  for (const auto& row : rows) EXPECT_EQ(row.observed, row.expected) << row.what;
}

INSTANTIATE_TEST_SUITE_P(StepBackAndForward, ClockStep, ::testing::Values(-kHourNs, kHourNs));

}  // namespace
