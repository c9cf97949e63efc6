#include "tools/mediagen/noise.h"

#include <stb_image_write.h>

#include <cmath>
#include <stdexcept>

namespace mediagen {

namespace {

double lattice(int x, int y, int period, std::uint32_t seed) {
  x = ((x % period) + period) % period;
  y = ((y % period) + period) % period;
  std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u +
                    seed * 2246822519u;
  h = (h ^ (h >> 13)) * 1274126177u;
  h ^= h >> 16;
  return static_cast<double>(h & 0xFFFFFF) / static_cast<double>(0xFFFFFF);
}

double smooth(double t) { return t * t * t * (t * (t * 6 - 15) + 10); }

}  // namespace

double TileNoise(double x, double y, int period, std::uint32_t seed) {
  const double fx = std::floor(x), fy = std::floor(y);
  const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
  const double tx = smooth(x - fx), ty = smooth(y - fy);
  const double a = lattice(ix, iy, period, seed), b = lattice(ix + 1, iy, period, seed);
  const double c = lattice(ix, iy + 1, period, seed), d = lattice(ix + 1, iy + 1, period, seed);
  return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

double TileFbm(double x, double y, int period, int octaves, double gain, std::uint32_t seed) {
  double sum = 0, amp = 1, norm = 0;
  for (int o = 0; o < octaves; ++o) {
    sum += amp * TileNoise(x, y, period, seed + static_cast<std::uint32_t>(o) * 101u);
    norm += amp;
    amp *= gain;
    x *= 2;
    y *= 2;
    period *= 2;
  }
  return sum / norm;
}

void WriteJpeg(const std::string& path, const Image& img, int quality) {
  if (!stbi_write_jpg(path.c_str(), img.width, img.height, img.channels, img.pixels.data(), quality))
    throw std::runtime_error("cannot write " + path);
}

void WritePngImage(const std::string& path, const Image& img) {
  if (!stbi_write_png(path.c_str(), img.width, img.height, img.channels, img.pixels.data(), img.width * img.channels))
    throw std::runtime_error("cannot write " + path);
}

}  // namespace mediagen
