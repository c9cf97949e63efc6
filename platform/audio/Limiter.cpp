#include "platform/audio/Limiter.h"

#include <algorithm>
#include <cmath>

namespace audio {

Limiter::Limiter(float ceiling, int sampleRate, double releaseSeconds)
    : ceiling_(ceiling), recovery_(static_cast<float>(std::exp(-1.0 / (releaseSeconds * sampleRate)))) {
  Reset();
}

void Limiter::Reset() {
  delay_.fill(0);
  needed_.fill(1);
  released_.fill(1);
  at_ = 0;
  gain_ = 1;
}

// Frame t leaves as frame t - (kLookahead - 1) times the mean of the released gains of the last
// kLookahead frames. Each of those gains is at most the smallest gain needed in the kLookahead frames
// before it, and every one of those windows holds the leaving frame; so the mean never exceeds the
// gain the leaving frame needs, and its samples never exceed the ceiling.
void Limiter::Process(float* stereo, std::size_t frames) {
  for (std::size_t i = 0; i < frames; ++i) {
    float* s = stereo + 2 * i;
    const float peak = std::max(std::fabs(s[0]), std::fabs(s[1]));
    needed_[at_] = peak > ceiling_ ? ceiling_ / peak : 1.0f;
    const float windowMin = *std::min_element(needed_.begin(), needed_.end());
    gain_ = std::min(windowMin, 1.0f - (1.0f - gain_) * recovery_);
    released_[at_] = gain_;
    double sum = 0;
    for (float g : released_) sum += g;
    const auto mean = static_cast<float>(sum / kLookahead);

    const std::size_t next = (at_ + 1) % kLookahead;  // the oldest frame held, leaving now
    const float left = delay_[2 * next], right = delay_[2 * next + 1];
    delay_[2 * at_] = s[0];
    delay_[2 * at_ + 1] = s[1];
    // The clamp only catches the last bit of rounding in the mean.
    s[0] = std::clamp(left * mean, -ceiling_, ceiling_);
    s[1] = std::clamp(right * mean, -ceiling_, ceiling_);
    at_ = next;
  }
}

}  // namespace audio
