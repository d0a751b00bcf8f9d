// Stand-in for rclcpp/message_memory_strategy.hpp: only the default strategy
// that create_subscription names.
#ifndef RCLCPP__MESSAGE_MEMORY_STRATEGY_HPP_
#define RCLCPP__MESSAGE_MEMORY_STRATEGY_HPP_

#include <memory>

#include "rclcpp/macros.hpp"

namespace rclcpp {
namespace message_memory_strategy {

template <typename MessageT, typename Alloc = std::allocator<void>>
class MessageMemoryStrategy {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(MessageMemoryStrategy)

  virtual ~MessageMemoryStrategy() = default;

  static SharedPtr create_default() {
    return std::make_shared<MessageMemoryStrategy<MessageT, Alloc>>();
  }
};

}  // namespace message_memory_strategy
}  // namespace rclcpp

#endif  // RCLCPP__MESSAGE_MEMORY_STRATEGY_HPP_
