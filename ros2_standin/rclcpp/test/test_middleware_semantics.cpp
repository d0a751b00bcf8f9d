// The stand-in promises no more than rclcpp over a DDS middleware: each row
// is one behaviour a test or a client could otherwise lean on.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

#include "builtin_interfaces/msg/time.hpp"
#include "rclcpp/rclcpp.hpp"

namespace {

using Message = builtin_interfaces::msg::Time;
using namespace std::chrono_literals;

/// Polls `condition` for up to a second.
bool within_a_second(const std::function<bool()>& condition) {
  for (const auto end = std::chrono::steady_clock::now() + 1s;
       !condition() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(1ms);
  return condition();
}

/// A node with one subscription per topic, each noting "<topic><sec>" in `seen`.
struct Listener {
  explicit Listener(const std::vector<std::string>& topics, rclcpp::QoS qos = rclcpp::QoS(10)) {
    for (const auto& topic : topics)
      subscriptions.push_back(
          node->create_subscription<Message>(topic, qos, [this, topic](const Message& message) {
            seen += topic + std::to_string(message.sec) + " ";
          }));
  }
  rclcpp::Node::SharedPtr node = std::make_shared<rclcpp::Node>("listener");
  std::vector<rclcpp::Subscription<Message>::SharedPtr> subscriptions;
  std::string seen;
};

Message message(int32_t sec) {
  Message stamp;
  stamp.sec = sec;
  return stamp;
}

TEST(MiddlewareSemantics, DiscoveryWaitsOrderAndShutdownAreAsOnARobot) {
  rclcpp::init(0, nullptr);
  auto talker = std::make_shared<rclcpp::Node>("talker");
  const struct {
    const char* behaviour;
    std::function<std::string()> run;
    std::string expected;
  } rows[] = {
      {"an endpoint is discovered a moment after its creation, and a message published "
       "before the match is lost",
       [&] {
         auto publisher = talker->create_publisher<Message>("a", 10);
         Listener listener({"a"});
         std::string seen = std::to_string(talker->count_publishers("a"));
         publisher->publish(message(1));
         within_a_second([&] { return publisher->get_subscription_count() == 1; });
         seen += std::to_string(talker->count_publishers("a"));
         publisher->publish(message(2));
         within_a_second([&] {
           rclcpp::spin_some(listener.node);
           return !listener.seen.empty();
         });
         return seen + " " + listener.seen;
       },
       "01 a2 "},
      {"spin_some takes one message per subscription; spin_all takes the rest",
       [&] {
         auto publisher = talker->create_publisher<Message>("b", 10);
         Listener listener({"b"});
         within_a_second([&] { return publisher->get_subscription_count() == 1; });
         for (int32_t sec : {1, 2, 3}) publisher->publish(message(sec));
         std::this_thread::sleep_for(5ms);
         rclcpp::spin_some(listener.node);
         std::string seen = listener.seen + "| ";
         rclcpp::executors::SingleThreadedExecutor executor;
         executor.add_node(listener.node);
         executor.spin_all(1s);
         return seen + listener.seen;
       },
       "b1 | b1 b2 b3 "},
      {"topics come out in the executor's order, not the order published",
       [&] {
         auto to_c = talker->create_publisher<Message>("c", 10);
         auto to_d = talker->create_publisher<Message>("d", 10);
         Listener listener({"c", "d"});
         within_a_second(
             [&] { return to_c->get_subscription_count() + to_d->get_subscription_count() == 2; });
         for (int32_t round = 0; round < 2; ++round) {
           to_c->publish(message(round));
           to_d->publish(message(round));
           std::this_thread::sleep_for(5ms);
           rclcpp::spin_some(listener.node);
         }
         // Both rounds were published c then d; the executor took them in two orders.
         return listener.seen.size() == 12 && listener.seen[0] != listener.seen[6]
                    ? std::string("two orders")
                    : listener.seen;
       },
       "two orders"},
      {"a reliable subscription never matches a best-effort publisher",
       [&] {
         auto publisher = talker->create_publisher<Message>("e", rclcpp::QoS(10).best_effort());
         Listener reliable({"e"});
         Listener best_effort({"e"}, rclcpp::QoS(10).best_effort());
         within_a_second([&] { return publisher->get_subscription_count() == 2; });
         return std::to_string(publisher->get_subscription_count());
       },
       "1"},
      {"after shutdown a publication is dropped and no node can be made",
       [&] {
         auto publisher = talker->create_publisher<Message>("f", 10);
         Listener listener({"f"});
         within_a_second([&] { return publisher->get_subscription_count() == 1; });
         rclcpp::shutdown();
         publisher->publish(message(1));
         std::this_thread::sleep_for(5ms);
         rclcpp::spin_some(listener.node);
         std::string seen = listener.seen;
         try {
           rclcpp::Node("late");
         } catch (const rclcpp::exceptions::RCLError&) {
           seen += "refused";
         }
         return seen;
       },
       "refused"},
  };
  for (const auto& row : rows) EXPECT_EQ(row.run(), row.expected) << row.behaviour;
}

}  // namespace
