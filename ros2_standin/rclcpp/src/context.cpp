#include "rclcpp/context.hpp"
#include "rclcpp/node_options.hpp"

#include <cstdlib>
#include <thread>

#include "rclcpp/utilities.hpp"

namespace rclcpp {

Context::Context() = default;

Context::~Context() = default;

void Context::init(int argc, char const* const* argv, const rclcpp::InitOptions& init_options) {
  (void)argc;
  (void)argv;
  (void)init_options;
  bool expected = false;
  if (!valid_.compare_exchange_strong(expected, true)) {
    throw ContextAlreadyInitialized();
  }
}

bool Context::is_valid() const { return valid_.load(); }

std::string Context::shutdown_reason() const { return shutdown_reason_; }

bool Context::shutdown(const std::string& reason) {
  bool expected = true;
  if (!valid_.compare_exchange_strong(expected, false)) {
    return false;
  }
  shutdown_reason_ = reason;
  return true;
}

namespace contexts {

Context::SharedPtr get_global_default_context() {
  static Context::SharedPtr default_context = std::make_shared<Context>();
  return default_context;
}

}  // namespace contexts

void init(int argc, char const* const* argv, const InitOptions& init_options,
          SignalHandlerOptions signal_handler_options) {
  (void)signal_handler_options;
  contexts::get_global_default_context()->init(argc, argv, init_options);
}

bool ok(Context::SharedPtr context) {
  if (!context) {
    context = contexts::get_global_default_context();
  }
  return context->is_valid();
}

bool shutdown(Context::SharedPtr context, const std::string& reason) {
  if (!context) {
    context = contexts::get_global_default_context();
  }
  return context->shutdown(reason);
}

bool sleep_for(const std::chrono::nanoseconds& nanoseconds, Context::SharedPtr context) {
  std::this_thread::sleep_for(nanoseconds);
  return ok(std::move(context));
}

InitOptions::InitOptions(rcl_allocator_t allocator) { (void)allocator; }

bool InitOptions::auto_initialize_logging() const { return initialize_logging_; }

InitOptions& InitOptions::auto_initialize_logging(bool initialize_logging) {
  initialize_logging_ = initialize_logging;
  return *this;
}

NodeOptions::NodeOptions(rcl_allocator_t allocator)
    : context_(contexts::get_global_default_context()), allocator_(allocator) {}

NodeOptions::NodeOptions(const NodeOptions& other) = default;

NodeOptions& NodeOptions::operator=(const NodeOptions& other) = default;

Context::SharedPtr NodeOptions::context() const { return context_; }

NodeOptions& NodeOptions::context(Context::SharedPtr context) {
  context_ = std::move(context);
  return *this;
}

const rcl_allocator_t& NodeOptions::allocator() const { return allocator_; }

}  // namespace rclcpp

namespace {
void* default_allocate(size_t size, void* state) {
  (void)state;
  return std::malloc(size);
}
void default_deallocate(void* pointer, void* state) {
  (void)state;
  std::free(pointer);
}
void* default_reallocate(void* pointer, size_t size, void* state) {
  (void)state;
  return std::realloc(pointer, size);
}
void* default_zero_allocate(size_t count, size_t size, void* state) {
  (void)state;
  return std::calloc(count, size);
}
}  // namespace

extern "C" rcutils_allocator_t rcutils_get_default_allocator(void) {
  return rcutils_allocator_t{default_allocate, default_deallocate, default_reallocate,
                             default_zero_allocate, nullptr};
}
