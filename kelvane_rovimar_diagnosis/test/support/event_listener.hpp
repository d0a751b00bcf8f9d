// Subscribes to a diagnostic topic the way a robot's monitor would and keeps
// every event received.
#ifndef TEST_SUPPORT_EVENT_LISTENER_HPP_
#define TEST_SUPPORT_EVENT_LISTENER_HPP_

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kelvane_protocol/msg/diagnostic_event.hpp"
#include "rclcpp/rclcpp.hpp"

namespace test_support {

class EventListener {
 public:
  using Event = kelvane_protocol::msg::DiagnosticEvent;

  explicit EventListener(const std::string& topic)
      : node_(std::make_shared<rclcpp::Node>("event_listener_" + std::to_string(++count_))),
        subscription_(node_->create_subscription<Event>(
            topic, rclcpp::QoS(100), [this](const Event& event) { events_.push_back(event); })) {}

  /// Returns the events delivered since the last call.
  std::vector<Event> take() {
    rclcpp::spin_some(node_);
    std::vector<Event> taken;
    taken.swap(events_);
    return taken;
  }

  /// Waits until an event arrives or `limit` passes; returns the events delivered.
  std::vector<Event> waitForEvents(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::vector<Event> taken = take();
    while (taken.empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      taken = take();
    }
    return taken;
  }

 private:
  static inline std::atomic<int> count_{0};
  rclcpp::Node::SharedPtr node_;
  std::vector<Event> events_;
  rclcpp::Subscription<Event>::SharedPtr subscription_;
};

}  // namespace test_support

#endif  // TEST_SUPPORT_EVENT_LISTENER_HPP_
