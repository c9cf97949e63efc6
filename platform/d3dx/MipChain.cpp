#include "platform/d3dx/MipChain.h"

#include <algorithm>
#include <cstdint>

namespace d3dx {

d3d::Texture::Level Downsample(const d3d::Texture::Level& src) {
  d3d::Texture::Level dst;
  dst.width = std::max(1, src.width / 2);
  dst.height = std::max(1, src.height / 2);
  dst.rgba.resize(static_cast<std::size_t>(dst.width) * dst.height * 4);
  for (int y = 0; y < dst.height; ++y) {
    const int y0 = std::min(2 * y, src.height - 1), y1 = std::min(2 * y + 1, src.height - 1);
    for (int x = 0; x < dst.width; ++x) {
      const int x0 = std::min(2 * x, src.width - 1), x1 = std::min(2 * x + 1, src.width - 1);
      for (int c = 0; c < 4; ++c) {
        auto at = [&](int xx, int yy) {
          return static_cast<unsigned>(src.rgba[(static_cast<std::size_t>(yy) * src.width + xx) * 4 + c]);
        };
        dst.rgba[(static_cast<std::size_t>(y) * dst.width + x) * 4 + c] =
            static_cast<std::uint8_t>((at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1) + 2) / 4);
      }
    }
  }
  return dst;
}

void CompleteMipChain(std::vector<d3d::Texture::Level>& levels) {
  while (!levels.empty() && (levels.back().width > 1 || levels.back().height > 1))
    levels.push_back(Downsample(levels.back()));
}

}  // namespace d3dx
