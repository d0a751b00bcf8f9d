// Stand-in: the allocator type that rclcpp::NodeOptions takes.
#ifndef RCL__ALLOCATOR_H_
#define RCL__ALLOCATOR_H_

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct rcutils_allocator_s {
  void* (*allocate)(size_t size, void* state);
  void (*deallocate)(void* pointer, void* state);
  void* (*reallocate)(void* pointer, size_t size, void* state);
  void* (*zero_allocate)(size_t number_of_elements, size_t size_of_element, void* state);
  void* state;
} rcutils_allocator_t;

typedef rcutils_allocator_t rcl_allocator_t;

rcutils_allocator_t rcutils_get_default_allocator(void);
#define rcl_get_default_allocator rcutils_get_default_allocator

#ifdef __cplusplus
}
#endif

#endif  // RCL__ALLOCATOR_H_
