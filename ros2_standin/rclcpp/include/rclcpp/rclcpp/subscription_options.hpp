// Stand-in for rclcpp/subscription_options.hpp.
#ifndef RCLCPP__SUBSCRIPTION_OPTIONS_HPP_
#define RCLCPP__SUBSCRIPTION_OPTIONS_HPP_

#include <memory>

namespace rclcpp {

struct SubscriptionOptionsBase {
  bool ignore_local_publications = false;
};

template <typename Allocator>
struct SubscriptionOptionsWithAllocator : public SubscriptionOptionsBase {
  std::shared_ptr<Allocator> allocator = nullptr;

  SubscriptionOptionsWithAllocator<Allocator>() {}

  explicit SubscriptionOptionsWithAllocator(
      const SubscriptionOptionsBase& subscription_options_base)
      : SubscriptionOptionsBase(subscription_options_base) {}
};

using SubscriptionOptions = SubscriptionOptionsWithAllocator<std::allocator<void>>;

}  // namespace rclcpp

#endif  // RCLCPP__SUBSCRIPTION_OPTIONS_HPP_
