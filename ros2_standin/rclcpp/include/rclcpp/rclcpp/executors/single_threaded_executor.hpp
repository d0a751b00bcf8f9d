// Stand-in for rclcpp/executors/single_threaded_executor.hpp.
#ifndef RCLCPP__EXECUTORS__SINGLE_THREADED_EXECUTOR_HPP_
#define RCLCPP__EXECUTORS__SINGLE_THREADED_EXECUTOR_HPP_

#include "rclcpp/executor.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {
namespace executors {

class SingleThreadedExecutor : public rclcpp::Executor {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(SingleThreadedExecutor)

  RCLCPP_PUBLIC
  SingleThreadedExecutor();

  RCLCPP_PUBLIC
  ~SingleThreadedExecutor() override;

  RCLCPP_PUBLIC
  void spin() override;
};

}  // namespace executors
}  // namespace rclcpp

#endif  // RCLCPP__EXECUTORS__SINGLE_THREADED_EXECUTOR_HPP_
