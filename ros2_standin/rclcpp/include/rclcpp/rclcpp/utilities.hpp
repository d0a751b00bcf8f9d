// Stand-in for rclcpp/utilities.hpp.
#ifndef RCLCPP__UTILITIES_HPP_
#define RCLCPP__UTILITIES_HPP_

#include <chrono>
#include <string>

#include "rclcpp/context.hpp"
#include "rclcpp/init_options.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

enum class SignalHandlerOptions {
  All,
  SigInt,
  SigTerm,
  None,
};

/// Initializes the global default context. The stand-in installs no signal handlers.
RCLCPP_PUBLIC
void init(int argc, char const* const* argv, const InitOptions& init_options = InitOptions(),
          SignalHandlerOptions signal_handler_options = SignalHandlerOptions::All);

RCLCPP_PUBLIC
bool ok(rclcpp::Context::SharedPtr context = nullptr);

RCLCPP_PUBLIC
bool shutdown(rclcpp::Context::SharedPtr context = nullptr,
              const std::string& reason = "user called rclcpp::shutdown()");

RCLCPP_PUBLIC
bool sleep_for(const std::chrono::nanoseconds& nanoseconds,
               rclcpp::Context::SharedPtr context = nullptr);

}  // namespace rclcpp

#endif  // RCLCPP__UTILITIES_HPP_
