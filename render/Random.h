// The process-wide uniform generator: values in [0, 1), always the same sequence, since the program
// never seeds it (the constant below is its only seed).
#pragma once

#include <cstdint>

namespace render {

class Random {
 public:
  static constexpr std::uint64_t kSeed = 0x2007'0101'5EEDull;

  // The next value in [0, 1), with 53 random bits.
  double Rnd() {
    // splitmix64: small, fast, and the same on every platform.
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) * 0x1.0p-53;
  }

 private:
  std::uint64_t state_ = kSeed;
};

}  // namespace render
