// The window's timer control: it falls due every `interval` milliseconds of the counter, and like a
// window-system timer its ticks coalesce: however many intervals have passed, a pump delivers at most
// one tick.
#pragma once

#include <cstdint>

#include "platform/window/PerformanceCounter.h"

namespace platform {

class IntervalTimer {
 public:
  IntervalTimer(PerformanceCounter& counter, std::int64_t intervalMs);

  // True when a tick is pending; the pending tick is consumed, and the next one falls due at the
  // first interval boundary after now.
  bool Poll();
  std::int64_t IntervalMs() const { return intervalMs_; }

 private:
  double nowMs();
  PerformanceCounter& counter_;
  std::int64_t intervalMs_;
  double dueMs_;
};

}  // namespace platform
