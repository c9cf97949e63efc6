// The frame's stopwatch as the rendering core sees it. RenderFrame starts it first and stops it
// last; the span it leaves is the time the next frame's orbit and snow step by. The application shell
// owns the real one, on the performance counter.
#pragma once

#include <cstdint>

namespace render {

class FrameStopwatch {
 public:
  // -1 starts, 0 stops and leaves the span in FrameTime; any other flag does nothing. No error ever
  // leaves it.
  virtual void FrameTimer(std::int16_t flag) noexcept = 0;

  double FrameTime = 0.0;  // milliseconds between the last start and the last stop

 protected:
  FrameStopwatch() = default;
  FrameStopwatch(const FrameStopwatch&) = default;
  FrameStopwatch& operator=(const FrameStopwatch&) = default;
  ~FrameStopwatch() = default;
};

}  // namespace render
