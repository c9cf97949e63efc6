// Texture files decoded with their whole mip chain, everything else refused with the file named, and
// images too large refused before any pixel is decoded.
#include "platform/d3dx/Texture.h"

#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/Error.h"
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
  // A GIF, which no decoder here reads.
  const Bytes gif{'G', 'I', 'F', '8', '9', 'a', 2, 0, 2, 0, 0x80, 0, 0};
  Bytes png = EncodePng(2, 2, Bytes(16, 200));
  const Bytes truncated(png.begin(), png.begin() + 20);
  for (const Bytes& b : {Bytes{}, gif, Bytes{'B', 'M', 0, 0, 0, 0}, truncated}) {
    const std::string m = Refusal(b);
    EXPECT_NE(m.find("D3DXCreateTextureFromFile: "), std::string::npos) << m;
    EXPECT_NE(m.find("(pic.img)"), std::string::npos) << m;
  }
  EXPECT_NE(Refusal(gif).find("not an image in a format textures are read from (JPEG, PNG, BMP, TGA or DDS)"),
            std::string::npos);
}

TEST(Texture, ImagesOverSixteenThousandPixelsOnASideAreRefusedFromTheirHeader) {
  // A PNG whose header says 16385 x 1: refused before a pixel is decoded, whatever follows.
  Bytes png = EncodePng(1, 1, Bytes{1, 2, 3, 255});
  const auto setWidth = [&](std::uint32_t w) {
    // The width is the first field of the IHDR chunk, at byte 16; the chunk's CRC follows its data.
    for (int i = 0; i < 4; ++i) png[16 + i] = static_cast<std::uint8_t>(w >> (24 - 8 * i));
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17));
    for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  };
  setWidth(16385);
  const std::string m = Refusal(png);
  EXPECT_NE(m.find("16385x1 pixels exceeds 16384 on a side"), std::string::npos) << m;
  setWidth(16384);  // the largest side allowed gets past the header check
  EXPECT_EQ(Refusal(png).find("exceeds"), std::string::npos);
}

TEST(Texture, APngWithBrokenImageDataIsRefused) {
  // 208 bytes, found by the fuzzer: a 3 x 5 PNG whose image data drove a decoder's inflate buffer to
  // a 2 GiB allocation.
  const Bytes png{
      0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44, 0x52,
      0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x05, 0x08, 0x06, 0x00, 0x00, 0x00, 0x80, 0x71, 0x56,
      0xa2, 0x00, 0x00, 0x00, 0x31, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x15, 0xc7, 0x31, 0x01, 0x00,
      0x30, 0x08, 0x03, 0xc1, 0xc8, 0xa9, 0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00,
      0x00, 0x0d, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x05, 0x08, 0x06,
      0x00, 0x00, 0x00, 0x80, 0x71, 0x56, 0xa2, 0x00, 0x00, 0x00, 0x08, 0x44, 0x44, 0x0e, 0x63, 0x45,
      0x21, 0x31, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x15, 0xc7, 0x31, 0x01, 0x00, 0x30, 0x02, 0x39,
      0x95, 0xd0, 0xcf, 0x70, 0xc3, 0x49, 0xba, 0x7b, 0x60, 0x48, 0x45, 0xe0, 0x4a, 0x9a, 0xc0, 0x9d,
      0x0c, 0x81, 0x27, 0x79, 0x04, 0xc6, 0x07, 0x31, 0xc6, 0x1c, 0x99, 0x32, 0x7d, 0xab, 0x18, 0x00,
      0x00, 0x00, 0x00, 0x49, 0x08, 0x03, 0xc1, 0xc8, 0xa9, 0x08, 0x44, 0x44, 0x0e, 0x63, 0x45, 0x21,
      0x02, 0x39, 0x95, 0xd0, 0xcf, 0x70, 0xc3, 0x49, 0xba, 0x7b, 0x60, 0x48, 0x45, 0xe0, 0x4a, 0x9a,
      0xc0, 0x9d, 0x0c, 0x81, 0x27, 0x79, 0x04, 0xc6, 0x07, 0x31, 0xc6, 0x1c, 0x99, 0x32, 0x7d, 0xab,
      0x18, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0x45, 0x4e, 0x44, 0x60, 0x60, 0x82, 0x82,
  };
  const std::string m = Refusal(png);
  EXPECT_NE(m.find("cannot decode the image: IDAT: "), std::string::npos) << m;
}

TEST(Texture, AJpegHuffmanTableNamingMoreThan256SymbolsIsRefused) {
  // Such a table, built unchecked, writes past the end of its arrays.
  Bytes jpg = d3dx::ReadFile("test", wgtest::AppDir() + "/tex/snow.jpg");
  std::size_t dht = 0;
  for (std::size_t i = 2; i + 1 < jpg.size() && !dht; ++i)
    if (jpg[i] == 0xFF && jpg[i + 1] == 0xC4) dht = i;
  ASSERT_NE(dht, 0u);
  // Marker, length, class and index, then the sixteen counts: 16 x 17 = 272 symbols.
  for (std::size_t i = 0; i < 16; ++i) jpg[dht + 5 + i] = 17;
  const std::string m = Refusal(jpg);
  EXPECT_NE(m.find("not a readable JPEG image: Bogus Huffman table definition (pic.img)"), std::string::npos)
      << m;
}

}  // namespace

namespace {

TEST(Texture, EverySeedOfTheImageFuzzCorpusDecodesButTheBrokenOne) {
  int seeds = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(WG_SOURCE_DIR) + "/fuzz/corpus/image")) {
    SCOPED_TRACE(entry.path().string());
    const Bytes b = d3dx::ReadFile("test", entry.path().string());
    if (entry.path().filename() == "truncated.png") {
      EXPECT_NE(Refusal(b), "accepted");
      continue;
    }
    const auto levels = d3dx::DecodeImageWithMips(b.data(), b.size(), entry.path().string());
    EXPECT_LE(levels.front().width, d3dx::kMaxTextureSide);
    ++seeds;
  }
  EXPECT_GE(seeds, 20);
}

}  // namespace
