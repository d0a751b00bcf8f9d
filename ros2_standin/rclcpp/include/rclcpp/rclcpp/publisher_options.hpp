// Stand-in for rclcpp/publisher_options.hpp.
#ifndef RCLCPP__PUBLISHER_OPTIONS_HPP_
#define RCLCPP__PUBLISHER_OPTIONS_HPP_

#include <memory>

namespace rclcpp {

struct PublisherOptionsBase {
  bool use_default_callbacks = true;
};

template <typename Allocator>
struct PublisherOptionsWithAllocator : public PublisherOptionsBase {
  std::shared_ptr<Allocator> allocator = nullptr;

  PublisherOptionsWithAllocator<Allocator>() {}

  explicit PublisherOptionsWithAllocator(const PublisherOptionsBase& publisher_options_base)
      : PublisherOptionsBase(publisher_options_base) {}
};

using PublisherOptions = PublisherOptionsWithAllocator<std::allocator<void>>;

}  // namespace rclcpp

#endif  // RCLCPP__PUBLISHER_OPTIONS_HPP_
