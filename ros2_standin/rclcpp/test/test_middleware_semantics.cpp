// The stand-in promises no more than rclcpp over a DDS middleware: each
// check is one behaviour a test or a client could otherwise lean on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "builtin_interfaces/msg/time.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

using Message = builtin_interfaces::msg::Time;
using namespace std::chrono_literals;

bool within_a_second(const std::function<bool()>& condition) {
  for (const auto end = std::chrono::steady_clock::now() + 1s;
       !condition() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(1ms);
  return condition();
}

Message stamp(int32_t sec) {
  Message message;
  message.sec = sec;
  return message;
}

TEST(MiddlewareSemantics, DiscoveryWaitsOrderAndShutdownAreAsOnARobot) {
  rclcpp::init(0, nullptr);
  auto node = std::make_shared<rclcpp::Node>("node");
  std::string seen;  // "<topic><sec> " per message taken
  const auto listen = [&seen](rclcpp::Node& on, const std::string& topic,
                              const rclcpp::QoS& qos = rclcpp::QoS(10)) {
    return on.create_subscription<Message>(topic, qos, [&seen, topic](const Message& m) {
      seen += topic + std::to_string(m.sec) + " ";
    });
  };
  auto to_a = node->create_publisher<Message>("a", 10);
  auto to_b = node->create_publisher<Message>("b", 10);
  auto best_effort = node->create_publisher<Message>("c", rclcpp::QoS(10).best_effort());
  rclcpp::Node other("other");
  const auto subscriptions = {listen(*node, "a"), listen(*node, "b"), listen(other, "c")};
  // Discovery takes a moment: nothing is seen, and what is published before the match is lost.
  EXPECT_EQ(node->count_publishers("a"), 0u);
  to_a->publish(stamp(0));
  ASSERT_TRUE(within_a_second(
      [&] { return to_a->get_subscription_count() + to_b->get_subscription_count() == 2; }));
  EXPECT_EQ(node->count_publishers("a"), 1u);
  EXPECT_EQ(best_effort->get_subscription_count(), 0u) << "a reliable reader never matches it";
  // One message per subscription and wait, topics in the executor's order.
  for (int32_t round = 1; round <= 2; ++round)
    to_a->publish(stamp(round)), to_b->publish(stamp(round));
  std::this_thread::sleep_for(5ms);
  rclcpp::spin_some(node);
  rclcpp::spin_some(node);
  EXPECT_TRUE(seen == "a1 b1 b2 a2 " || seen == "b1 a1 a2 b2 ") << seen;
  for (int32_t round = 3; round <= 5; ++round) to_a->publish(stamp(round));
  std::this_thread::sleep_for(5ms);
  rclcpp::executors::SingleThreadedExecutor executor;
  executor.add_node(node);
  seen.clear();
  executor.spin_all(1s);
  EXPECT_EQ(seen, "a3 a4 a5 ");
  // A transient-local publisher keeps its last `depth` messages for a
  // transient-local subscription matched however late: oldest first, once,
  // then the live ones. A volatile subscription gets none of them, and a
  // transient-local one is never matched with a volatile publisher.
  const auto kept = rclcpp::QoS(2).transient_local();
  auto to_d = node->create_publisher<Message>("d", kept),
       to_e = node->create_publisher<Message>("e", kept);
  auto volatile_f = node->create_publisher<Message>("f", 10);
  for (int32_t sec = 10; sec <= 12; ++sec) to_d->publish(stamp(sec)), to_e->publish(stamp(sec));
  const auto reader = rclcpp::QoS(10).transient_local();
  const auto late = {listen(*node, "d", reader), listen(*node, "e"), listen(*node, "f", reader)};
  ASSERT_TRUE(within_a_second(
      [&] { return to_d->get_subscription_count() + to_e->get_subscription_count() == 2; }));
  EXPECT_EQ(volatile_f->get_subscription_count(), 0u);
  seen.clear();
  executor.spin_all(1s);
  to_d->publish(stamp(13)), to_e->publish(stamp(13));
  std::this_thread::sleep_for(5ms);
  executor.spin_all(1s);
  std::string d, e;  // per topic: the executor orders topics as it likes
  for (size_t at = 0; at < seen.size(); at = seen.find(' ', at) + 1)
    (seen[at] == 'd' ? d : e) += seen.substr(at, 4);
  EXPECT_EQ(d + "| " + e, "d11 d12 d13 | e13 ");
  // After shutdown a publication is dropped and no node can be made.
  rclcpp::shutdown();
  to_a->publish(stamp(6));
  std::this_thread::sleep_for(5ms);
  executor.spin_some();
  EXPECT_EQ(seen.find("a6"), std::string::npos);
  EXPECT_THROW(rclcpp::Node("late"), rclcpp::exceptions::RCLError);
}

}  // namespace
