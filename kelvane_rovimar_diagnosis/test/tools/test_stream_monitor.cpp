// The standalone stream monitor: typed publishers of the test process, which
// know nothing of the library, are watched through the graph as a robot's
// drivers would be; the live table; the program as an engineer runs it.
#include <sys/wait.h>

#include <atomic>

#include "diagnostic_msgs/msg/diagnostic_array.hpp"
#include "message_headers.hpp"
#include "monitor_view.hpp"
#include "sensor_msgs/msg/laser_scan.hpp"
#include "std_msgs/msg/string.hpp"
#include "stream_monitor.hpp"
#include "support/diagnosis_fixture.hpp"

namespace {

using namespace std::chrono_literals;
using kelvane_rovimar_diagnosis::StreamHealth;
using test_support::eventually;
using test_support::Lines;
using test_support::sensorEntry;

// scan_1 is a best-effort LaserScan, /chatter a headerless String, /late
// appears only later; "scan_1" and "/late" time out after 300 ms of silence.
// The file gives the topics of their own names their event codes.
const std::string kThresholds =
    "nodes:\n  lidar_node: {topics: [scan_1, /late]}\n  chat_node: {topics: [/chatter]}\n"
    "sensors:\n" +
    sensorEntry("scan_1", {{"cutoff_timeout_ms", "300"}}) +
    sensorEntry("/late", {{"cutoff_timeout_ms", "300"}}) + "    timeout_event_id: 9001\n" +
    sensorEntry("/chatter") + "    frame_rate_event_id: 9002\n" + "diagnostics: {period_ms: 100}\n";

class StreamMonitorTest : public test_support::DiagnosisFixture {
 protected:
  void SetUp() override {
    initialize(kThresholds);
    diagnosis_.startTimer();
    executor_.add_node(monitor_node_);
    spinner_ = std::thread([this] { executor_.spin(); });
  }
  void TearDown() override {
    executor_.cancel();
    spinner_.join();
  }
  /// Polls the graph until `topic` is subscribed and matched with `publisher`.
  bool watching(const std::string& topic, const rclcpp::PublisherBase& publisher) {
    return eventually([&] {
      monitor_.pollGraph();
      const auto found = monitor_.topics().find(topic);
      return found != monitor_.topics().end() && found->second.subscription &&
             publisher.get_subscription_count() > 0;
    });
  }

