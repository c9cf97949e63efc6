// The terrain example, run headless as a user would: its last frame, pixel by pixel.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/support/Harness.h"

namespace {

TEST(TerrainExample, HeadlessFrameShowsSkyAllAroundAndShadedGround) {
  const std::string dir = wgtest::ScratchDir("terrain-example");
  const std::string png = dir + "/frame.png";
  const std::string cmd = wgtest::AppDir() + "/terrain-example --headless --frames 30 --screenshot " + png +
                          " >" + dir + "/log 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  int w = 0, h = 0, c = 0;
  unsigned char* px = stbi_load(png.c_str(), &w, &h, &c, 4);
  ASSERT_NE(px, nullptr);
  ASSERT_EQ(w, 1024);
  ASSERT_EQ(h, 768);
  auto at = [&](int x, int y) { return px + (static_cast<std::size_t>(y) * w + x) * 4; };

  // The sky box covers every direction: no pixel keeps the clear colour.
  int cleared = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = at(x, y);
      cleared += p[0] == 127 && p[1] == 127 && p[2] == 180;
    }
  EXPECT_LT(cleared, 20);

  // Overhead: blue sky.
  for (int x = 0; x < w; x += 64) {
    const unsigned char* p = at(x, 10);
    EXPECT_GT(p[2], p[0] + 20) << x;
  }
  // Below: textured ground whose light map spans lit and shaded slopes.
  int lo = 255, hi = 0;
  for (int y = 560; y < h; y += 4)
    for (int x = 0; x < w; x += 4) {
      const unsigned char* p = at(x, y);
      const int lum = (p[0] * 299 + p[1] * 587 + p[2] * 114) / 1000;
      lo = std::min(lo, lum);
      hi = std::max(hi, lum);
    }
  EXPECT_GT(hi - lo, 60) << lo << ".." << hi;
  stbi_image_free(px);
}

}  // namespace
