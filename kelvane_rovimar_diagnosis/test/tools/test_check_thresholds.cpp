// check_thresholds as a robot engineer runs it: on a file, a pipe or a named
// pipe, with or without --strict and --print.
#include "support/test_support.hpp"

TEST(CheckThresholds, PrintsTheLibrarysMessagesItsWarningsAndAVerdict) {
  test_support::TempDir files;
  const std::string check = CHECK_THRESHOLDS " ", strict = CHECK_THRESHOLDS " --strict ";
  const std::string valid = test_support::validSensors();
  int written = 0;
  const auto file = [&](const std::string& text) {
    return files.write(std::to_string(++written) + ".yaml", text);
  };
  const std::string no_thresholds = file("nodes:\n  n: {topics: [s, b]}\n" + valid);
  const std::string fifo = files.path("fifo");
  const struct {
    std::string command;
    int exit_code;
    test_support::Lines shown;
  } rows[] = {
      // clang-format off
      {check + DEFAULT_CONFIG, 0, {": OK, 4 nodes, 12 sensors, 6 calibration sensors\n"}},
      {strict + DEFAULT_CONFIG, 0, {": OK, 4 nodes, 12 sensors, 6 calibration sensors\n"}},
      {check + DEFAULT_CONFIG " | grep -c normal_hz", 1, {"0\n"}},  // the tables only with --print
      {check + "--bogus " DEFAULT_CONFIG " 2>&1", 1, {"usage: check_thresholds [--strict] [--print] <sensor_thresholds.yaml>"}},
      {check + "--print", 1, {"--print: INVALID"}},  // the last argument is the file, whatever it reads
      {"SPDLOG_STDOUT=yes SPDLOG_SYSTEMD=yes SPDLOG_LEVEL=warn " + check + DEFAULT_CONFIG, 0, {"SPDLOG_STDOUT is invalid", "SPDLOG_SYSTEMD is invalid", "SPDLOG_LEVEL is invalid"}},  // the caller's settings hold
      {check + file("nodes:\n  n: {topics: [a]}\nsensors:\n  a: 5\n"), 1, {"[ERROR] Sensor 'a' config must be a map", ": INVALID"}},
      {check + file(valid + test_support::sensorEntry("s")), 1, {"[ERROR] Duplicate key 's' at line 10, column 3", ": INVALID"}},
      {"cat " DEFAULT_CONFIG " | " + check + "/dev/stdin", 0, {"/dev/stdin: OK, 4 nodes, 12 sensors"}},
      {"mkfifo " + fifo + " && { cat " DEFAULT_CONFIG " > " + fifo + " & } && timeout 20 " + check + fifo, 0, {"fifo: OK, 4 nodes"}},
      // Found by fuzzing: yaml-cpp's LoadAll never ends on this text.
      {check + file("- sensors\n, nodes\n"), 1, {"[ERROR] Config file must contain 'sensors' map", ": INVALID"}},
      {check + "--print " + file("nodes: {n: {topics: [s, s]}}\nsensors:\n" + test_support::sensorEntry("s", {{"cutoff_timeout_ms", "0700"}}) + "diagnostics: {period_ms: 100, hardware_id: r1}\n"), 0, {"nodes:\n  n: s, s\nsensors:\n  s: normal_hz 10, low_ratio 0.5 (low below 5 Hz), cutoff_timeout_ms 448, cutoff_recovery_threshold 3, abnormal_duration_ms 1000, fps_recovery_threshold 8, fps_recovery_duration_ms 2000\ncalibration_sensors: none\ndiagnostics: every 100 ms, hardware_id 'r1'\n"}},
      {check + no_thresholds, 0, {"warning: topic 'b' of node 'n' has no thresholds; its reports are refused unless it is registered", "warning: topic 's' has no event codes and is never judged; add timeout_event_id and frame_rate_event_id to its sensor entry", "OK, 1 nodes, 1 sensors, 0 calibration sensors, 2 warnings"}},
      {strict + no_thresholds, 1, {"2 warnings"}},
      {strict + file("nodes: {n: {topics: [s, /imu/data]}}\n" + valid + "    frame_rate_event_id: 9002\n" + test_support::sensorEntry("/imu/data")), 0, {"note: topic 's' has no timeout code: its silences are not judged; add timeout_event_id to its sensor entry to judge them\nnote: topic '/imu/data' has no timeout code", "OK, 1 nodes, 2 sensors, 0 calibration sensors\n"}},
      {check + "--print " + file(valid + "    timeout_event_id: 9001\n" + test_support::sensorEntry("scan_2")), 0, {"event codes:\n  s: timeout 9001 (file), frame rate none\n  scan_2: timeout 8002 (table), frame rate 8010 (table)\n"}},
      {strict + file("nodes: lidar_proxy_node\n" + valid), 1, {"warning: nodes at line 1 is not a mapping: no node is accepted and every report is refused", "OK, 0 nodes"}},
      {strict + file(valid + "---\n" + valid), 1, {"warning: the file holds more than one YAML document; only the first is read"}},
      {strict + file(valid + "---\n[a\n"), 1, {"warning: the file holds more than one YAML document"}},  // the rest unparsed
      {strict + file("sensors:\n" + test_support::sensorEntry("s", {{"cutoff_timeout_ms", "0700"}})), 1, {"warning: cutoff_timeout_ms of sensor 's' at line 5 has a leading zero and reads as octal: 0700 is 448"}},
      {strict + file("nodes:\n  ~: {topics: ['']}\n" + valid + "calibration_sensors: [~]\n"), 1, {"warning: a node name at line 2 is null or empty and reads as 'null'", "warning: a topic of node 'null' at line 2 is null or empty and reads as ''", "warning: a calibration sensor id at line 12 is null or empty"}},
      {strict + file("sensors:\n" + test_support::sensorEntry("s", {{"normal_hz", "010"}})), 0, {"OK, 0 nodes, 1 sensors"}},  // a rate reads as decimal
      {strict + file(valid + "diagnostics: {period_ms: 0200, colour: red}\n"), 1, {"warning: unknown key 'colour' of the diagnostics section at line 10 is ignored", "warning: period_ms of the diagnostics section at line 10 has a leading zero and reads as octal: 0200 is 128", "OK, 0 nodes, 1 sensors, 0 calibration sensors, /diagnostics every 128 ms, 2 warnings"}},
      {strict + file("sensor: {}\n" + valid + "    normal_hertz: 1\n"), 1, {"warning: unknown key 'sensor' at the top level at line 1 is ignored", "warning: unknown key 'normal_hertz' of sensor 's' at line 11 is ignored"}},
      // clang-format on
  };
  for (const auto& row : rows) {
    const auto result = test_support::runCommand(row.command);
    EXPECT_EQ(result.exit_code, row.exit_code) << row.command << "\n" << result.standard_output;
    for (const auto& text : row.shown) {
      EXPECT_NE(result.standard_output.find(text), std::string::npos) << "missing: " << text << "\n"
                                                                      << result.standard_output;
    }
  }
}
