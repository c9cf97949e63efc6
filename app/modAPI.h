// The frame stopwatch on the performance counter.
#pragma once

#include <cstdint>

#include "platform/window/PerformanceCounter.h"
#include "render/FrameStopwatch.h"

namespace app {

class modAPI final : public render::FrameStopwatch {
 public:
  explicit modAPI(platform::PerformanceCounter& counter) : counter_(counter) {}

  // -1 starts, 0 stops and leaves the span in FrameTime; any other flag does nothing. No error ever
  // leaves it.
  void FrameTimer(std::int16_t flag) noexcept override;

  std::int64_t PerfFrequency = 0;
  std::int64_t PerfStart = 0;
  std::int64_t PerfStop = 0;

 private:
  platform::PerformanceCounter& counter_;
};

}  // namespace app
