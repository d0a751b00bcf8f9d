// A Diagnosis in a test as a robot program holds one: initialised from a
// threshold file of the test's own, with a subscriber on each event topic.
#ifndef TEST_SUPPORT_DIAGNOSIS_FIXTURE_HPP_
#define TEST_SUPPORT_DIAGNOSIS_FIXTURE_HPP_

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "diagnosis_internal.hpp"
#include "kelvane_protocol/msg/diagnostic_event.hpp"
#include "rclcpp/rclcpp.hpp"
#include "support/diagnosis_test_peer.hpp"
#include "support/test_support.hpp"

namespace test_support {

using kelvane_rovimar_diagnosis::steadyMs;  // the library's clock of every duration

inline std_msgs::msg::Header stamped(int32_t sec) {
  std_msgs::msg::Header header;
  header.stamp.sec = sec;
  header.stamp.nanosec = 7;
  header.frame_id = "f" + std::to_string(sec);
  return header;
}

class DiagnosisFixture : public ::testing::Test {
 protected:
  using Event = kelvane_protocol::msg::DiagnosticEvent;

  DiagnosisFixture() {
    for (const char* topic : kTopics) {
      subscriptions_.push_back(node_->create_subscription<Event>(
          std::string(topic) + "_diag_topic", 100,
          [this, topic](const Event& event) { events_.emplace_back(topic, event); }));
    }
  }

  /// Writes `document` as the threshold file and initialises the object from it.
  void initialize(const std::string& document) {
    path_ = files_.write("config.yaml", document);
    ASSERT_TRUE(diagnosis_.initialize(path_));
    ASSERT_TRUE(subscribed(diagnosis_));
  }

  /// Waits until discovery has matched every event publisher of `diagnosis`
  /// with this fixture's subscriptions: what is published before is lost.
  bool subscribed(Diagnosis& diagnosis) {
    return eventually([&diagnosis] { return DiagnosisTestPeer(diagnosis).subscribed(); });
  }

  /// The events published since the last call, as "<proxy|pnc|loc> <id>
  /// <status> <text>", then for a stamped header " @now" (within a minute of
  /// the object's wall clock) or " @<sec>.<nanosec>", then its frame. Spins until `count`
  /// have arrived (ten seconds at most), then a tenth of a second more, so
  /// that one too many shows too. Topics in the order above, each topic's
  /// events in the order published: a middleware keeps order only per topic.
  Lines received(size_t count = 0) {
    eventually([this, count] {
      rclcpp::spin_some(node_);
      return events_.size() >= count;
    });
    for (const auto quiet = std::chrono::steady_clock::now() + std::chrono::milliseconds(100);
         std::chrono::steady_clock::now() < quiet;
         std::this_thread::sleep_for(std::chrono::milliseconds(2)))
      rclcpp::spin_some(node_);
    std::stable_sort(events_.begin(), events_.end(), [](const auto& a, const auto& b) {
      return std::find(kTopics, std::end(kTopics), a.first) <
             std::find(kTopics, std::end(kTopics), b.first);
    });
    Lines lines;
    for (const auto& [topic, event] : events_) {
      const auto& stamp = event.header.stamp;
      lines.push_back(fmt::format("{} {} {} {}", std::strchr(topic, '_') + 1, event.event_id,
                                  event.event_status, event.event_msg));
      const int64_t wall_seconds = peer_.wallSeconds();
      if (stamp.sec != 0 && std::abs(stamp.sec - wall_seconds) < 60) lines.back() += " @now";
      if (stamp.sec != 0 && std::abs(stamp.sec - wall_seconds) >= 60)
        lines.back() += fmt::format(" @{}.{}", stamp.sec, stamp.nanosec);
      if (!event.header.frame_id.empty()) lines.back() += " " + event.header.frame_id;
    }
    events_.clear();
    return lines;
  }

  TempDir files_;
  std::string path_;
  Diagnosis diagnosis_;
  DiagnosisTestPeer peer_{diagnosis_};

 private:
  static constexpr const char* kTopics[] = {"sensor_proxy", "chassis_pnc", "chassis_loc"};

  rclcpp::Node::SharedPtr node_ = std::make_shared<rclcpp::Node>("observer");
  std::vector<std::pair<const char*, Event>> events_;
  std::vector<rclcpp::Subscription<Event>::SharedPtr> subscriptions_;
};

}  // namespace test_support

#endif  // TEST_SUPPORT_DIAGNOSIS_FIXTURE_HPP_
