#include <gtest/gtest.h>

#include <string>

#include "support/run_process.hpp"
#include "support/temp_dir.hpp"

namespace {

test_support::ProcessResult check(const std::string& path) {
  return test_support::runProcess({CHECK_THRESHOLDS, path}, test_support::environmentWith({}, {}));
}

TEST(CheckThresholds, AcceptsTheDefaultConfiguration) {
  const auto result = check(DEFAULT_CONFIG);
  EXPECT_EQ(result.exit_code, 0) << result.standard_output;
  EXPECT_NE(result.standard_output.find(std::string(DEFAULT_CONFIG) +
                                        ": OK, 4 nodes, 12 sensors, 6 calibration sensors"),
            std::string::npos)
      << result.standard_output;
}

TEST(CheckThresholds, RejectsAFileWithTheLibrarysMessages) {
  test_support::TempDir files;
  const std::string path =
      files.write("bad.yaml", "nodes:\n  n:\n    topics: [a]\nsensors:\n  a: 5\n");
  const auto result = check(path);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_NE(result.standard_output.find("[ERROR] Sensor 'a' config must be a map"),
            std::string::npos)
      << result.standard_output;
  EXPECT_NE(result.standard_output.find(path + ": INVALID"), std::string::npos);
}

TEST(CheckThresholds, NotesNodeTopicsThatHaveNoThresholds) {
  test_support::TempDir files;
  const std::string path = files.write(
      "partial.yaml",
      "nodes:\n  n:\n    topics: [a, b]\nsensors:\n  a:\n    normal_hz: 10\n    low_ratio: 0.5\n"
      "    cutoff_timeout_ms: 500\n    cutoff_recovery_threshold: 3\n"
      "    abnormal_duration_ms: 1000\n    fps_recovery_threshold: 8\n"
      "    fps_recovery_duration_ms: 1000\n");
  const auto result = check(path);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_NE(result.standard_output.find("note: topic 'b' of node 'n' has no thresholds"),
            std::string::npos)
      << result.standard_output;
}

}  // namespace
