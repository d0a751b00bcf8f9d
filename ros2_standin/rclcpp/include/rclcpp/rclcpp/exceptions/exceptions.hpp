// Stand-in for rclcpp/exceptions/exceptions.hpp: the exceptions that node
// construction raises.
#ifndef RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_
#define RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "rclcpp/visibility_control.hpp"

namespace rclcpp {
namespace exceptions {

class NameValidationError : public std::invalid_argument {
 public:
  NameValidationError(const char* name_type_, const char* name_, const char* error_msg_,
                      size_t invalid_index_)
      : std::invalid_argument(format_error(name_type_, name_, error_msg_, invalid_index_)),
        name_type(name_type_),
        name(name_),
        error_msg(error_msg_),
        invalid_index(invalid_index_) {}

  static std::string format_error(const char* name_type, const char* name, const char* error_msg,
                                  size_t invalid_index);

  const std::string name_type;
  const std::string name;
  const std::string error_msg;
  const size_t invalid_index;
};

class InvalidNodeNameError : public NameValidationError {
 public:
  InvalidNodeNameError(const char* node_name, const char* error_msg, size_t invalid_index)
      : NameValidationError("node name", node_name, error_msg, invalid_index) {}
};

class InvalidNamespaceError : public NameValidationError {
 public:
  InvalidNamespaceError(const char* namespace_, const char* error_msg, size_t invalid_index)
      : NameValidationError("namespace", namespace_, error_msg, invalid_index) {}
};

/// Carries an rcl return code and its message.
class RCLErrorBase {
 public:
  RCLErrorBase(int32_t ret, const std::string& message);
  virtual ~RCLErrorBase() {}

  int32_t ret;
  std::string message;
  std::string file;
  size_t line;
  std::string formatted_message;
};

class RCLError : public RCLErrorBase, public std::runtime_error {
 public:
  RCLError(const RCLErrorBase& base_exc, const std::string& prefix);
};

}  // namespace exceptions
}  // namespace rclcpp

#endif  // RCLCPP__EXCEPTIONS__EXCEPTIONS_HPP_
