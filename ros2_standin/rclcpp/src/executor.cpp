#include "rclcpp/executor.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <thread>

#include "rclcpp/detail/topic_registry.hpp"
#include "rclcpp/executors.hpp"
#include "rclcpp/utilities.hpp"

namespace rclcpp {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Where the next wait starts in a node's list of subscriptions; shared by
// every executor, so that even one-shot spin_some calls change their order.
std::atomic<size_t> next_wait_start{0};

constexpr std::chrono::milliseconds kPollPeriod(1);

/// Marks an executor as spinning for the life of the guard.
class SpinningGuard {
 public:
  SpinningGuard(std::atomic<bool>& spinning, const char* call) : spinning_(spinning) {
    if (spinning_.exchange(true)) {
      throw std::runtime_error(std::string(call) + "() called while already spinning");
    }
  }
  ~SpinningGuard() { spinning_.store(false); }
  SpinningGuard(const SpinningGuard&) = delete;
  SpinningGuard& operator=(const SpinningGuard&) = delete;

 private:
  std::atomic<bool>& spinning_;
};

}  // namespace

Executor::Executor() = default;

Executor::~Executor() = default;

void Executor::add_node(rclcpp::Node::SharedPtr node_ptr, bool notify) {
  (void)notify;
  std::lock_guard<std::mutex> lock(nodes_mutex_);
  nodes_.push_back(node_ptr);
}

void Executor::remove_node(rclcpp::Node::SharedPtr node_ptr, bool notify) {
  (void)notify;
  std::lock_guard<std::mutex> lock(nodes_mutex_);
  nodes_.erase(std::remove_if(nodes_.begin(), nodes_.end(),
                              [&node_ptr](const std::weak_ptr<Node>& node) {
                                const auto held = node.lock();
                                return !held || held == node_ptr;
                              }),
               nodes_.end());
}

std::vector<std::shared_ptr<SubscriptionBase>> Executor::subscriptions_in_wait_order() {
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions;
  {
    std::lock_guard<std::mutex> lock(nodes_mutex_);
    for (const auto& entry : nodes_) {
      if (const auto node = entry.lock()) {
        const auto live = node->live_subscriptions();
        subscriptions.insert(subscriptions.end(), live.begin(), live.end());
      }
    }
  }
  for (const auto& subscription : subscriptions) {
    // Matching a transient-local subscription brings its publishers' history.
    detail::TopicRegistry::instance()->deliver_history(subscription);
  }
  if (!subscriptions.empty()) {
    std::rotate(subscriptions.begin(),
                subscriptions.begin() +
                    static_cast<std::ptrdiff_t>(next_wait_start++ % subscriptions.size()),
                subscriptions.end());
  }
  return subscriptions;
}

size_t Executor::execute_ready_round() {
  // The wait: which subscriptions have a message now. Then one message each.
  auto subscriptions = subscriptions_in_wait_order();  // histories delivered in it are ready
  const auto now = SteadyClock::now();
  std::vector<std::shared_ptr<SubscriptionBase>> ready;
  for (auto& subscription : subscriptions) {
    if (subscription->has_ready_message(now)) {
      ready.push_back(std::move(subscription));
    }
  }
  size_t executed = 0;
  for (const auto& subscription : ready) {
    executed += subscription->execute_one(now);
  }
  return executed;
}

void Executor::spin_node_some(rclcpp::Node::SharedPtr node) {
  add_node(node);
  spin_some();
  remove_node(node);
}

void Executor::spin_some(std::chrono::nanoseconds max_duration) {
  (void)max_duration;  // one round takes what one wait found, however long it lasts
  SpinningGuard guard(spinning_, "spin_some");
  execute_ready_round();
}

void Executor::spin_all(std::chrono::nanoseconds max_duration) {
  SpinningGuard guard(spinning_, "spin_all");
  const auto end = SteadyClock::now() + max_duration;
  while (execute_ready_round() > 0 && SteadyClock::now() < end) {
  }
}

void Executor::spin_once(std::chrono::nanoseconds timeout) {
  const auto end = SteadyClock::now() + timeout;
  while (rclcpp::ok()) {
    const auto now = SteadyClock::now();
    for (const auto& subscription : subscriptions_in_wait_order()) {
      if (subscription->execute_one(now)) {
        return;
      }
    }
    if (timeout >= std::chrono::nanoseconds(0) && now >= end) {
      return;
    }
    std::this_thread::sleep_for(kPollPeriod);
  }
}

void Executor::cancel() { spinning_.store(false); }

namespace executors {

SingleThreadedExecutor::SingleThreadedExecutor() = default;

SingleThreadedExecutor::~SingleThreadedExecutor() = default;

void SingleThreadedExecutor::spin() {
  if (spinning_.exchange(true)) {
    throw std::runtime_error("spin() called while already spinning");
  }
  while (rclcpp::ok() && spinning_.load()) {
    if (execute_ready_round() == 0) {
      std::this_thread::sleep_for(kPollPeriod);
    }
  }
  spinning_.store(false);
}

}  // namespace executors

void spin_some(Node::SharedPtr node_ptr) {
  executors::SingleThreadedExecutor executor;
  executor.spin_node_some(std::move(node_ptr));
}

void spin(Node::SharedPtr node_ptr) {
  executors::SingleThreadedExecutor executor;
  executor.add_node(std::move(node_ptr));
  executor.spin();
}

}  // namespace rclcpp
