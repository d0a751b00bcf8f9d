// Stand-in for rmw/serialized_message.h: a message in the middleware's wire
// form, held as rcutils declares its byte array.
#ifndef RMW__SERIALIZED_MESSAGE_H_
#define RMW__SERIALIZED_MESSAGE_H_

#include <stddef.h>
#include <stdint.h>

#include "rcl/allocator.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rcutils_uint8_array_s {
  uint8_t* buffer;
  size_t buffer_length;
  size_t buffer_capacity;
  rcutils_allocator_t allocator;
} rcutils_uint8_array_t;

typedef rcutils_uint8_array_t rmw_serialized_message_t;
typedef rmw_serialized_message_t rcl_serialized_message_t;

#ifdef __cplusplus
}
#endif

#endif  // RMW__SERIALIZED_MESSAGE_H_
