#include "rclcpp/time.hpp"

#include <chrono>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>

#include "rclcpp/clock.hpp"

namespace rclcpp {

namespace {
constexpr int64_t kNanosecondsPerSecond = 1000LL * 1000LL * 1000LL;

void require_same_clock(rcl_clock_type_t left, rcl_clock_type_t right) {
  if (left != right) {
    throw std::runtime_error("can't compare times with different time sources");
  }
}

int64_t add_checked(int64_t left, int64_t right) {
  int64_t sum = 0;
  if (__builtin_add_overflow(left, right, &sum)) {
    if (right > 0) {
      throw std::overflow_error("addition leads to int64_t overflow");
    }
    throw std::underflow_error("addition leads to int64_t underflow");
  }
  return sum;
}
}  // namespace

Time::Time(int32_t seconds, uint32_t nanoseconds, rcl_clock_type_t clock_type)
    : rcl_time_{0, clock_type} {
  if (seconds < 0) {
    throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  }
  rcl_time_.nanoseconds = RCL_S_TO_NS(static_cast<int64_t>(seconds)) + nanoseconds;
}

Time::Time(int64_t nanoseconds, rcl_clock_type_t clock_type) : rcl_time_{nanoseconds, clock_type} {}

Time::Time(const Time& rhs) = default;

Time::Time(const builtin_interfaces::msg::Time& time_msg, rcl_clock_type_t clock_type)
    : rcl_time_{0, clock_type} {
  if (time_msg.sec < 0) {
    throw std::runtime_error("cannot store a negative time point in rclcpp::Time");
  }
  rcl_time_.nanoseconds = RCL_S_TO_NS(static_cast<int64_t>(time_msg.sec)) + time_msg.nanosec;
}

Time::Time(const rcl_time_point_t& time_point) : rcl_time_(time_point) {}

Time::~Time() = default;

Time::operator builtin_interfaces::msg::Time() const {
  builtin_interfaces::msg::Time msg_time;
  const auto result = std::div(rcl_time_.nanoseconds, kNanosecondsPerSecond);
  if (result.rem >= 0) {
    msg_time.sec = static_cast<std::int32_t>(result.quot);
    msg_time.nanosec = static_cast<std::uint32_t>(result.rem);
  } else {
    msg_time.sec = static_cast<std::int32_t>(result.quot - 1);
    msg_time.nanosec = static_cast<std::uint32_t>(kNanosecondsPerSecond + result.rem);
  }
  return msg_time;
}

Time& Time::operator=(const Time& rhs) = default;

Time& Time::operator=(const builtin_interfaces::msg::Time& time_msg) {
  *this = Time(time_msg);
  return *this;
}

bool Time::operator==(const rclcpp::Time& rhs) const {
  require_same_clock(rcl_time_.clock_type, rhs.rcl_time_.clock_type);
  return rcl_time_.nanoseconds == rhs.rcl_time_.nanoseconds;
}

bool Time::operator!=(const rclcpp::Time& rhs) const { return !(*this == rhs); }

bool Time::operator<(const rclcpp::Time& rhs) const {
  require_same_clock(rcl_time_.clock_type, rhs.rcl_time_.clock_type);
  return rcl_time_.nanoseconds < rhs.rcl_time_.nanoseconds;
}

bool Time::operator<=(const rclcpp::Time& rhs) const {
  require_same_clock(rcl_time_.clock_type, rhs.rcl_time_.clock_type);
  return rcl_time_.nanoseconds <= rhs.rcl_time_.nanoseconds;
}

bool Time::operator>=(const rclcpp::Time& rhs) const {
  require_same_clock(rcl_time_.clock_type, rhs.rcl_time_.clock_type);
  return rcl_time_.nanoseconds >= rhs.rcl_time_.nanoseconds;
}

bool Time::operator>(const rclcpp::Time& rhs) const {
  require_same_clock(rcl_time_.clock_type, rhs.rcl_time_.clock_type);
  return rcl_time_.nanoseconds > rhs.rcl_time_.nanoseconds;
}

Time Time::operator+(const rclcpp::Duration& rhs) const {
  return Time(add_checked(rcl_time_.nanoseconds, rhs.nanoseconds()), rcl_time_.clock_type);
}

Duration Time::operator-(const rclcpp::Time& rhs) const {
  if (rcl_time_.clock_type != rhs.rcl_time_.clock_type) {
    throw std::runtime_error("can't subtract times with different time sources [" +
                             std::to_string(rcl_time_.clock_type) +
                             " != " + std::to_string(rhs.rcl_time_.clock_type) + "]");
  }
  return Duration::from_nanoseconds(add_checked(rcl_time_.nanoseconds, -rhs.rcl_time_.nanoseconds));
}

Time Time::operator-(const rclcpp::Duration& rhs) const {
  return Time(add_checked(rcl_time_.nanoseconds, -rhs.nanoseconds()), rcl_time_.clock_type);
}

rcl_time_point_value_t Time::nanoseconds() const { return rcl_time_.nanoseconds; }

Time Time::max() { return Time(std::numeric_limits<int32_t>::max(), 999999999); }

double Time::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(rcl_time_.nanoseconds)).count();
}

