#include "rclcpp/exceptions.hpp"

namespace rclcpp {
namespace exceptions {

std::string NameValidationError::format_error(const char* name_type, const char* name,
                                              const char* error_msg, size_t invalid_index) {
  std::string msg;
  msg += std::string("Invalid ") + name_type + ": " + error_msg + ":\n";
  msg += std::string("  '") + name + "'\n";
  msg += std::string("   ") + std::string(invalid_index, ' ') + "^\n";
  return msg;
}

RCLErrorBase::RCLErrorBase(int32_t ret, const std::string& message)
    : ret(ret), message(message), file(), line(0), formatted_message(message) {}

RCLError::RCLError(const RCLErrorBase& base_exc, const std::string& prefix)
    : RCLErrorBase(base_exc), std::runtime_error(prefix + base_exc.formatted_message) {}

}  // namespace exceptions
}  // namespace rclcpp
