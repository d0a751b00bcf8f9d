// Stand-in for rcpputils/shared_library.hpp, which rclcpp's typesupport
// helpers hand out: a dynamically loaded library and its symbols.
#ifndef RCPPUTILS__SHARED_LIBRARY_HPP_
#define RCPPUTILS__SHARED_LIBRARY_HPP_

#include <string>

#include "rclcpp/visibility_control.hpp"

namespace rcpputils {

class SharedLibrary {
 public:
  /// \throws std::runtime_error when the library cannot be loaded.
  RCLCPP_PUBLIC
  explicit SharedLibrary(const std::string& library_path);

  RCLCPP_PUBLIC
  virtual ~SharedLibrary();

  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  /// \throws std::runtime_error when the library has no such symbol.
  RCLCPP_PUBLIC
  void* get_symbol(const std::string& symbol_name);

  RCLCPP_PUBLIC
  bool has_symbol(const std::string& symbol_name);

  RCLCPP_PUBLIC
  std::string get_library_path();

 private:
  std::string library_path_;
  void* handle_;
};

}  // namespace rcpputils

#endif  // RCPPUTILS__SHARED_LIBRARY_HPP_
