// The threshold checker as a robot engineer runs it on a file.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.hpp"

namespace {

TEST(CheckThresholds, PrintsTheLibrarysMessagesAndAVerdict) {
  test_support::TempDir files;
  const struct {
    std::string path;
    int exit_code;
    std::vector<std::string> shown;
  } rows[] = {
      {DEFAULT_CONFIG,
       0,
       {std::string(DEFAULT_CONFIG) + ": OK, 4 nodes, 12 sensors, 6 calibration sensors"}},
      {files.write("bad.yaml", "nodes:\n  n: {topics: [a]}\nsensors:\n  a: 5\n"),
       1,
       {"[ERROR] Sensor 'a' config must be a map", "bad.yaml: INVALID"}},
      {files.write("partial.yaml",
                   "nodes:\n  n: {topics: [s, b]}\n" + test_support::validSensors()),
       0,
       {"note: topic 'b' of node 'n' has no thresholds", "partial.yaml: OK, 1 nodes, 1 sensors"}}};
  for (const auto& row : rows) {
    const auto result = test_support::runCommand(std::string(CHECK_THRESHOLDS " ") + row.path);
    EXPECT_EQ(result.exit_code, row.exit_code) << result.standard_output;
    for (const auto& text : row.shown) {
      EXPECT_NE(result.standard_output.find(text), std::string::npos) << "missing: " << text << "\n"
                                                                      << result.standard_output;
    }
  }
}

}  // namespace