rcl_clock_type_t Time::get_clock_type() const { return rcl_time_.clock_type; }

Duration::Duration() : rcl_duration_{0} {}

Duration::Duration(int32_t seconds, uint32_t nanoseconds)
    : rcl_duration_{RCL_S_TO_NS(static_cast<int64_t>(seconds)) + nanoseconds} {}

Duration::Duration(std::chrono::nanoseconds nanoseconds) : rcl_duration_{nanoseconds.count()} {}

Duration::Duration(const rcl_duration_t& duration) : rcl_duration_(duration) {}

Duration::Duration(const Duration& rhs) = default;

Duration& Duration::operator=(const Duration& rhs) = default;

bool Duration::operator==(const Duration& rhs) const { return nanoseconds() == rhs.nanoseconds(); }
bool Duration::operator!=(const Duration& rhs) const { return nanoseconds() != rhs.nanoseconds(); }
bool Duration::operator<(const Duration& rhs) const { return nanoseconds() < rhs.nanoseconds(); }
bool Duration::operator<=(const Duration& rhs) const { return nanoseconds() <= rhs.nanoseconds(); }
bool Duration::operator>=(const Duration& rhs) const { return nanoseconds() >= rhs.nanoseconds(); }
bool Duration::operator>(const Duration& rhs) const { return nanoseconds() > rhs.nanoseconds(); }

Duration Duration::operator+(const Duration& rhs) const {
  return from_nanoseconds(add_checked(nanoseconds(), rhs.nanoseconds()));
}

Duration Duration::operator-(const Duration& rhs) const {
  return from_nanoseconds(add_checked(nanoseconds(), -rhs.nanoseconds()));
}

Duration Duration::max() { return Duration(std::numeric_limits<int32_t>::max(), 999999999); }

rcl_duration_value_t Duration::nanoseconds() const { return rcl_duration_.nanoseconds; }

double Duration::seconds() const {
  return std::chrono::duration<double>(std::chrono::nanoseconds(nanoseconds())).count();
}

Duration Duration::from_seconds(double seconds) {
  return Duration(std::chrono::nanoseconds(static_cast<int64_t>(seconds * kNanosecondsPerSecond)));
}

Duration Duration::from_nanoseconds(rcl_duration_value_t nanoseconds) {
  Duration duration;
  duration.rcl_duration_.nanoseconds = nanoseconds;
  return duration;
}

Clock::Clock(rcl_clock_type_t clock_type) : clock_type_(clock_type) {}

Clock::~Clock() = default;

Time Clock::now() {
  Time now(0, 0, clock_type_);
  if (clock_type_ == RCL_STEADY_TIME) {
    now.rcl_time_.nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
  } else {
    now.rcl_time_.nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                    std::chrono::system_clock::now().time_since_epoch())
                                    .count();
  }
  return now;
}

bool Clock::ros_time_is_active() { return false; }

rcl_clock_type_t Clock::get_clock_type() const noexcept { return clock_type_; }

}  // namespace rclcpp
