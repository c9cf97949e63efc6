// The flake sprite: a soft white disc with a faint six-armed crystal in it. Its colour is white
// everywhere, even where it is transparent, so the smaller mip levels keep a white flake and only
// the alpha shrinks; the alpha reaches well out towards the edge so a flake of a few pixels still
// covers its whole point square softly.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/mediagen/mediagen.h"
#include "tools/mediagen/noise.h"

namespace mediagen {

void WriteSnowSprite(const std::string& out) {
  constexpr int kSize = 64;
  constexpr double kHalf = kSize / 2.0;
  Image img(kSize, kSize, 4);
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double dx = (x + 0.5 - kHalf) / kHalf, dy = (y + 0.5 - kHalf) / kHalf;
      const double r = std::sqrt(dx * dx + dy * dy);
      double alpha = 0;
      if (r < 1.0) {
        const double disc = (1 - r * r) * (1 - r * r);
        // Six arms: the distance to the nearest of three lines through the centre, 60 degrees apart.
        double perp = 1e9;
        for (int k = 0; k < 3; ++k) {
          const double t = k * std::numbers::pi / 3 + std::numbers::pi / 2;
          perp = std::min(perp, std::abs(dx * std::sin(t) - dy * std::cos(t)));
        }
        const double arms = std::exp(-(perp / 0.07) * (perp / 0.07)) * (1 - r);
        alpha = std::clamp(std::max(disc, 0.9 * arms), 0.0, 1.0);
      }
      auto* p = img.at(x, y);
      p[0] = p[1] = p[2] = 255;
      p[3] = static_cast<std::uint8_t>(std::nearbyint(alpha * 255));
    }
  }
  MakeFolder(out + "/tex");
  WritePngImage(out + "/tex/snow.png", img);
}

}  // namespace mediagen
