// Texture files: JPEG and PNG decoded with their whole mip chain, everything else refused with the
// file named, and images too large refused before any pixel is decoded.
#include "platform/d3dx/Texture.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include <string>
#include <vector>

#include "platform/d3d/Error.h"
#include "tests/support/Harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes EncodePng(int w, int h, const Bytes& rgba) {
  Bytes out;
  stbi_write_png_to_func(
      [](void* ctx, void* data, int size) {
        auto* b = static_cast<Bytes*>(ctx);
        b->insert(b->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
      },
      &out, w, h, 4, rgba.data(), w * 4);
  return out;
}

std::string Refusal(const Bytes& b) {
  try {
    d3dx::DecodeImageWithMips(b.data(), b.size(), "pic.img");
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "accepted";
}

TEST(Texture, APngDecodesWithEveryMipLevelDownToOnePixel) {
  // 3 x 2: red, green, blue over white, white, black.
  const Bytes rgba{255, 0,   0,   255, 0,   255, 0,   255, 0, 0, 255, 255,
                   255, 255, 255, 255, 255, 255, 255, 255, 0, 0, 0,   255};
  const Bytes png = EncodePng(3, 2, rgba);
  const auto levels = d3dx::DecodeImageWithMips(png.data(), png.size(), "pic.png");
  ASSERT_EQ(levels.size(), 2u);  // each side halved, rounded down, as Direct3D's chain: 3 x 2, 1 x 1
  EXPECT_EQ(levels[0].width, 3);
  EXPECT_EQ(levels[0].height, 2);
  EXPECT_EQ(levels[0].rgba, rgba);
  EXPECT_EQ(levels.back().width, 1);
  EXPECT_EQ(levels.back().height, 1);
}

TEST(Texture, TheGeneratedJpegGroundDecodes) {
  const Bytes jpg = d3dx::ReadFile("test", wgtest::AppDir() + "/tex/snow.jpg");
  const auto levels = d3dx::DecodeImageWithMips(jpg.data(), jpg.size(), "snow.jpg");
  ASSERT_FALSE(levels.empty());
  EXPECT_GE(levels[0].width, 256);
  EXPECT_EQ(levels.back().width, 1);
}

TEST(Texture, OtherFormatsAndBrokenFilesAreRefusedNamingTheFile) {
  // An uncompressed TGA, which the decoder itself would take.
  Bytes tga(18, 0);
  tga[2] = 2, tga[12] = 2, tga[14] = 2, tga[16] = 24;
  tga.resize(18 + 2 * 2 * 3, 0x80);
  Bytes png = EncodePng(2, 2, Bytes(16, 200));
  const Bytes truncated(png.begin(), png.begin() + 20);
  for (const Bytes& b : {Bytes{}, tga, Bytes{'B', 'M', 0, 0, 0, 0}, truncated}) {
    const std::string m = Refusal(b);
    EXPECT_NE(m.find("D3DXCreateTextureFromFile: "), std::string::npos) << m;
    EXPECT_NE(m.find("(pic.img)"), std::string::npos) << m;
  }
  EXPECT_NE(Refusal(tga).find("not a JPEG or PNG image"), std::string::npos);
}

TEST(Texture, ImagesOverSixteenThousandPixelsOnASideAreRefusedFromTheirHeader) {
  // A PNG whose header says 16385 x 1: refused before a pixel is decoded, whatever follows.
  Bytes png = EncodePng(1, 1, Bytes{1, 2, 3, 255});
  // The width is the first field of the IHDR chunk, at byte 16.
  png[16] = 0, png[17] = 0, png[18] = 0x40, png[19] = 0x01;
  const std::string m = Refusal(png);
  EXPECT_NE(m.find("16385x1 pixels exceeds 16384 on a side"), std::string::npos) << m;
  png[18] = 0x40, png[19] = 0x00;  // 16384: the largest side allowed gets past the header check
  EXPECT_EQ(Refusal(png).find("exceeds"), std::string::npos);
}

}  // namespace
