#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rclcpp/rclcpp.hpp"
#include "std_msgs/msg/header.hpp"

namespace {

std_msgs::msg::Header header_with_frame(const std::string& frame_id) {
  std_msgs::msg::Header header;
  header.frame_id = frame_id;
  return header;
}

class StandinGraph : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { rclcpp::init(0, nullptr); }
  static void TearDownTestSuite() { rclcpp::shutdown(); }
};

TEST(StandinContext, NodeConstructionBeforeInitThrowsRclError) {
  ASSERT_FALSE(rclcpp::ok());
  try {
    rclcpp::Node node("too_early");
    FAIL() << "a node was created before rclcpp::init";
  } catch (const rclcpp::exceptions::RCLError& error) {
    EXPECT_NE(std::string(error.what()).find("failed to initialize rcl node: "), std::string::npos)
        << error.what();
  }
}

TEST_F(StandinGraph, PublicationReachesEverySubscriptionOfTheTopicOnSpin) {
  auto publisher_node = std::make_shared<rclcpp::Node>("talker");
  auto listener_node = std::make_shared<rclcpp::Node>("listener");
  auto publisher = publisher_node->create_publisher<std_msgs::msg::Header>("chatter", 10);
  std::vector<std::string> by_reference;
  std::vector<std::string> by_shared_pointer;
  auto first = listener_node->create_subscription<std_msgs::msg::Header>(
      "/chatter", rclcpp::QoS(10),
      [&by_reference](const std_msgs::msg::Header& msg) { by_reference.push_back(msg.frame_id); });
  auto second = listener_node->create_subscription<std_msgs::msg::Header>(
      "chatter", 10, [&by_shared_pointer](std_msgs::msg::Header::ConstSharedPtr msg) {
        by_shared_pointer.push_back(msg->frame_id);
      });
  auto elsewhere = listener_node->create_subscription<std_msgs::msg::Header>(
      "other", 10, [](std::unique_ptr<std_msgs::msg::Header>) {
        FAIL() << "a message crossed to another topic";
      });

  publisher->publish(header_with_frame("a"));
  EXPECT_TRUE(by_reference.empty()) << "delivered before spin_some";
  rclcpp::spin_some(listener_node);

  EXPECT_EQ(by_reference, std::vector<std::string>{"a"});
  EXPECT_EQ(by_shared_pointer, std::vector<std::string>{"a"});
  EXPECT_STREQ(publisher->get_topic_name(), "/chatter");
  EXPECT_EQ(publisher->get_subscription_count(), 2u);
  EXPECT_EQ(listener_node->count_publishers("chatter"), 1u);
}

TEST_F(StandinGraph, KeepLastDepthDropsTheOldestQueuedMessages) {
  auto node = std::make_shared<rclcpp::Node>("depth_probe");
  auto publisher = node->create_publisher<std_msgs::msg::Header>("depth_topic", 10);
  std::vector<std::string> received;
  auto subscription = node->create_subscription<std_msgs::msg::Header>(
      "depth_topic", rclcpp::QoS(rclcpp::KeepLast(3)),
      [&received](const std_msgs::msg::Header& msg) { received.push_back(msg.frame_id); });

  for (const char* frame : {"1", "2", "3", "4", "5"}) {
    publisher->publish(header_with_frame(frame));
  }
  rclcpp::spin_some(node);

  EXPECT_EQ(received, (std::vector<std::string>{"3", "4", "5"}));
}

TEST_F(StandinGraph, DestroyedSubscriptionReceivesNothing) {
  auto node = std::make_shared<rclcpp::Node>("dropper");
  auto publisher = node->create_publisher<std_msgs::msg::Header>("dropped", 10);
  int calls = 0;
  auto subscription = node->create_subscription<std_msgs::msg::Header>(
      "dropped", 10, [&calls](const std_msgs::msg::Header&) { ++calls; });
  subscription.reset();

  publisher->publish(header_with_frame("x"));
  rclcpp::spin_some(node);

  EXPECT_EQ(calls, 0);
  EXPECT_EQ(publisher->get_subscription_count(), 0u);
}

TEST_F(StandinGraph, QosOfDepthTenIsReliableVolatileKeepLast) {
  const rclcpp::QoS qos(10);
  EXPECT_EQ(qos.depth(), 10u);
  EXPECT_EQ(qos.history(), rclcpp::HistoryPolicy::KeepLast);
  EXPECT_EQ(qos.reliability(), rclcpp::ReliabilityPolicy::Reliable);
  EXPECT_EQ(qos.durability(), rclcpp::DurabilityPolicy::Volatile);
}

TEST_F(StandinGraph, SystemClockReadsWallTimeAndConvertsToMessageTime) {
  const auto before = std::chrono::system_clock::now();
  const rclcpp::Time now = rclcpp::Clock(RCL_SYSTEM_TIME).now();
  const auto after = std::chrono::system_clock::now();
  EXPECT_GE(now.nanoseconds(), std::chrono::nanoseconds(before.time_since_epoch()).count());
  EXPECT_LE(now.nanoseconds(), std::chrono::nanoseconds(after.time_since_epoch()).count());

  const builtin_interfaces::msg::Time stamp = rclcpp::Time(1500000000LL);
  EXPECT_EQ(stamp.sec, 1);
  EXPECT_EQ(stamp.nanosec, 500000000u);
}

}  // namespace
