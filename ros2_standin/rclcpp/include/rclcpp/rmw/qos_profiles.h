// Stand-in: the default QoS profile of rmw/qos_profiles.h.
#ifndef RMW__QOS_PROFILES_H_
#define RMW__QOS_PROFILES_H_

#include "rmw/types.h"

#ifdef __cplusplus
extern "C" {
#endif

static const rmw_qos_profile_t rmw_qos_profile_default = {RMW_QOS_POLICY_HISTORY_KEEP_LAST,
                                                          10,
                                                          RMW_QOS_POLICY_RELIABILITY_RELIABLE,
                                                          RMW_QOS_POLICY_DURABILITY_VOLATILE,
                                                          RMW_QOS_DEADLINE_DEFAULT,
                                                          RMW_QOS_LIFESPAN_DEFAULT,
                                                          RMW_QOS_POLICY_LIVELINESS_SYSTEM_DEFAULT,
                                                          RMW_QOS_LIVELINESS_LEASE_DURATION_DEFAULT,
                                                          false};

#ifdef __cplusplus
}
#endif

#endif  // RMW__QOS_PROFILES_H_
