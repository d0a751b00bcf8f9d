// Stand-in for rclcpp/executor.hpp. As rclcpp's executors do, a wait finds
// the subscriptions that have a message ready, and the executor then takes
// one message from each, in an order of its own: messages of different
// topics do not come out in the order they were published.
#ifndef RCLCPP__EXECUTOR_HPP_
#define RCLCPP__EXECUTOR_HPP_

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "rclcpp/macros.hpp"
#include "rclcpp/node.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class Executor {
 public:
  RCLCPP_SMART_PTR_ALIASES_ONLY(Executor)

  RCLCPP_PUBLIC
  Executor();

  RCLCPP_PUBLIC
  virtual ~Executor();

  RCLCPP_PUBLIC
  virtual void add_node(rclcpp::Node::SharedPtr node_ptr, bool notify = true);

  RCLCPP_PUBLIC
  virtual void remove_node(rclcpp::Node::SharedPtr node_ptr, bool notify = true);

  /// Serves the nodes until cancel() or rclcpp::shutdown.
  virtual void spin() = 0;

  /// Adds `node` for one spin_some and removes it again.
  RCLCPP_PUBLIC
  void spin_node_some(rclcpp::Node::SharedPtr node);

  /// One wait, then one message for each subscription that had one ready.
  /// \throws std::runtime_error when the executor is already spinning.
  RCLCPP_PUBLIC
  virtual void spin_some(std::chrono::nanoseconds max_duration = std::chrono::nanoseconds(0));

  /// Waits and takes again until nothing is ready or `max_duration` is up.
  /// \throws std::runtime_error when the executor is already spinning.
  RCLCPP_PUBLIC
  virtual void spin_all(std::chrono::nanoseconds max_duration);

  /// Waits up to `timeout` (negative: for ever) for one message and hands it on.
  RCLCPP_PUBLIC
  virtual void spin_once(std::chrono::nanoseconds timeout = std::chrono::nanoseconds(-1));

  RCLCPP_PUBLIC
  void cancel();

 protected:
  /// Takes one message from each subscription ready now; how many were taken.
  RCLCPP_PUBLIC
  size_t execute_ready_round();

  std::atomic<bool> spinning_{false};

 private:
  RCLCPP_DISABLE_COPY(Executor)

  /// The node's subscriptions, rotated so that each wait starts elsewhere.
  std::vector<std::shared_ptr<SubscriptionBase>> subscriptions_in_wait_order();

  std::mutex nodes_mutex_;
  std::vector<std::weak_ptr<Node>> nodes_;
};

}  // namespace rclcpp

#endif  // RCLCPP__EXECUTOR_HPP_
