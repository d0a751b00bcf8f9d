#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kelvane_protocol/msg/diagnostic_event.hpp"
#include "kelvane_rovimar_diagnosis/sensor_diagnosis.hpp"
#include "rclcpp/rclcpp.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/log_capture.hpp"
#include "support/temp_dir.hpp"
#include "support/threshold_yaml.hpp"

namespace {

class Initialize : public ::testing::Test {
 protected:
  test_support::TempDir files_;
  std::string valid_path_ = files_.write("valid.yaml", test_support::validSensors());
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};
};

TEST_F(Initialize, CreatesTheNodeAndThreePublishersWithDepthTen) {
  ASSERT_TRUE(diagnosis_.initialize(valid_path_));
  EXPECT_TRUE(peer_.initialized());
  ASSERT_NE(peer_.node(), nullptr);
  EXPECT_STREQ(peer_.node()->get_name(), "diagnosis_node");
  EXPECT_EQ(peer_.publisherTopics(),
            (std::vector<std::string>{"/sensor_proxy_diag_topic", "/chassis_pnc_diag_topic",
                                      "/chassis_loc_diag_topic"}));
  EXPECT_EQ(peer_.publisherDepths(), (std::vector<size_t>{10, 10, 10}));

  auto observer = std::make_shared<rclcpp::Node>("observer");
  for (const char* topic :
       {"sensor_proxy_diag_topic", "chassis_pnc_diag_topic", "chassis_loc_diag_topic"}) {
    EXPECT_EQ(observer->count_publishers(topic), 1u) << topic;
  }
  EXPECT_EQ(peer_.thresholds().size(), 1u);
}

TEST_F(Initialize, SecondCallOnlyWarnsWhateverThePath) {
  ASSERT_TRUE(diagnosis_.initialize(valid_path_));
  const auto node = peer_.node();
  const auto thresholds = peer_.thresholds();

  test_support::LogCapture capture;
  EXPECT_TRUE(diagnosis_.initialize(files_.path("absent.yaml")));
  EXPECT_EQ(capture.lines(), std::vector<std::string>{"[WARN] Diagnosis already initialized"});
  EXPECT_EQ(peer_.node(), node) << "the node must not be recreated";
  EXPECT_EQ(peer_.thresholds(), thresholds);
  EXPECT_EQ(peer_.configFilePath(), valid_path_);
}

TEST_F(Initialize, FailedLoadKeepsTheNodeAndALaterCallSucceeds) {
  const std::string broken = files_.write("broken.yaml", "sensors: {}\n");
  EXPECT_FALSE(diagnosis_.initialize(broken));
  EXPECT_FALSE(peer_.initialized());
  const auto first_node = peer_.node();
  ASSERT_NE(first_node, nullptr);
  EXPECT_EQ(peer_.publisherTopics()[0], "/sensor_proxy_diag_topic");

  EXPECT_TRUE(diagnosis_.initialize(valid_path_));
  EXPECT_TRUE(peer_.initialized());
  EXPECT_NE(peer_.node(), first_node) << "a new attempt creates a new node";
  EXPECT_EQ(rclcpp::Node("observer").count_publishers("sensor_proxy_diag_topic"), 1u)
      << "the first attempt's publishers are released";
}

TEST_F(Initialize, ConcurrentCallsInitialiseOnce) {
  std::vector<int> results(4, 0);
  std::vector<std::thread> threads;
  test_support::LogCapture capture;
  for (size_t index = 0; index < results.size(); ++index) {
    threads.emplace_back([&, index] { results[index] = diagnosis_.initialize(valid_path_); });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  const auto lines = capture.lines();
  EXPECT_EQ(std::count(results.begin(), results.end(), 1), 4);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[WARN] Diagnosis already initialized"), 3);
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "[INFO] Successfully loaded sensor config from: " + valid_path_),
            1);
}

}  // namespace
