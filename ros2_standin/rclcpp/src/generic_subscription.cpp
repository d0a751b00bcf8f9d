// Subscriptions to a type known by name: its introspection type support is
// loaded as rclcpp loads type supports, and each message is written in CDR
// as a DDS middleware carries it (XCDR1, the host's byte order, with the
// 4-byte encapsulation header; every field aligned to its size from the
// payload's start).
#include <dlfcn.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "ament_index_cpp/get_package_prefix.hpp"
#include "rclcpp/generic_subscription.hpp"
#include "rclcpp/serialized_message.hpp"
#include "rclcpp/typesupport_helpers.hpp"
#include "rcpputils/shared_library.hpp"
#include "rosidl_typesupport_introspection_cpp/field_types.hpp"
#include "rosidl_typesupport_introspection_cpp/identifier.hpp"
#include "rosidl_typesupport_introspection_cpp/message_introspection.hpp"

namespace rcpputils {

SharedLibrary::SharedLibrary(const std::string& library_path)
    : library_path_(library_path), handle_(dlopen(library_path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) {
    throw std::runtime_error("failed to load library " + library_path + ": " + dlerror());
  }
}

SharedLibrary::~SharedLibrary() { dlclose(handle_); }

void* SharedLibrary::get_symbol(const std::string& symbol_name) {
  void* symbol = dlsym(handle_, symbol_name.c_str());
  if (symbol == nullptr) {
    throw std::runtime_error("symbol '" + symbol_name + "' not found in " + library_path_);
  }
  return symbol;
}

bool SharedLibrary::has_symbol(const std::string& symbol_name) {
  return dlsym(handle_, symbol_name.c_str()) != nullptr;
}

std::string SharedLibrary::get_library_path() { return library_path_; }

}  // namespace rcpputils

namespace rclcpp {

namespace {

/// "pkg/msg/Name" as its package, middle module and name.
struct TypeName {
  std::string package, module, name;
};

TypeName split_type(const std::string& type) {
  const auto first = type.find('/');
  const auto last = type.rfind('/');
  if (first == std::string::npos || last == 0 || last == type.size() - 1) {
    throw std::runtime_error(
        "Message type is not of the form package/type and cannot be processed");
  }
  return {type.substr(0, first), last > first ? type.substr(first + 1, last - first - 1) : "",
          type.substr(last + 1)};
}

using rosidl_typesupport_introspection_cpp::MessageMember;
using rosidl_typesupport_introspection_cpp::MessageMembers;

class CdrWriter {
 public:
  CdrWriter() {
    const uint16_t probe = 1;
    const bool little_endian = *reinterpret_cast<const uint8_t*>(&probe) == 1;
    bytes_ = {0x00, static_cast<uint8_t>(little_endian ? 0x01 : 0x00), 0x00, 0x00};
  }

  void message(const void* message, const MessageMembers& members) {
    for (uint32_t index = 0; index < members.member_count_; ++index) {
      const MessageMember& member = members.members_[index];
      field(member, static_cast<const uint8_t*>(message) + member.offset_);
    }
  }

  std::vector<uint8_t> take() { return std::move(bytes_); }

 private:
  void align(size_t size) {
    while ((bytes_.size() - kHeaderSize) % size != 0) {
      bytes_.push_back(0);
    }
  }

  void raw(const void* value, size_t size, size_t alignment) {
    align(alignment);
    const auto* begin = static_cast<const uint8_t*>(value);
    bytes_.insert(bytes_.end(), begin, begin + size);
  }

  void length(size_t count) {
    const auto value = static_cast<uint32_t>(count);
    raw(&value, sizeof(value), sizeof(value));
  }

  void field(const MessageMember& member, const void* value) {
    if (!member.is_array_) {
      element(member, value);
      return;
    }
    const bool fixed = member.array_size_ > 0 && !member.is_upper_bound_;
    const size_t count = fixed ? member.array_size_ : member.size_function(value);
    if (!fixed) {
      length(count);
    }
    for (size_t index = 0; index < count; ++index) {
      if (member.get_const_function == nullptr) {  // std::vector<bool>: no element has an address
        bool flag = false;
        member.fetch_function(value, index, &flag);
        element(member, &flag);
      } else {
        element(member, member.get_const_function(value, index));
      }
    }
  }

  void element(const MessageMember& member, const void* value) {
    namespace ts = rosidl_typesupport_introspection_cpp;
    switch (member.type_id_) {
      case ts::ROS_TYPE_STRING: {
        const auto& text = *static_cast<const std::string*>(value);
        length(text.size() + 1);
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.push_back(0);
        return;
      }
      case ts::ROS_TYPE_WSTRING: {
        const auto& text = *static_cast<const std::u16string*>(value);
        length(text.size());
        for (const char16_t character : text) {
          raw(&character, sizeof(character), sizeof(character));
        }
        return;
      }
      case ts::ROS_TYPE_MESSAGE:
        message(value, *static_cast<const MessageMembers*>(member.members_->data));
        return;
      case ts::ROS_TYPE_BOOLEAN: {
        const uint8_t flag = *static_cast<const bool*>(value) ? 1 : 0;
        raw(&flag, 1, 1);
        return;
      }
      case ts::ROS_TYPE_DOUBLE:
      case ts::ROS_TYPE_UINT64:
      case ts::ROS_TYPE_INT64:
        raw(value, 8, 8);
        return;
      case ts::ROS_TYPE_FLOAT:
      case ts::ROS_TYPE_UINT32:
      case ts::ROS_TYPE_INT32:
        raw(value, 4, 4);
        return;
      case ts::ROS_TYPE_WCHAR:
      case ts::ROS_TYPE_UINT16:
      case ts::ROS_TYPE_INT16:
        raw(value, 2, 2);
        return;
      case ts::ROS_TYPE_LONG_DOUBLE:
        raw(value, 16, 8);
        return;
      default:  // char, octet, uint8, int8
        raw(value, 1, 1);
        return;
    }
  }