  rclcpp::Node::SharedPtr monitor_node_ = std::make_shared<rclcpp::Node>("stream_monitor");
  kelvane_rovimar_diagnosis::StreamMonitor monitor_{diagnosis_, monitor_node_};
  rclcpp::executors::SingleThreadedExecutor executor_;
  std::thread spinner_;
};

TEST_F(StreamMonitorTest, ReportsEveryListedTopicWithTheStampsItCarriesAndFollowsALoad) {
  test_support::LogCapture capture;
  auto scans = monitor_node_->create_publisher<sensor_msgs::msg::LaserScan>(
      "scan_1", rclcpp::QoS(5).best_effort());
  auto chatter = monitor_node_->create_publisher<std_msgs::msg::String>("/chatter", 10);
  // Type supports that cannot be loaded (no package in the index) are warned of once.
  const std::string index = std::getenv("AMENT_PREFIX_PATH");
  const auto types = [&](const char* topic) {
    return monitor_node_->get_topic_names_and_types()[topic].size();
  };
  ASSERT_TRUE(eventually([&] { return types("/chatter") + types("/scan_1") == 2; }));
  setenv("AMENT_PREFIX_PATH", "/", 1);
  monitor_.pollGraph(), monitor_.pollGraph();  // /late is missing: warned of once too
  setenv("AMENT_PREFIX_PATH", index.c_str(), 1);
  ASSERT_TRUE(watching("/scan_1", *scans) && watching("/chatter", *chatter));
  sensor_msgs::msg::LaserScan scan;
  scan.header = test_support::stamped(1234);
  scan.ranges.assign(360, 1.5F);
  for (int message = 0; message < 6; ++message, std::this_thread::sleep_for(20ms)) {
    scans->publish(scan);
    chatter->publish(std_msgs::msg::String());
  }
  ASSERT_TRUE(eventually(
      [&] { return peer_.record("chat_node", "/chatter").receive_times_ms.size() == 6; }));
  ASSERT_TRUE(eventually(
      [&] { return peer_.record("lidar_node", "scan_1").receive_times_ms.size() == 6; }));
  const auto recorded = peer_.record("lidar_node", "scan_1");
  EXPECT_EQ(recorded.last_header, scan.header) << "the scan's own stamp and frame";

  // /late appears later, with two types: left alone, and warned of once, until one is left;
  // then a type beside the one subscribed is let be. One type comes from another participant,
  // as from another process (a participant may refuse the second), the other from a node no
  // executor spins (a waiting executor holds on to its nodes' publishers).
  const auto context = std::make_shared<rclcpp::Context>();
  context->init(0, nullptr);
  const auto other =
      std::make_shared<rclcpp::Node>("other", rclcpp::NodeOptions().context(context));
  const auto driver = std::make_shared<rclcpp::Node>("text_driver");
  auto texts = driver->create_publisher<std_msgs::msg::String>("/late", 10);
  const auto late = other->create_publisher<sensor_msgs::msg::LaserScan>("/late", 10);
  ASSERT_TRUE(eventually([&] { return types("/late") == 2; }));
  monitor_.pollGraph(), monitor_.pollGraph();
  texts.reset();
  ASSERT_TRUE(watching("/late", *late)) << "a topic that appears later is picked up";
  texts = driver->create_publisher<std_msgs::msg::String>("/late", 10);
  ASSERT_TRUE(eventually([&] { return types("/late") == 2; }));
  monitor_.pollGraph();
  // The lidar stops: its timeout on the library's topic, ERROR on /diagnostics.
  diagnostic_msgs::msg::DiagnosticStatus status;
  auto observer = std::make_shared<rclcpp::Node>("diagnostics_observer");
  const auto diagnostics = observer->create_subscription<diagnostic_msgs::msg::DiagnosticArray>(
      "/diagnostics", 10, [&status](const diagnostic_msgs::msg::DiagnosticArray& array) {
        for (const auto& stream : array.status)
          if (stream.name == "lidar_node: scan_1") status = stream;
      });
  EXPECT_TRUE(eventually([&] {
    rclcpp::spin_some(observer);
    return status.level == diagnostic_msgs::msg::DiagnosticStatus::ERROR;
  }));
  EXPECT_EQ(received(1), Lines{"proxy 8001 1 STREAM TIMEOUT @1234.7 f1234"});
  // As `ros2 topic info -v` shows them: the monitor asks best effort, which every writer offers.
  // clang-format off
  const auto monitor = monitor_node_->get_subscriptions_info_by_topic("/scan_1").at(0), view = observer->get_publishers_info_by_topic("/diagnostics").at(0);
  const auto &asked = monitor.qos_profile(), &offered = view.qos_profile();
  EXPECT_EQ(fmt::format("{} {} {} {} {} {}", monitor.node_name(), asked.depth(), asked.reliability() == rclcpp::ReliabilityPolicy::BestEffort, view.node_name(), offered.depth(), offered.reliability() == rclcpp::ReliabilityPolicy::Reliable), "stream_monitor 10 true diagnosis_node 10 true");
  // clang-format on
  Lines said;  // what the monitor says of its topics, each once, cut before what varies
  for (const auto& line : capture.lines())
    if (line.find(" Topic /") == 6 || line.find(" Monitoring /") == 6)
      said.push_back(line.substr(0, std::min(line.find(", whose"), line.find(" types ("))));
  // clang-format off
  EXPECT_EQ(said, (Lines{"[WARN] Topic /chatter has type std_msgs/msg/String", "[WARN] Topic /late of lidar_node is not published yet; monitoring it once it is",
                         "[WARN] Topic /scan_1 has type sensor_msgs/msg/LaserScan", "[INFO] Monitoring /chatter (std_msgs/msg/String, no header) for chat_node",
                         "[INFO] Monitoring /scan_1 (sensor_msgs/msg/LaserScan, header stamps) for lidar_node", "[WARN] Topic /late is published with several",
                         "[INFO] Monitoring /late (sensor_msgs/msg/LaserScan, header stamps) for lidar_node"}));
  // clang-format on
  // A load drops /late and moves scan_1 to another node: the next poll follows it.
  ASSERT_TRUE(diagnosis_.loadConfigFromText(
      "nodes:\n  chat_node: {topics: [scan_1]}\nsensors:\n" + sensorEntry("scan_1"), "t"));
  monitor_.pollGraph();
  // clang-format off
  EXPECT_EQ(fmt::format("{} {}", monitor_.topics().count("/late"), fmt::join(monitor_.topics().at("/scan_1").nodes, ",")), "0 chat_node");
  // clang-format on
}

TEST(StreamMonitorHeader, IsReadFromCdrInEitherByteOrderAndRefusedWhenNotWhole) {
  // clang-format off
  // The encapsulation, stamp 0x12345678.<nanosec>, a frame_id of `length` and `bytes`, the message cut short by `cut`.
  const auto header = [](bool little, uint32_t nanosec, uint32_t length, const std::string& bytes, size_t cut = 0) {
    std::vector<uint8_t> cdr = {0, static_cast<uint8_t>(little), 0, 0};
    for (const uint32_t value : {0x12345678u, nanosec, length})
      for (int byte = 0; byte < 4; ++byte) cdr.push_back(static_cast<uint8_t>(value >> (little ? 8 * byte : 24 - 8 * byte)));
    cdr.insert(cdr.end(), bytes.begin(), bytes.end());
    cdr.resize(cdr.size() - cut), cdr.shrink_to_fit();  // as long as the message: a read past it is seen
    const auto read = kelvane_rovimar_diagnosis::leadingHeader(cdr.data(), cdr.size());
    return read ? fmt::format("{}.{} {}", read->stamp.sec, read->stamp.nanosec, read->frame_id) : "none";
  };
  const std::string f("f", 2), none("", 1);
  EXPECT_EQ(header(true, 999999999, 2, f) + "|" + header(false, 0x1A2B3C4D, 2, f) + "|" + header(true, 1000000000, 2, f) + "|" + header(true, 7, 2, f, 1) + "|" +
            header(true, 7, 1, none) + "|" + header(true, 7, 1, none, 1) + "|" + header(true, 7, 1, none, 2) + "|" + header(true, 7, 0, f) + "|" + header(true, 7, 2, "fg"),
            "305419896.999999999 f|305419896.439041101 f|none|none|305419896.7 |none|none|none|305419896.7 f")
      << "little, big-endian, no stamp, cut short, the shortest, shorter twice, no length, no closing zero";
  // clang-format on
}

StreamHealth stream(const char* node, const char* topic,
                    kelvane_rovimar_diagnosis::StreamCondition condition, bool low = false,
                    int64_t silence_ms = 61000, double age_ms = -3600000.0) {
  // clang-format off
  return {node, topic, condition, low ? kelvane_rovimar_diagnosis::FrameRateState::ABNORMAL : kelvane_rovimar_diagnosis::FrameRateState::NORMAL,
          9.87F, 10.0F, 5.0F, silence_ms, age_ms, std::nullopt, 0, 0};
  // clang-format on
}

TEST(StreamMonitorView, ListsTheWorstFirstWithinTheTerminalAndSummarisesTheRest) {
  using kelvane_rovimar_diagnosis::StreamCondition;
  // clang-format off
  // Durations on either side of each unit's boundary.
  const std::vector<StreamHealth> streams = {
      stream("n", "b_ok", StreamCondition::NORMAL, false, 999, 59999.0), stream("n", "a_ok", StreamCondition::NORMAL, false, 1000, 60000.0),
      stream("n", "/kelvane_ultrasonic/original_ultrasonic_3", StreamCondition::TIMED_OUT, false, 3599999, 999.9),
      stream("n", "low", StreamCondition::NORMAL, true, 3600000, -1000.0),
      stream("a_node_name_longer_than_its_column", "x", StreamCondition::SUSPENDED)};
  EXPECT_EQ(kelvane_rovimar_diagnosis::renderView(streams, {80, 24}, false), (Lines{
      "5 streams: 1 error, 1 warn, 3 ok",
      "STATE     NODE          TOPIC                RATE/NOM Hz SILENCE     AGE  JITTER",
      "TIMED OUT n             ~iginal_ultrasonic_3      9.9/10   60.0m  1000ms       -",
      "RATE LOW  n             low                       9.9/10    1.0h   -1.0s       -",
      "SUSPENDED a_node_name_~ x                         9.9/10    1.0m   -1.0h       -",
      "OK        n             a_ok                      9.9/10    1.0s    1.0m       -",
      "OK        n             b_ok                      9.9/10   999ms   60.0s       -"}));
  // clang-format on
  EXPECT_EQ(kelvane_rovimar_diagnosis::renderView(streams, {80, 7}, false),
            kelvane_rovimar_diagnosis::renderView(streams, {80, 24}, false))
      << "a line for each stream: all of them, no summary";
  std::vector<StreamHealth> many(1000, stream("n", "t", StreamCondition::NORMAL));
  many[500] = stream("n", "dead", StreamCondition::TIMED_OUT);
  const Lines fitted = kelvane_rovimar_diagnosis::renderView(many, {120, 10}, true);
  ASSERT_EQ(fitted.size(), 10u) << "a line per terminal line, no more";
  EXPECT_NE(fitted[2].find("\033[1;31mTIMED OUT"), std::string::npos) << "worst first, in red";
  EXPECT_EQ(fitted[9], "... 993 more: 993 ok");
  const auto size = [&many](kelvane_rovimar_diagnosis::ViewSize terminal) {
    const Lines lines = kelvane_rovimar_diagnosis::renderView(many, terminal, false);
    return fmt::format("{}x{}", lines[1].size(), lines.size());
  };
  // Unknown, narrower than the fixed columns and shorter than the header: 80x24, 63 and one line.
  EXPECT_EQ(size({}) + " " + size({40, 24}) + " " + size({80, 2}), "80x24 63x24 80x3");
}

/// Runs the monitor with `arguments` as a robot engineer would (with `terminal`,
/// in a pseudo-terminal after those shell commands), sends it `signal` (if any)
/// two seconds after it is up, and returns its exit status and output.
test_support::ProcessResult runMonitor(const std::string& arguments, const std::string& signal,
                                       const char* terminal) {
  test_support::TempDir files;
  const std::string output = files.path("output"), pid = files.path("pid"),
                    show = "; status=$?; cat " + output + "; exit $status";
  // clang-format off
  const std::string run = "SPDLOG_SYSTEMD=false SPDLOG_LEVEL=info " STREAM_MONITOR " " + arguments;
  const std::string start = (terminal ? "script -qfec 'echo $$ >" + pid + "; " + terminal + " exec env " + run + "' /dev/null </dev/null" : "SPDLOG_STDOUT=true " + run) + " >" + output + " 2>&1";
  return test_support::runCommand(signal.empty() ? start + show : start + " & " + (terminal ? "" : "echo $! >" + pid + "; ") + "for i in $(seq 200); do grep -q 'watcher thread started' " +
                                  output + " && break; sleep 0.05; done; sleep 2.2; kill -" + signal + " $(cat " + pid + "); wait $!" + show);
}

TEST(StreamMonitorProgram, StopsWithStatusZeroOnSignalsAndRefusesBadInput) {
  test_support::TempDir files;
  const std::string valid = files.write("thresholds.yaml", kThresholds);
  const struct { std::string arguments, signal; int status; Lines shown; const char* terminal = nullptr; } rows[] = {
      {"--bogus --view", "", 2, {"stream_monitor: unknown option '--bogus'", "usage: stream_monitor"}},
      {"--help", "", 0, {"usage: stream_monitor [--config FILE] [--view]\n  --config FILE"}},
      {"--config", "", 2, {"stream_monitor: unknown option '--config'"}},  // without its file
      {"--config " + files.path("absent.yaml"), "", 1, {"bad file", "could not be loaded; check_thresholds tells why"}},
      {"--config=" + files.write("bad.yaml", "sensors: {}\n"), "", 1, {"[ERROR] No sensors configured"}},
      {"--config " + valid, "INT", 0, {"[WARN] Topic /chatter of chat_node is not published yet", "[INFO] Config watcher thread stopped", "[INFO] Timer thread stopped"}},
      // Not a terminal: the table as plain lines, without colours.
      {"--view --config " + valid, "TERM", 0, {"3 streams: 3 warn\nSTATE     NODE", "NO MSG    chat_node     /chatter", "-\n\n3 streams: 3 warn", "[INFO] Timer thread stopped"}},  // drawn each second until the signal
      // A terminal: drawn from its top left, coloured, fitted to it (80x24 when it tells no
      // size); the log beside the table only when asked for.
      {"--view --config " + valid, "INT", 0, {"\033[H3 streams: 3 warn", "\033[33mNO MSG   \033[0m chat_node             /chatter", "... 2 more: 2 warn", "[INFO] Timer"}, "stty cols 100 rows 4; export SPDLOG_STDOUT=true;"},
      {"--view --config " + valid, "INT", 0, {"\033[33mNO MSG   \033[0m chat_node     /chatter", "[INFO] Timer thread stopped"}, "export SPDLOG_STDOUT=true;"},
      {"--config " + valid, "INT", 0, {"[INFO] Timer thread stopped"}, "unset SPDLOG_STDOUT;"},
  };
  // clang-format on
  for (const auto& row : rows) {
    const auto result = runMonitor(row.arguments, row.signal, row.terminal);
    const auto& shown = result.standard_output;
    EXPECT_EQ(result.exit_code, row.status) << row.arguments << "\n" << shown;
    for (const auto& text : row.shown)
      EXPECT_NE(shown.find(text), std::string::npos) << text << "\n" << shown;
    EXPECT_TRUE(row.terminal || shown.find_first_of(std::string("\033\0", 2)) == std::string::npos)
        << "plain text";
    EXPECT_EQ(shown.find("STATE     NODE") != std::string::npos,
              row.arguments.find("--view --config") == 0);
  }
}

}  // namespace
