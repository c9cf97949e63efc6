// The ground's snow: fine sparkling grain over soft, broad blue-grey shadows. It repeats every 20
// world units on the ground, so it must tile without seams and without a pattern the eye picks up.
#include <algorithm>
#include <cmath>

#include "tools/mediagen/mediagen.h"
#include "tools/mediagen/noise.h"

namespace mediagen {

void WriteSnowTexture(const std::string& out) {
  constexpr int kSize = 256;
  Image img(kSize, kSize, 3);
  Rng rng(0x5A0F1A4Eull);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double u = static_cast<double>(x) / kSize, v = static_cast<double>(y) / kSize;
      // Drifts: broad, soft undulation whose hollows take a blue shadow.
      const double drift = TileFbm(u * 4, v * 4, 4, 4, 0.5, 11);
      // Grain: fine noise at nearly pixel scale.
      const double grain = TileFbm(u * 64, v * 64, 64, 2, 0.5, 23);
      const double shade = std::clamp((drift - 0.35) * 1.6, 0.0, 1.0);  // 0 in hollows, 1 on crests
      double r = 0.80 + 0.16 * shade, g = 0.84 + 0.13 * shade, b = 0.95 + 0.05 * shade;
      const double fine = (grain - 0.5) * 0.10;
      r += fine;
      g += fine;
      b += fine * 0.6;
      // Sparkles: a few single bright crystals.
      if (rng.Uniform() < 0.004) r = g = b = 1.0;
      auto* p = img.at(x, y);
      p[0] = static_cast<std::uint8_t>(std::clamp(r, 0.0, 1.0) * 255 + 0.5);
      p[1] = static_cast<std::uint8_t>(std::clamp(g, 0.0, 1.0) * 255 + 0.5);
      p[2] = static_cast<std::uint8_t>(std::clamp(b, 0.0, 1.0) * 255 + 0.5);
    }
  }
  MakeFolder(out + "/tex");
  WriteJpeg(out + "/tex/snow.jpg", img, 92);
}

}  // namespace mediagen
