// Deterministic noise for the generated textures: tileable value noise and its fractal sum.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace mediagen {

// A small fixed-seed generator, so every build writes the same bytes.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

 private:
  std::uint64_t s_;
};

// Value noise in 0..1 on a lattice of `period` cells that wraps, so the pattern tiles.
double TileNoise(double x, double y, int period, std::uint32_t seed);
// Sum of `octaves` octaves of TileNoise, each twice the frequency and `gain` times the amplitude,
// normalised to 0..1. Tiles with the base period.
double TileFbm(double x, double y, int period, int octaves, double gain, std::uint32_t seed);

// An RGB or RGBA image being built.
struct Image {
  int width = 0, height = 0, channels = 3;
  std::vector<std::uint8_t> pixels;
  Image(int w, int h, int c) : width(w), height(h), channels(c), pixels(static_cast<std::size_t>(w) * h * c) {}
  std::uint8_t* at(int x, int y) { return &pixels[(static_cast<std::size_t>(y) * width + x) * channels]; }
};

void WriteJpeg(const std::string& path, const Image& img, int quality);
void WritePngImage(const std::string& path, const Image& img);

}  // namespace mediagen
