// Stand-in for rclcpp/qos.hpp: the QoS profile of a publisher or a
// subscription. The stand-in honours the history (keep-last depth) of each
// subscription; the other policies are carried but not enforced.
#ifndef RCLCPP__QOS_HPP_
#define RCLCPP__QOS_HPP_

#include <cstddef>

#include "rclcpp/visibility_control.hpp"
#include "rmw/qos_profiles.h"
#include "rmw/types.h"

namespace rclcpp {

enum class HistoryPolicy {
  KeepLast = RMW_QOS_POLICY_HISTORY_KEEP_LAST,
  KeepAll = RMW_QOS_POLICY_HISTORY_KEEP_ALL,
  SystemDefault = RMW_QOS_POLICY_HISTORY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_HISTORY_UNKNOWN,
};

enum class ReliabilityPolicy {
  BestEffort = RMW_QOS_POLICY_RELIABILITY_BEST_EFFORT,
  Reliable = RMW_QOS_POLICY_RELIABILITY_RELIABLE,
  SystemDefault = RMW_QOS_POLICY_RELIABILITY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_RELIABILITY_UNKNOWN,
};

enum class DurabilityPolicy {
  Volatile = RMW_QOS_POLICY_DURABILITY_VOLATILE,
  TransientLocal = RMW_QOS_POLICY_DURABILITY_TRANSIENT_LOCAL,
  SystemDefault = RMW_QOS_POLICY_DURABILITY_SYSTEM_DEFAULT,
  Unknown = RMW_QOS_POLICY_DURABILITY_UNKNOWN,
};

struct RCLCPP_PUBLIC QoSInitialization {
  rmw_qos_history_policy_t history_policy;
  size_t depth;

  QoSInitialization(rmw_qos_history_policy_t history_policy_arg, size_t depth_arg);

  static QoSInitialization from_rmw(const rmw_qos_profile_t& rmw_qos);
};

struct RCLCPP_PUBLIC KeepAll : public rclcpp::QoSInitialization {
  KeepAll();
};

struct RCLCPP_PUBLIC KeepLast : public rclcpp::QoSInitialization {
  explicit KeepLast(size_t depth);
};

class RCLCPP_PUBLIC QoS {
 public:
  explicit QoS(const QoSInitialization& qos_initialization,
               const rmw_qos_profile_t& initial_profile = rmw_qos_profile_default);

  // Conversion constructor: QoS(10) is keep-last with depth 10.
  QoS(size_t history_depth);  // NOLINT(runtime/explicit)

  rmw_qos_profile_t& get_rmw_qos_profile();

  const rmw_qos_profile_t& get_rmw_qos_profile() const;

  QoS& history(rmw_qos_history_policy_t history);
  QoS& history(HistoryPolicy history);
  QoS& keep_last(size_t depth);
  QoS& keep_all();
  QoS& reliability(rmw_qos_reliability_policy_t reliability);
  QoS& reliability(ReliabilityPolicy reliability);
  QoS& reliable();
  QoS& best_effort();
  QoS& durability(rmw_qos_durability_policy_t durability);
  QoS& durability(DurabilityPolicy durability);
  QoS& durability_volatile();
  QoS& transient_local();

  HistoryPolicy history() const;
  size_t depth() const;
  ReliabilityPolicy reliability() const;
  DurabilityPolicy durability() const;

 private:
  rmw_qos_profile_t rmw_qos_profile_;
};

RCLCPP_PUBLIC
bool operator==(const QoS& left, const QoS& right);
RCLCPP_PUBLIC
bool operator!=(const QoS& left, const QoS& right);

}  // namespace rclcpp

#endif  // RCLCPP__QOS_HPP_
