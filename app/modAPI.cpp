#include "app/modAPI.h"

#include <cmath>

namespace app {

void modAPI::FrameTimer(std::int16_t flag) noexcept {
  try {
    if (flag == -1) {
      PerfFrequency = counter_.QueryPerformanceFrequency();
      PerfStart = counter_.QueryPerformanceCounter();
    } else if (flag == 0) {
      PerfStop = counter_.QueryPerformanceCounter();
      std::int64_t diff = 0;
      // An overflowing difference abandons the computation: FrameTime keeps its value.
      if (__builtin_sub_overflow(PerfStop, PerfStart, &diff)) return;
      const double perMs = static_cast<double>(PerfFrequency) / 1000.0;
      const double t = static_cast<double>(diff) / perMs;
      // A zero or broken frequency gives no usable span; the callers need a finite, non-negative one.
      if (!std::isfinite(t) || t < 0.0) return;
      FrameTime = t;
    }
  } catch (...) {
  }
}

}  // namespace app
