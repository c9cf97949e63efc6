#include "platform/window/IntervalTimer.h"

#include <cmath>

namespace platform {

IntervalTimer::IntervalTimer(PerformanceCounter& counter, std::int64_t intervalMs)
    : counter_(counter), intervalMs_(intervalMs > 0 ? intervalMs : 1) {
  dueMs_ = nowMs() + static_cast<double>(intervalMs_);
}

double IntervalTimer::nowMs() {
  const std::int64_t f = counter_.QueryPerformanceFrequency();
  if (f <= 0) return 0.0;
  return static_cast<double>(counter_.QueryPerformanceCounter()) * 1000.0 / static_cast<double>(f);
}

bool IntervalTimer::Poll() {
  const double now = nowMs();
  if (now < dueMs_) return false;
  // Skip every boundary already passed: the missed ticks merge into this one.
  const double missed = std::floor((now - dueMs_) / static_cast<double>(intervalMs_));
  dueMs_ += (missed + 1.0) * static_cast<double>(intervalMs_);
  return true;
}

}  // namespace platform
