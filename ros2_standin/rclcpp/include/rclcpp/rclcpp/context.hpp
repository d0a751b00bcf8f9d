// Stand-in for rclcpp/context.hpp: the process's ROS 2 context, valid between
// rclcpp::init and rclcpp::shutdown.
#ifndef RCLCPP__CONTEXT_HPP_
#define RCLCPP__CONTEXT_HPP_

#include <atomic>
#include <stdexcept>
#include <string>

#include "rclcpp/init_options.hpp"
#include "rclcpp/macros.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class ContextAlreadyInitialized : public std::runtime_error {
 public:
  ContextAlreadyInitialized() : std::runtime_error("context is already initialized") {}
};

class Context : public std::enable_shared_from_this<Context> {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(Context)

  RCLCPP_PUBLIC
  Context();

  RCLCPP_PUBLIC
  virtual ~Context();

  /// \throws rclcpp::ContextAlreadyInitialized if the context is valid already.
  RCLCPP_PUBLIC
  virtual void init(int argc, char const* const* argv,
                    const rclcpp::InitOptions& init_options = rclcpp::InitOptions());

  RCLCPP_PUBLIC
  bool is_valid() const;

  RCLCPP_PUBLIC
  std::string shutdown_reason() const;

  /// Returns false if the context was not valid.
  RCLCPP_PUBLIC
  virtual bool shutdown(const std::string& reason);

 private:
  RCLCPP_DISABLE_COPY(Context)

  std::atomic<bool> valid_{false};
  std::string shutdown_reason_;
};

namespace contexts {

RCLCPP_PUBLIC
Context::SharedPtr get_global_default_context();

}  // namespace contexts

}  // namespace rclcpp

#endif  // RCLCPP__CONTEXT_HPP_
