// The high-resolution performance counter behind the frame stopwatch: a count and a count rate.
#pragma once

#include <cstdint>

namespace platform {

class PerformanceCounter {
 public:
  virtual ~PerformanceCounter() = default;
  virtual std::int64_t QueryPerformanceFrequency() = 0;
  virtual std::int64_t QueryPerformanceCounter() = 0;
};

// SDL's monotonic high-resolution counter.
class SdlPerformanceCounter : public PerformanceCounter {
 public:
  std::int64_t QueryPerformanceFrequency() override;
  std::int64_t QueryPerformanceCounter() override;
};

// A counter that moves only when told to: tests and deterministic headless runs.
class VirtualPerformanceCounter : public PerformanceCounter {
 public:
  explicit VirtualPerformanceCounter(std::int64_t frequency = 10'000'000) : frequency_(frequency) {}
  std::int64_t QueryPerformanceFrequency() override { return frequency_; }
  std::int64_t QueryPerformanceCounter() override { return count_; }
  void Advance(std::int64_t counts) { count_ += counts; }
  void Set(std::int64_t count) { count_ = count; }
  void SetFrequency(std::int64_t frequency) { frequency_ = frequency; }

 private:
  std::int64_t frequency_;
  std::int64_t count_ = 0;
};

}  // namespace platform
