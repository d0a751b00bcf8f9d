// Stand-in for rclcpp/duration.hpp.
#ifndef RCLCPP__DURATION_HPP_
#define RCLCPP__DURATION_HPP_

#include <chrono>
#include <cstdint>

#include "rcl/time.h"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class RCLCPP_PUBLIC Duration {
 public:
  Duration(int32_t seconds, uint32_t nanoseconds);

  explicit Duration(std::chrono::nanoseconds nanoseconds);

  // Intentionally not using explicit to create a conversion constructor.
  template <class Rep, class Period>
  // cppcheck-suppress noExplicitConstructor
  Duration(const std::chrono::duration<Rep, Period>& duration)  // NOLINT(runtime/explicit)
      : Duration(std::chrono::duration_cast<std::chrono::nanoseconds>(duration)) {}

  explicit Duration(const rcl_duration_t& duration);

  Duration(const Duration& rhs);

  virtual ~Duration() = default;

  Duration& operator=(const Duration& rhs);

  bool operator==(const rclcpp::Duration& rhs) const;
  bool operator!=(const rclcpp::Duration& rhs) const;
  bool operator<(const rclcpp::Duration& rhs) const;
  bool operator<=(const rclcpp::Duration& rhs) const;
  bool operator>=(const rclcpp::Duration& rhs) const;
  bool operator>(const rclcpp::Duration& rhs) const;

  Duration operator+(const rclcpp::Duration& rhs) const;
  Duration operator-(const rclcpp::Duration& rhs) const;

  static Duration max();

  rcl_duration_value_t nanoseconds() const;

  double seconds() const;

  static Duration from_seconds(double seconds);

  static Duration from_nanoseconds(rcl_duration_value_t nanoseconds);

  template <class DurationT>
  DurationT to_chrono() const {
    return std::chrono::duration_cast<DurationT>(std::chrono::nanoseconds(this->nanoseconds()));
  }

 private:
  rcl_duration_t rcl_duration_;

  Duration();
};

}  // namespace rclcpp

#endif  // RCLCPP__DURATION_HPP_
