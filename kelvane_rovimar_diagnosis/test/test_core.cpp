// The plain judgements of the monitor, replayed over made-up times: the two
// stream checks with their event codes, the one-per-second limit of client
// reports, the kinds of client event and the localization confirmation waits.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <sstream>

#include "event_reports.hpp"
#include "stream_checks.hpp"
#include "stream_health.hpp"

namespace {

using kelvane_rovimar_diagnosis::CheckDecision;

// Clients name the kinds both ways and pass them as 32-bit integers.
static_assert(AbnormalEventType::INFER_STREAM_TIMEOUT_STATUS == INFER_STREAM_TIMEOUT_STATUS);
static_assert(std::is_same_v<std::underlying_type_t<AbnormalEventType>, int32_t>);

constexpr int64_t kT0 = 1'700'000'000'000;  // an arbitrary monotonic time, ms

// 10 Hz, low below 5 Hz for over 1000 ms; cutoff 500 ms and 3 recovery cycles;
// frame-rate recovery at 8 Hz held for 2000 ms.
const SensorThreshold kThreshold{10.0F, 0.5F, 500, 3, 1000, 8.0F, 2000};

/// One cycle in words: "-" when nothing is published, else the new state and
/// text (with the time behind an abnormal state), then the log marks.
std::string outcome(const CheckDecision& d) {
  std::string text = d.publish ? std::to_string(d.new_state) + " " + d.text : "-";
  if (d.publish && d.new_state == 1) text += " " + std::to_string(d.elapsed_ms);
  return text + (d.initial_timeout ? " [INIT]" : "") + (d.recovered ? " [RECOVERY]" : "");
}

/// Replays a script on one topic's record and joins the cycles' outcomes with
/// " | ". Words, with times in ms after kT0, a range "<a>-<b>/<step>" standing
/// for every step from a to b:
///   live  the stream is past its initial phase, its last message at kT0
///   s<n>  the topic's reported status becomes n
///   m<t>  a message arrives at t (the frame-rate window)
///   T<t>  a timeout-check cycle at t; t<t>: the same, right after a message
///   F<t>  a frame-rate-check cycle at t
std::string replay(const std::string& script) {
  kelvane_rovimar_diagnosis::SensorState state;
  std::istringstream words(script);
  std::string trace;
  for (std::string word; words >> word;) {
    long long from = 0, to = 0, step = 1;
    if (word == "live") state.last_receive_ms = kT0;
    if (word[0] == 's') state.reported_status = std::stoi(word.substr(1));
    if (word == "live" || word[0] == 's') continue;
    if (std::sscanf(word.c_str() + 1, "%lld-%lld/%lld", &from, &to, &step) < 3) to = from;
    for (long long time = kT0 + from; time <= kT0 + to; time += step) {
      if (word[0] == 'm') state.receive_times_ms.push_back(time);
      if (word[0] == 't') state.last_receive_ms = time;
      if (word[0] == 'm') continue;
      const CheckDecision decision =
          word[0] == 'F' ? kelvane_rovimar_diagnosis::decideFrameRate(state, kThreshold, time)
                         : kelvane_rovimar_diagnosis::decideStreamTimeout(state, kThreshold, time);
      trace += (trace.empty() ? "" : " | ") + outcome(decision);
    }
  }
  return trace;
}

// A 2 Hz stream: low from +500, abnormal once the low time passes 1000 ms.
const std::string kAbnormal = "m0-500/500 F500 m1000-1500/500 F1500 F1501 ";
const std::string kAbnormalTrace = "- | - | 1 FRAME RATE ABNORMAL 1001 | ";

TEST(StreamChecks, EachRuleAndItsBoundaries) {
  const struct {
    const char* rule;
    std::string script, trace;
  } rows[] = {
      // clang-format off
      {"an unarmed topic is armed, gets 15 s whatever its cutoff, then recovers after its 3", "T0 T15000 T15001 t15100-15400/100", "- | - | 1 STREAM TIMEOUT 15001 [INIT] | - | - | - | 0 STREAM RECOVERY [RECOVERY]"},
      {"a silence equal to the cutoff is no timeout", "live T500 T501 T5000", "- | 1 STREAM TIMEOUT 501 | -"},
      {"recovery comes in the cycle after its 3", "live T1000 t1100-1500/100", "1 STREAM TIMEOUT 1000 | - | - | - | 0 STREAM RECOVERY [RECOVERY] | -"},
      {"a timeout while recovering restarts the count", "live T1000 t1100-1200/100 T1800 t1900-2200/100", "1 STREAM TIMEOUT 1000 | - | - | - | - | - | - | 0 STREAM RECOVERY [RECOVERY]"},
      {"suspension resets a timed-out topic silently", "live T1000 s1 T2000 T60000 s0 T61000 T76000 T76001", "1 STREAM TIMEOUT 1000 | - | - | - | - | 1 STREAM TIMEOUT 15001 [INIT]"},
      {"other status values freeze the timeout", "live s2 T60000 s0 T60001", "- | 1 STREAM TIMEOUT 60001"},
      {"a clock set back is no timeout", "live T-60000", "-"},
      {"a rate of exactly the low limit is not low", "m0-1000/200 F1000 m1200-3000/200 F3000", "- | -"},
      {"a message exactly the window old still counts", "m0 m1000 m1100 F1100 F2101", "- | 1 FRAME RATE ABNORMAL 1001"},
      {"recovery at exactly 8 Hz held exactly 2000 ms; a low rate right after waits its whole time", kAbnormal + "m1625-2500/125 F2500 m2625-4375/125 F4499 m4500 F4500 m5000 m5600 F5600 F6601", kAbnormalTrace + "- | - | 0 FRAME RATE RECOVERY [RECOVERY] | - | 1 FRAME RATE ABNORMAL 1001"},
      {"a cycle below the recovery rate restarts the wait", kAbnormal + "m1600-2600/100 F2600 m2750-3800/150 F3800 m3900-4900/100 F4900 m5000-6800/100 F6899 m6900 F6900", kAbnormalTrace + "- | - | - | - | 0 FRAME RATE RECOVERY [RECOVERY]"},
      {"a drop below the low limit restarts it too", kAbnormal + "m1600-2600/100 F2600 m3600 F3600 m3700-4600/100 F4600 m4700-6500/100 F6599 m6600 F6600", kAbnormalTrace + "- | - | - | - | 0 FRAME RATE RECOVERY [RECOVERY]"},
      {"a stopped stream ages out and an empty window clears the low time", "m0-1000/100 F1000 F1500 F2050 F2101 F2200 m3000-3500/500 F3500 F4500 F4501", "- | - | - | - | - | - | - | 1 FRAME RATE ABNORMAL 1001"},
      {"an empty window keeps an abnormal stream abnormal", kAbnormal + "F4000 F4100 m5000-6000/500 F6000 F7001", kAbnormalTrace + "- | - | - | -"},
      {"suspension resets an abnormal stream silently", kAbnormal + "s1 F1600 s0 m2000-2500/500 F2500 F3500 F3501", kAbnormalTrace + "- | - | - | 1 FRAME RATE ABNORMAL 1001"},
      {"other status values freeze the frame rate", "m0-500/500 s2 F500 F2000 s0 F2001", "- | - | -"},
      // clang-format on
  };
  for (const auto& row : rows) EXPECT_EQ(replay(row.script), row.trace) << row.rule;
}

TEST(StreamChecks, RateCountsIntervalsOverTheSpanAndKnownTopicsHaveTheirCodes) {
  const std::pair<kelvane_rovimar_diagnosis::ArrivalWindow, float> rates[] = {
      {{}, 0.0F},
      {{kT0}, 0.0F},
      {{kT0, kT0, kT0}, 0.0F},
      {{kT0, kT0 + 500}, 2.0F},
      {{kT0, kT0 + 1}, 1000.0F},
      {{kT0, kT0 + 300, kT0 + 400}, 5.0F}};
  for (const auto& [times_ms, hz] : rates)
    EXPECT_FLOAT_EQ(kelvane_rovimar_diagnosis::frameRateHz(times_ms), hz) << times_ms.size();
  // The window keeps the last 1000 times and its jitter up to date through
  // every drop, against the deviation computed afresh; a gap of days counts as 10^7 ms.
  kelvane_rovimar_diagnosis::ArrivalWindow window = {kT0, kT0 + 10};
  std::deque<int64_t> kept = {kT0, kT0 + 10};
  EXPECT_EQ(window.intervalDeviationMs(), 0.0) << "one interval";
  for (int64_t i = 1; i <= 2500; ++i) {
    kept.push_back(kept.back() + (i == 1200 ? 86400000 : 5 + i % 7 * (i % 3)));
    window.push_back(kept.back());
    if (kept.size() > 1000) kept.pop_front();
    if (i % 500 != 0) continue;
    ASSERT_EQ(window.size(), kept.size());
    EXPECT_EQ(window.front(), kept.front()) << i;
    double sum = 0, squares = 0;
    for (size_t k = 1; k < kept.size(); ++k) {
      const double interval = std::min<double>(kept[k] - kept[k - 1], 1e7);
      sum += interval, squares += interval * interval;
    }
    const double count = static_cast<double>(kept.size() - 1);
    EXPECT_NEAR(window.intervalDeviationMs(),
                std::sqrt(squares / count - sum * sum / count / count), 1e-6)
        << i;
  }
  std::string codes;
  // clang-format off
  for (const char* topic : {"scan_1", "scan_2", "/rslidar_points", "/kelvane_ultrasonic/original_ultrasonic_1",
       "/kelvane_ultrasonic/original_ultrasonic_2", "/kelvane_ultrasonic/original_ultrasonic_3", "/kelvane_ultrasonic/original_ultrasonic_4",
       "/camera_01/color/image_raw", "/camera_02/depth/image_raw", "/camera_03/color/image_raw", "/imu/data", "/robot_base/wheel/odom", "scan_3"}) {
    codes += std::to_string(kelvane_rovimar_diagnosis::timeoutEventCode(topic).value_or(0)) + "/" +
             std::to_string(kelvane_rovimar_diagnosis::frameRateEventCode(topic).value_or(0)) + " ";
  }
  // Ultrasonic 3 and 4 take swapped codes; cameras, IMU and odometry have no timeout code.
  EXPECT_EQ(codes, "8001/8008 8002/8010 8003/8012 8004/8016 8005/8018 8007/8017 8006/8019 0/8015 0/8013 0/8014 0/8020 0/8025 0/0 ");
  // clang-format on
}

TEST(DiagnosticsSchedule, NextIsAPeriodAfterTheLastDueOrAfterTheCycleThatCameAPeriodLate) {
  // Every 200 ms; times after the due one: the cycle's, and when the next is due.
  const int64_t rows[][2] = {{-1, 0}, {0, 200}, {199, 200}, {200, 400}};
  for (const auto& [late, next] : rows)
    EXPECT_EQ(kelvane_rovimar_diagnosis::nextDiagnosticsDueMs(kT0, kT0 + late, 200), kT0 + next);
}

/// Replays "what@ms what@ms ...", passing each `what` and kT0 + ms to `step`,
/// and joins what it answers with spaces.
template <typename Step>
std::string replayReports(const std::string& script, Step step) {
  std::istringstream reports(script);
  std::string trace;
  for (std::string report; reports >> report;) {
    const auto at = report.find('@');
    trace += (trace.empty() ? "" : " ") +
             step(report.substr(0, at), kT0 + std::stoll(report.substr(at + 1)));
  }
  return trace;
}

TEST(ClientEvents, LimitAcceptsOneReportPerKeyPerSecond) {
  const auto limit = [](const std::string& script) {
    std::unordered_map<std::string, int64_t> last_report_ms;
    return replayReports(script, [&](const std::string& key, int64_t at_ms) {
      return std::string(kelvane_rovimar_diagnosis::admitReport(last_report_ms, key, at_ms) ? "+"
                                                                                            : "-");
    });
  };
  EXPECT_EQ(limit("A@0 A@0 A@999 B@999 A@1000"), "+ - - + +");
  EXPECT_EQ(limit("A@0 A@600 A@1000 A@1999"), "+ - + -") << "a dropped report keeps the time";
}

TEST(ClientEvents, LocalizationConfirmsALossAfterASecondAndARecoveryAfterHalfASecond) {
  const auto localization = [](const std::string& script) {
    kelvane_rovimar_diagnosis::LocalizationLossState state;
    return replayReports(script, [&](const std::string& status, int64_t at_ms) {
      const auto decision =
          kelvane_rovimar_diagnosis::decideLocalization(state, std::stoi(status), at_ms);
      return decision.publish ? std::to_string(decision.new_state) + ":" + (decision.text + 13)
                              : std::string("-");
    });  // the text after "LOCALIZATION "
  };
  // clang-format off
  const std::pair<const char*, const char*> rows[] = {{"0@0 0@999 0@1000 0@1100", "- - 1:LOST -"},
      {"0@0 1@500 0@1200 0@2199 0@2200", "- - - - 1:LOST"},  // status 1 clears the wait,
      {"0@0 2@100 0@1000 0@1999 0@2000", "- - - - 1:LOST"},  // as status 2 while normal does
      {"0@0 0@1000 2@1100 2@1599 2@1600 2@1700", "- 1:LOST - - 0:RECOVERY -"}, {"0@0 0@1000 1@1100 1@1200 -3@1300", "- 1:LOST 0:NORMAL - -"},
      {"0@0 0@1000 -3@1100", "- 1:LOST 0:NORMAL"}, {"0@0 0@1000 2@1100 0@1300 2@1700 2@2199 2@2200", "- 1:LOST - - - - 0:RECOVERY"}};  // a loss ends the wait
  // clang-format on
  for (const auto& [script, trace] : rows) EXPECT_EQ(localization(script), trace) << script;
}

TEST(ClientEvents, EachKindHasItsCodeTextsAndTopicAndUnknownValuesShareOne) {
  std::string kinds;
  for (int type = -1; type <= 8; ++type) {
    const auto& kind =
        kelvane_rovimar_diagnosis::abnormalEventInfo(static_cast<AbnormalEventType>(type));
    kinds += std::string(kind.key) + " " + std::to_string(kind.event_id) + " " + kind.normal_text +
             " " + kind.abnormal_text + " " + std::to_string(static_cast<int>(kind.topic)) + "\n";
  }
  // Topics: 0 sensor proxy, 1 chassis pnc, 2 chassis loc, 3 none.
  // clang-format off
  EXPECT_EQ(kinds, "UNKNOWN_EVENT 0 UNKNOWN_EVENT UNKNOWN_EVENT 3\nFRONT_2D_LIDAR_STATUS 8009 FRONT_2D_LIDAR_NORMAL FRONT_2D_LIDAR_ABNORMAL 0\n"
      "REAR_2D_LIDAR_STATUS 8011 REAR_2D_LIDAR_NORMAL REAR_2D_LIDAR_ABNORMAL 0\nPATH_GLOBAL_PLAN_STATUS 8021 PATH_GLOBAL_PLAN_NORMAL PATH_GLOBAL_PLAN_FAILED 1\n"
      "PATH_LOCAL_PLAN_STATUS 8022 PATH_LOCAL_PLAN_NORMAL PATH_LOCAL_PLAN_FAILED 1\nLOCALIZATION_DEGRADED_STATUS 8023 LOCALIZATION_NORMAL LOCALIZATION_DEGRADED 2\n"
      "LOCALIZATION_LOST_STATUS 8024 LOCALIZATION_NORMAL LOCALIZATION_LOST 2\nNAV_TO_POINT_STATUS 8026 NAV_TO_POINT_NORMAL NAV_TO_POINT_FAILED 1\n"
      "INFER_STREAM_TIMEOUT_STATUS 5024 MODEL_INFER_NORMAL MODEL_INFER_TIMEOU 1\nUNKNOWN_EVENT 0 UNKNOWN_EVENT UNKNOWN_EVENT 3\n");
  // clang-format on
}

}  // namespace
