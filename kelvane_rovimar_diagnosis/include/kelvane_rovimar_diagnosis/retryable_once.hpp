// Once-only work that may fail by throwing.
#ifndef KELVANE_ROVIMAR_DIAGNOSIS__RETRYABLE_ONCE_HPP_
#define KELVANE_ROVIMAR_DIAGNOSIS__RETRYABLE_ONCE_HPP_

#include <atomic>
#include <mutex>

namespace kelvane_rovimar_diagnosis {

/// Runs a step at most once to completion. Concurrent callers wait for the one
/// running it; a step that throws counts as not run, and the next caller runs
/// it again. Unlike std::call_once, a throwing step is handled the same under
/// every threading runtime (sanitizers included).
class RetryableOnce {
 public:
  template <typename Step>
  void run(Step&& step) {
    if (done_.load(std::memory_order_acquire)) {
      return;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (done_.load(std::memory_order_relaxed)) {
      return;
    }
    step();
    done_.store(true, std::memory_order_release);
  }

 private:
  std::mutex mutex_;
  std::atomic<bool> done_{false};
};

}  // namespace kelvane_rovimar_diagnosis

#endif  // KELVANE_ROVIMAR_DIAGNOSIS__RETRYABLE_ONCE_HPP_
