// Stand-in for rclcpp/publisher_base.hpp.
#ifndef RCLCPP__PUBLISHER_BASE_HPP_
#define RCLCPP__PUBLISHER_BASE_HPP_

#include <cstddef>
#include <memory>
#include <string>

#include "rclcpp/macros.hpp"
#include "rclcpp/qos.hpp"
#include "rclcpp/visibility_control.hpp"

namespace rclcpp {

class PublisherBase : public std::enable_shared_from_this<PublisherBase> {
 public:
  RCLCPP_SMART_PTR_DEFINITIONS(PublisherBase)

  RCLCPP_PUBLIC
  PublisherBase(const std::string& topic_name, const rclcpp::QoS& qos);

  RCLCPP_PUBLIC
  virtual ~PublisherBase();

  /// Returns the fully qualified topic name, for example "/diag".
  RCLCPP_PUBLIC
  const char* get_topic_name() const;

  RCLCPP_PUBLIC
  size_t get_subscription_count() const;

  RCLCPP_PUBLIC
  size_t get_intra_process_subscription_count() const;

  RCLCPP_PUBLIC
  rclcpp::QoS get_actual_qos() const;

 private:
  RCLCPP_DISABLE_COPY(PublisherBase)

  std::string topic_name_;
  rclcpp::QoS qos_;
};

}  // namespace rclcpp

#endif  // RCLCPP__PUBLISHER_BASE_HPP_