  static constexpr size_t kHeaderSize = 4;
  std::vector<uint8_t> bytes_;
};

}  // namespace

std::shared_ptr<rcpputils::SharedLibrary> get_typesupport_library(
    const std::string& type, const std::string& typesupport_identifier) {
  const std::string package = split_type(type).package;
  std::string prefix;
  try {
    prefix = ament_index_cpp::get_package_prefix(package);
  } catch (const ament_index_cpp::PackageNotFoundError& error) {
    throw std::runtime_error(error.what());
  }
  return std::make_shared<rcpputils::SharedLibrary>(prefix + "/lib/lib" + package + "__" +
                                                    typesupport_identifier + ".so");
}

const rosidl_message_type_support_t* get_typesupport_handle(
    const std::string& type, const std::string& typesupport_identifier,
    rcpputils::SharedLibrary& library) {
  const TypeName name = split_type(type);
  const std::string symbol = typesupport_identifier + "__get_message_type_support_handle__" +
                             name.package + "__" + name.module + "__" + name.name;
  if (!library.has_symbol(symbol)) {
    throw std::runtime_error(
        "Something went wrong loading the typesupport library for message "
        "type " +
        name.package + "/" + name.name + ". Symbol not found.");
  }
  using Getter = const rosidl_message_type_support_t* (*)();
  return reinterpret_cast<Getter>(library.get_symbol(symbol))();
}

SerializedMessage::SerializedMessage(const rcl_allocator_t& allocator)
    : SerializedMessage(0, allocator) {}

SerializedMessage::SerializedMessage(size_t initial_capacity, const rcl_allocator_t& allocator)
    : serialized_message_{nullptr, 0, 0, allocator} {
  reserve(initial_capacity);
}

SerializedMessage::SerializedMessage(const SerializedMessage& other)
    : SerializedMessage(other.size(), other.serialized_message_.allocator) {
  if (other.size() > 0) {
    std::memcpy(serialized_message_.buffer, other.serialized_message_.buffer, other.size());
  }
  serialized_message_.buffer_length = other.size();
}

SerializedMessage& SerializedMessage::operator=(const SerializedMessage& other) {
  if (this != &other) {
    reserve(other.size());
    if (other.size() > 0) {
      std::memcpy(serialized_message_.buffer, other.serialized_message_.buffer, other.size());
    }
    serialized_message_.buffer_length = other.size();
  }
  return *this;
}

SerializedMessage::~SerializedMessage() {
  if (serialized_message_.buffer != nullptr) {
    serialized_message_.allocator.deallocate(serialized_message_.buffer,
                                             serialized_message_.allocator.state);
  }
}

rcl_serialized_message_t& SerializedMessage::get_rcl_serialized_message() {
  return serialized_message_;
}

const rcl_serialized_message_t& SerializedMessage::get_rcl_serialized_message() const {
  return serialized_message_;
}

size_t SerializedMessage::size() const { return serialized_message_.buffer_length; }

size_t SerializedMessage::capacity() const { return serialized_message_.buffer_capacity; }

void SerializedMessage::reserve(size_t capacity) {
  if (capacity <= serialized_message_.buffer_capacity) {
    return;
  }
  auto& allocator = serialized_message_.allocator;
  serialized_message_.buffer = static_cast<uint8_t*>(
      allocator.reallocate(serialized_message_.buffer, capacity, allocator.state));
  if (serialized_message_.buffer == nullptr) {
    throw std::bad_alloc();
  }
  serialized_message_.buffer_capacity = capacity;
}

GenericSubscription::GenericSubscription(const std::string& topic_name,
                                         const std::string& topic_type, const rclcpp::QoS& qos,
                                         Callback callback)
    : SubscriptionBase(topic_name, qos, topic_type),
      introspection_library_(
          get_typesupport_library(topic_type, "rosidl_typesupport_introspection_cpp")),
      introspection_(get_typesupport_handle(topic_type, "rosidl_typesupport_introspection_cpp",
                                            *introspection_library_)),
      callback_(std::move(callback)) {}

GenericSubscription::~GenericSubscription() = default;

void GenericSubscription::enqueue_copy(const void* message,
                                       std::chrono::steady_clock::time_point ready_at) {
  CdrWriter writer;
  writer.message(message, *static_cast<const MessageMembers*>(introspection_->data));
  const std::vector<uint8_t> bytes = writer.take();
  auto serialized = std::make_shared<SerializedMessage>(bytes.size());
  std::memcpy(serialized->get_rcl_serialized_message().buffer, bytes.data(), bytes.size());
  serialized->get_rcl_serialized_message().buffer_length = bytes.size();
  queue_.push(ready_at, std::move(serialized), get_actual_qos());
}

bool GenericSubscription::has_ready_message(std::chrono::steady_clock::time_point now) {
  return queue_.ready(now);
}

bool GenericSubscription::execute_one(std::chrono::steady_clock::time_point now) {
  std::shared_ptr<SerializedMessage> message = queue_.take(now);
  if (!message) {
    return false;
  }
  callback_(std::move(message));
  return true;
}

}  // namespace rclcpp
