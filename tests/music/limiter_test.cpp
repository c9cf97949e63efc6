// The limiter on the output buffer: what stays below the ceiling passes untouched, a peak above it
// comes out exactly at the ceiling with the gain brought down smoothly, and a stop drops what it holds.
#include "platform/audio/Limiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kRate = 44100;
constexpr std::size_t kLag = audio::Limiter::kLookahead - 1;

std::vector<float> Stereo(std::size_t frames, float value = 0) {
  return std::vector<float>(frames * 2, value);
}

TEST(Limiter, QuietSoundPassesUnchangedOneLookaheadLater) {
  audio::Limiter limiter(0.891f, kRate, 0.05);
  std::vector<float> s = Stereo(2000);
  for (std::size_t i = 0; i < 2000; ++i) {
    s[2 * i] = 0.8f * static_cast<float>(std::sin(i * 0.05));
    s[2 * i + 1] = -0.5f * static_cast<float>(std::cos(i * 0.03));
  }
  const std::vector<float> in = s;
  // Processed in uneven blocks, as the audio device asks for them.
  limiter.Process(s.data(), 7);
  limiter.Process(s.data() + 14, 1000);
  limiter.Process(s.data() + 2014, 993);
  for (std::size_t i = 0; i < 2 * kLag; ++i) EXPECT_EQ(s[i], 0.0f) << i;
  for (std::size_t i = 2 * kLag; i < s.size(); ++i) ASSERT_EQ(s[i], in[i - 2 * kLag]) << i;
}

TEST(Limiter, ALoudPeakLeavesAtTheCeilingWithTheGainRampedAroundIt) {
  const float ceiling = 0.891f;
  audio::Limiter limiter(ceiling, kRate, 0.05);
  std::vector<float> s = Stereo(kRate, 0.5f);  // a steady half-scale signal, one second
  s[2 * 1000 + 1] = -4.0f;                     // one sample 13 dB past the ceiling, right channel
  limiter.Process(s.data(), kRate);
  const std::size_t at = 1000 + kLag;
  EXPECT_FLOAT_EQ(s[2 * at + 1], -ceiling);
  float peak = 0;
  for (float v : s) peak = std::max(peak, std::fabs(v));
  EXPECT_LE(peak, ceiling);
  // Both channels share the gain; it comes down over the look-ahead, step by step, no jump.
  EXPECT_FLOAT_EQ(s[2 * (at - kLag - 1)], 0.5f);
  for (std::size_t i = at - kLag; i < at; ++i) {
    EXPECT_LT(s[2 * i], s[2 * (i - 1)]) << i;
    EXPECT_GT(s[2 * i], s[2 * (i - 1)] - 0.5f * (1 - ceiling / 4.0f) / 32) << i;
  }
  EXPECT_NEAR(s[2 * at], 0.5f * ceiling / 4.0f, 1e-6);
  // Released with a 50 ms time constant: still low 10 ms later, itself again half a second later.
  EXPECT_LT(s[2 * (at + kRate / 100)], 0.5f * 0.9f);
  EXPECT_NEAR(s[2 * (at + kRate / 2)], 0.5f, 1e-3);
}

TEST(Limiter, ResetDropsWhatIsHeldBackAndTheGainReduction) {
  audio::Limiter limiter(0.891f, kRate, 0.05);
  std::vector<float> s = Stereo(10, 3.0f);
  limiter.Process(s.data(), 10);
  limiter.Reset();
  std::vector<float> after = Stereo(200, 0.25f);
  limiter.Process(after.data(), 200);
  for (std::size_t i = 0; i < 2 * kLag; ++i) EXPECT_EQ(after[i], 0.0f) << i;
  for (std::size_t i = 2 * kLag; i < after.size(); ++i) EXPECT_EQ(after[i], 0.25f) << i;
}

}  // namespace
