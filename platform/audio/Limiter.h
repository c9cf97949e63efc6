// A look-ahead peak limiter on interleaved stereo samples, the last stage of the output buffer: no
// sample leaves it above the ceiling, whatever tune plays. The gain comes down smoothly over the
// look-ahead before a peak arrives and recovers over the release time after it, so a tune that stays
// below the ceiling passes unchanged (delayed by the look-ahead).
#pragma once

#include <array>
#include <cstddef>

namespace audio {

class Limiter {
 public:
  // Frames the output lags the input by, less one: 64 frames, 1.5 ms at 44.1 kHz.
  static constexpr std::size_t kLookahead = 64;

  Limiter(float ceiling, int sampleRate, double releaseSeconds);

  // Limits `frames` frames in place.
  void Process(float* stereo, std::size_t frames);
  // Forgets the samples held back and the gain reduction: the next sample starts from silence.
  void Reset();

  float Ceiling() const { return ceiling_; }

 private:
  float ceiling_;
  float recovery_;  // the share of the gain's distance from 1 kept each frame while it recovers
  std::array<float, 2 * kLookahead> delay_{};
  std::array<float, kLookahead> needed_{};    // the gain each held frame needs to stay at the ceiling
  std::array<float, kLookahead> released_{};  // those gains with the slow recovery applied
  std::size_t at_ = 0;
  float gain_ = 1;
};

}  // namespace audio
