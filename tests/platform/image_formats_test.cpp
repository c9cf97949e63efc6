// Every image format a texture is read from, in the variants found in the wild: the texels must be
// the values stored in the file. The small files in tests/data/images/ were made by make.sh there
// with ImageMagick from the text pictures beside them, which give the values expected here; PNG
// variants are built byte by byte below.
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include <zlib.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "tests/support/RecordingBackend.h"
#include "platform/d3dx/Texture.h"
#include "tests/support/Harness.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using d3d::Texture;

const std::string kImages = std::string(WG_SOURCE_DIR) + "/tests/data/images/";

Bytes ReadImageFile(const std::string& name) {
  return d3dx::ReadFile("test", kImages + name);
}

// RGBA8 texels, top row first.
struct Pixels {
  int width = 0, height = 0;
  std::vector<int> rgba;
  const int* at(int x, int y) const { return &rgba[(static_cast<std::size_t>(y) * width + x) * 4]; }
};

// A P1, P2 or P3 text picture; grey and bilevel pictures fill R, G and B alike (P1's 1 is black).
Pixels ReadPnm(const std::string& name) {
  std::ifstream in(kImages + name);
  std::string magic, line, text;
  in >> magic;
  while (std::getline(in, line)) text += line.substr(0, line.find('#')) + "\n";
  std::istringstream s(text);
  Pixels p;
  s >> p.width >> p.height;
  int maxValue = 1;
  if (magic != "P1") s >> maxValue;
  for (int i = 0; i < p.width * p.height; ++i) {
    int v[3];
    if (magic == "P3") {
      s >> v[0] >> v[1] >> v[2];
    } else {
      s >> v[0];
      if (magic == "P1") v[0] = v[0] ? 0 : 255;
      v[1] = v[2] = v[0];
    }
    p.rgba.insert(p.rgba.end(), {v[0], v[1], v[2], 255});
  }
  return p;
}

Pixels WithAlpha(Pixels colour, const std::string& alphaPgm) {
  const Pixels a = ReadPnm(alphaPgm);
  for (std::size_t i = 0; i < colour.rgba.size(); i += 4) colour.rgba[i + 3] = a.rgba[i];
  return colour;
}

Pixels Decode(const Bytes& b, const std::string& name = "pic") {
  const Texture::Level l = d3dx::DecodeImage(b.data(), b.size(), name).level;
  Pixels p{l.width, l.height, {}};
  p.rgba.assign(l.rgba.begin(), l.rgba.end());
  return p;
}

void ExpectTexels(const std::string& file, const Pixels& expected, int tolerance = 0) {
  SCOPED_TRACE(file);
  const Pixels got = Decode(ReadImageFile(file), file);
  ASSERT_EQ(got.width, expected.width);
  ASSERT_EQ(got.height, expected.height);
  for (int y = 0; y < got.height; ++y)
    for (int x = 0; x < got.width; ++x)
      for (int c = 0; c < 4; ++c)
        EXPECT_NEAR(got.at(x, y)[c], expected.at(x, y)[c], tolerance)
            << "texel " << x << "," << y << " channel " << c;
}

std::string Refusal(const Bytes& b, const std::string& name = "pic.img") {
  try {
    d3dx::DecodeImage(b.data(), b.size(), name);
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "decoded";
}

TEST(ImageFormats, EveryBmpVariantGivesTheStoredTexels) {
  const Pixels base = ReadPnm("base20.ppm");
  for (const char* f : {"rgb24.bmp", "topdown24.bmp", "pal8.bmp", "rle8.bmp"}) ExpectTexels(f, base);
  ExpectTexels("pal4.bmp", ReadPnm("base16.ppm"));
  ExpectTexels("mono.bmp", ReadPnm("mono.pbm"));
  ExpectTexels("rgb565.bmp", ReadPnm("corners.ppm"));
  ExpectTexels("argb32.bmp", WithAlpha(base, "alpha20.pgm"));
  const Bytes bmp = ReadImageFile("rgb24.bmp");
  EXPECT_EQ(d3dx::DecodeImage(bmp.data(), bmp.size(), "x").format, d3dx::ImageFormat::Bmp);
}

TEST(ImageFormats, EveryTgaVariantGivesTheStoredTexels) {
  const Pixels base = ReadPnm("base20.ppm");
  for (const char* f : {"rgb24.tga", "topdown24.tga", "rle24.tga", "pal8.tga", "rlepal8.tga", "id24.tga"})
    ExpectTexels(f, base);
  ExpectTexels("rgba32.tga", WithAlpha(base, "alpha20.pgm"));
  ExpectTexels("grey8.tga", ReadPnm("grey20.pgm"));
}

TEST(ImageFormats, DdsUncompressedAndDxt1Dxt3Dxt5GiveTheStoredTexels) {
  const Pixels blocks = ReadPnm("blocks.ppm");
  ExpectTexels("dxt1.dds", blocks);
  ExpectTexels("dxt3.dds", WithAlpha(blocks, "blocks-alpha.pgm"));
  ExpectTexels("dxt5.dds", WithAlpha(blocks, "blocks-alpha.pgm"));
  ExpectTexels("argb.dds", WithAlpha(ReadPnm("base20.ppm"), "alpha20.pgm"));
  // DXT1's three-colour blocks: blue, red, their mean, and transparent black.
  const Pixels a = Decode(ReadImageFile("dxt1alpha.dds"));
  const int row0[4][4] = {{0, 0, 255, 255}, {255, 0, 0, 255}, {127, 0, 127, 255}, {0, 0, 0, 0}};
  for (int x = 0; x < 4; ++x)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(a.at(x, 0)[c], row0[x][c], 1) << x << " " << c;
  for (int x = 0; x < 4; ++x) EXPECT_EQ(a.at(x, 3)[3], 0);
  EXPECT_EQ(a.at(5, 2)[1], 255);  // the other block is untouched cyan
  EXPECT_EQ(a.at(5, 2)[3], 255);
}

TEST(ImageFormats, JpegBaselineProgressiveAndGreyDecode) {
  const Pixels base = ReadPnm("base20.ppm");
  const Pixels baseline = Decode(ReadImageFile("baseline.jpg"));
  ASSERT_EQ(baseline.width, 5);
  double error = 0;
  for (std::size_t i = 0; i < base.rgba.size(); ++i) error += std::abs(baseline.rgba[i] - base.rgba[i]);
  EXPECT_LT(error / static_cast<double>(base.rgba.size()), 8.0);
  // The same coefficients sent in several scans decode to the same texels.
  EXPECT_EQ(Decode(ReadImageFile("progressive.jpg")).rgba, baseline.rgba);
  const Pixels grey = Decode(ReadImageFile("grey.jpg"));
  const Pixels stored = ReadPnm("grey20.pgm");
  for (std::size_t i = 0; i < grey.rgba.size(); i += 4) {
    EXPECT_EQ(grey.rgba[i], grey.rgba[i + 1]);
    EXPECT_EQ(grey.rgba[i], grey.rgba[i + 2]);
    EXPECT_EQ(grey.rgba[i + 3], 255);
    EXPECT_NEAR(grey.rgba[i], stored.rgba[i], 16);
  }
}

// ---------------------------------------------------------------------------------------------
// PNG, built chunk by chunk.

void Put32(Bytes& b, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void Chunk(Bytes& png, const char* type, const Bytes& data) {
  Put32(png, static_cast<std::uint32_t>(data.size()));
  Bytes body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  Put32(png, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

struct PngSpec {
  std::uint32_t width, height;
  int depth, colourType;
  std::vector<Bytes> rows;                            // packed samples of each row, without the filter byte
  std::vector<std::pair<const char*, Bytes>> chunks;  // before IDAT
  bool adam7 = false;                                 // 8- and 16-bit samples only
};

Bytes BuildPng(const PngSpec& s) {
  Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  Bytes ihdr;
  Put32(ihdr, s.width);
  Put32(ihdr, s.height);
  ihdr.insert(ihdr.end(), {static_cast<std::uint8_t>(s.depth), static_cast<std::uint8_t>(s.colourType), 0, 0,
                           static_cast<std::uint8_t>(s.adam7 ? 1 : 0)});
  Chunk(png, "IHDR", ihdr);
  for (const auto& [type, data] : s.chunks) Chunk(png, type, data);
  Bytes raw;
  if (!s.adam7) {
    for (const Bytes& r : s.rows) {
      raw.push_back(0);
      raw.insert(raw.end(), r.begin(), r.end());
    }
  } else {
    const std::size_t pixelBytes = s.rows[0].size() / s.width;
    const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, y0[7] = {0, 0, 4, 0, 2, 0, 1};
    const int dx[7] = {8, 8, 4, 4, 2, 2, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    for (int p = 0; p < 7; ++p) {
      if (static_cast<std::uint32_t>(x0[p]) >= s.width) continue;
      for (std::uint32_t y = static_cast<std::uint32_t>(y0[p]); y < s.height;
           y += static_cast<std::uint32_t>(dy[p])) {
        raw.push_back(0);
        for (std::uint32_t x = static_cast<std::uint32_t>(x0[p]); x < s.width;
             x += static_cast<std::uint32_t>(dx[p]))
          raw.insert(raw.end(), s.rows[y].begin() + static_cast<std::ptrdiff_t>(x * pixelBytes),
                     s.rows[y].begin() + static_cast<std::ptrdiff_t>((x + 1) * pixelBytes));
      }
    }
  }
  uLongf packed = compressBound(static_cast<uLong>(raw.size()));
  Bytes idat(packed);
  compress2(idat.data(), &packed, raw.data(), static_cast<uLong>(raw.size()), 6);
  idat.resize(packed);
  Chunk(png, "IDAT", idat);
  Chunk(png, "IEND", {});
  return png;
}

TEST(ImageFormats, PngTexelsAreTheStoredSamplesWhateverGammaAndColourChunksSay) {
  // PngSuite's basn2c08 case: a gAMA of 1/2.2 made the stored 90 come out as 159.
  Bytes gama, chrm, srgb{0};
  Put32(gama, 45455);
  for (std::uint32_t v : {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u}) Put32(chrm, v);
  const Bytes png =
      BuildPng({2, 1, 8, 2, {{90, 90, 90, 200, 10, 128}}, {{"gAMA", gama}, {"cHRM", chrm}, {"sRGB", srgb}}});
  const Pixels p = Decode(png);
  EXPECT_EQ(p.rgba, (std::vector<int>{90, 90, 90, 255, 200, 10, 128, 255}));
}

TEST(ImageFormats, SixteenBitPngSamplesRoundToEightBits) {
  // Every 16-bit value once, as grey: each texel is v x 255 / 65535 rounded to nearest.
  PngSpec s{256, 256, 16, 0, {}, {}};
  for (int y = 0; y < 256; ++y) {
    Bytes row;
    for (int x = 0; x < 256; ++x)
      row.insert(row.end(), {static_cast<std::uint8_t>(y), static_cast<std::uint8_t>(x)});
    s.rows.push_back(row);
  }
  const Pixels p = Decode(BuildPng(s));
  int wrong = 0;
  for (int v = 0; v < 65536; ++v) {
    const int expected = static_cast<int>(std::floor(v * 255.0 / 65535.0 + 0.5));
    const int* t = p.at(v % 256, v / 256);
    wrong += t[0] != expected || t[1] != expected || t[2] != expected || t[3] != 255;
  }
  EXPECT_EQ(wrong, 0);
  // RGBA at 16 bits, with a gAMA chunk that must not matter either.
  Bytes gama;
  Put32(gama, 100000);
  const Pixels rgba =
      Decode(BuildPng({2,
                       1,
                       16,
                       6,
                       {{0x80, 0x80, 0x00, 0x81, 0xFF, 0xFF, 0x7F, 0x7F, 0, 0x80, 0, 0, 0, 0, 0xFF, 0x7F}},
                       {{"gAMA", gama}}}));
  // 32896 and 32639 land exactly on 128 and 127; 129 is just past the half, 128 just short of it.
  EXPECT_EQ(rgba.rgba, (std::vector<int>{128, 1, 255, 127, 0, 0, 0, 255}));
}

TEST(ImageFormats, PngPalettesTransparencyAndSmallBitDepths) {
  // Palette of three with alpha for the first two.
  const Pixels pal = Decode(BuildPng(
      {3, 1, 8, 3, {{2, 0, 1}}, {{"PLTE", {10, 20, 30, 40, 50, 60, 70, 80, 90}}, {"tRNS", {0, 128}}}}));
  EXPECT_EQ(pal.rgba, (std::vector<int>{70, 80, 90, 255, 10, 20, 30, 0, 40, 50, 60, 128}));
  // Grey at 1, 2 and 4 bits stretches to 0..255; at 8 bits tRNS makes one grey transparent.
  EXPECT_EQ(Decode(BuildPng({2, 1, 1, 0, {{0x80}}, {}})).rgba,
            (std::vector<int>{255, 255, 255, 255, 0, 0, 0, 255}));
  EXPECT_EQ(Decode(BuildPng({2, 1, 2, 0, {{0x60}}, {}})).rgba,
            (std::vector<int>{85, 85, 85, 255, 170, 170, 170, 255}));
  EXPECT_EQ(Decode(BuildPng({2, 1, 4, 0, {{0x7F}}, {}})).rgba,
            (std::vector<int>{119, 119, 119, 255, 255, 255, 255, 255}));
  EXPECT_EQ(Decode(BuildPng({2, 1, 8, 0, {{9, 10}}, {{"tRNS", {0, 9}}}})).rgba,
            (std::vector<int>{9, 9, 9, 0, 10, 10, 10, 255}));
  EXPECT_EQ(Decode(BuildPng({2, 1, 8, 2, {{1, 2, 3, 1, 2, 4}}, {{"tRNS", {0, 1, 0, 2, 0, 3}}}})).rgba,
            (std::vector<int>{1, 2, 3, 0, 1, 2, 4, 255}));
  // Grey with alpha.
  EXPECT_EQ(Decode(BuildPng({1, 1, 8, 4, {{200, 7}}, {}})).rgba, (std::vector<int>{200, 200, 200, 7}));
}

TEST(ImageFormats, InterlacedPngGivesTheSameTexelsAsPlain) {
  ExpectTexels("interlaced.png", WithAlpha(ReadPnm("base20.ppm"), "alpha20.pgm"));
  // 13 x 11 of 16-bit RGBA: every pass has pixels, some only a few.
  PngSpec s{13, 11, 16, 6, {}, {}};
  for (std::uint32_t y = 0; y < s.height; ++y) {
    Bytes row;
    for (std::uint32_t x = 0; x < s.width; ++x)
      for (std::uint32_t c = 0; c < 4; ++c)
        row.insert(row.end(), {static_cast<std::uint8_t>(x * 19 + y * 7 + c * 50), 0x80});
    s.rows.push_back(row);
  }
  const Pixels plain = Decode(BuildPng(s));
  s.adam7 = true;
  EXPECT_EQ(Decode(BuildPng(s)).rgba, plain.rgba);
}

TEST(ImageFormats, TheFormatIsToldByContentAndOthersAreRefusedNamingTheFormatsRead) {
  // A PNG whose name says BMP is a PNG.
  const Bytes png = BuildPng({1, 1, 8, 2, {{1, 2, 3}}, {}});
  const d3dx::DecodedImage d = d3dx::DecodeImage(png.data(), png.size(), "photo.bmp");
  EXPECT_EQ(d.format, d3dx::ImageFormat::Png);
  const std::string m = Refusal(Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0});
  EXPECT_EQ(
      m,
      "D3DXCreateTextureFromFile: not an image in a format textures are read from (JPEG, PNG, BMP, TGA or "
      "DDS) (pic.img)");
  // A TGA header with a field out of its range is no TGA.
  Bytes tga = ReadImageFile("rgb24.tga");
  tga[16] = 12;
  EXPECT_NE(Refusal(tga).find("not an image in a format"), std::string::npos);
  // Broken files of each library's formats are refused naming the file.
  for (const char* f : {"rgb24.bmp", "rle24.tga", "dxt5.dds"}) {
    Bytes cut = ReadImageFile(f);
    cut.resize(cut.size() / 2);
    const std::string r = Refusal(cut, f);
    EXPECT_NE(r.find("D3DXCreateTextureFromFile: "), std::string::npos) << r;
    EXPECT_NE(r.find(std::string("(") + f + ")"), std::string::npos) << r;
  }
}

// ---------------------------------------------------------------------------------------------
// Large images.

Bytes GreyRampPng(std::uint32_t w, std::uint32_t h, bool adam7) {
  PngSpec s{w, h, 8, 0, {}, {}};
  for (std::uint32_t y = 0; y < h; ++y) {
    Bytes row(w);
    for (std::uint32_t x = 0; x < w; ++x) row[x] = static_cast<std::uint8_t>((x * 3 + y * 101) % 256);
    s.rows.push_back(row);
  }
  s.adam7 = adam7;
  return BuildPng(s);
}

int Ramp(int x, int y) {
  return (x * 3 + y * 101) % 256;
}

TEST(ImageReduction, PngsOverFourThousandPixelsAreHalvedUntilTheyFitAveragingBlocks) {
  for (bool adam7 : {false, true}) {
    SCOPED_TRACE(adam7 ? "interlaced" : "plain");
    // 8193 wide: halved twice, to 2049; the last column of texels covers one column of pixels.
    const Bytes png = GreyRampPng(8193, 5, adam7);
    const Pixels p = Decode(png);
    ASSERT_EQ(p.width, 2049);
    ASSERT_EQ(p.height, 2);
    auto mean = [](int x0, int x1, int y0, int y1) {
      int sum = 0, n = 0;
      for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += Ramp(x, y), ++n;
      return (sum + n / 2) / n;
    };
    EXPECT_EQ(p.at(0, 0)[0], mean(0, 4, 0, 4));
    EXPECT_EQ(p.at(1000, 0)[1], mean(4000, 4004, 0, 4));
    EXPECT_EQ(p.at(2048, 0)[2], mean(8192, 8193, 0, 4));
    EXPECT_EQ(p.at(7, 1)[0], mean(28, 32, 4, 5));  // the last row of texels covers one row
    EXPECT_EQ(p.at(2048, 1)[0], mean(8192, 8193, 4, 5));
    EXPECT_EQ(p.at(5, 1)[3], 255);
  }
  // 4096 on a side is kept whole.
  EXPECT_EQ(Decode(GreyRampPng(4096, 1, false)).width, 4096);
}

TEST(ImageReduction, JpegsAndLibraryFormatsAreHalvedToo) {
  // A JPEG scales while it decodes: 8200 x 16 becomes 2050 x 4.
  std::vector<std::uint8_t> rgb(8200 * 16 * 3, 200);
  Bytes jpg;
  stbi_write_jpg_to_func(
      [](void* ctx, void* data, int size) {
        auto* b = static_cast<Bytes*>(ctx);
        b->insert(b->end(), static_cast<std::uint8_t*>(data), static_cast<std::uint8_t*>(data) + size);
      },
      &jpg, 8200, 16, 3, rgb.data(), 90);
  const Pixels j = Decode(jpg);
  EXPECT_EQ(j.width, 2050);
  EXPECT_EQ(j.height, 4);
  EXPECT_NEAR(j.at(1000, 2)[0], 200, 2);
  // A BMP of 8192 x 2, decoded whole, then averaged: 4096 x 1.
  Bytes bmp{'B', 'M'};
  auto le32 = [&bmp](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bmp.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  };
  le32(54 + 8192 * 2 * 3), le32(0), le32(54), le32(40), le32(8192), le32(2);
  bmp.insert(bmp.end(), {1, 0, 24, 0}), le32(0), le32(8192 * 2 * 3), le32(2835), le32(2835), le32(0), le32(0);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8192; ++x)
      bmp.insert(bmp.end(), {static_cast<std::uint8_t>(x % 2 * 100), 0, static_cast<std::uint8_t>(y * 50)});
  const Pixels b = Decode(bmp);
  ASSERT_EQ(b.width, 4096);
  ASSERT_EQ(b.height, 1);
  EXPECT_EQ(b.at(9, 0)[0], 25);  // red: rows of 50 and 0, averaged
  EXPECT_EQ(b.at(9, 0)[2], 50);  // blue: 0 and 100 in each row
  // The mip chain starts from the reduced image.
  const auto levels = d3dx::DecodeImageWithMips(bmp.data(), bmp.size(), "wide.bmp");
  EXPECT_EQ(levels.front().width, 4096);
  EXPECT_EQ(levels.size(), 13u);
}

// The dimensions in a JPEG's frame header, changed: the data then holds far less than it claims.
Bytes ClaimSize(Bytes jpg, std::uint16_t w, std::uint16_t h) {
  for (std::size_t i = 2; i + 9 < jpg.size();) {
    const int marker = jpg[i + 1];
    if (marker == 0xC0 || marker == 0xC2) {
      jpg[i + 5] = static_cast<std::uint8_t>(h >> 8), jpg[i + 6] = static_cast<std::uint8_t>(h);
      jpg[i + 7] = static_cast<std::uint8_t>(w >> 8), jpg[i + 8] = static_cast<std::uint8_t>(w);
      return jpg;
    }
    i += 2 + static_cast<std::size_t>((jpg[i + 2] << 8) | jpg[i + 3]);
  }
  ADD_FAILURE() << "no frame header";
  return jpg;
}

TEST(ImageLimits, ImagesThatClaimMoreThanTheyHoldCostLittle) {
  // A baseline JPEG decodes what it holds, scaled; the rest is grey.
  const Pixels j = Decode(ClaimSize(ReadImageFile("baseline.jpg"), 9000, 9000));
  EXPECT_EQ(j.width, 2250);
  EXPECT_EQ(j.height, 2250);
  // A progressive one keeps every coefficient, so past its memory bound it is refused at once.
  EXPECT_EQ(
      Refusal(ClaimSize(ReadImageFile("progressive.jpg"), 16000, 16000)),
      "D3DXCreateTextureFromFile: cannot decode the image: its coefficients need more than the 320 MB a "
      "progressive image may take (pic.img)");
  // A PNG stops where its data does.
  Bytes png = GreyRampPng(16, 16, false);
  png[16] = 0, png[17] = 0, png[18] = 0x3E, png[19] = 0x80;  // width 16000
  png[20] = 0, png[21] = 0, png[22] = 0x3E, png[23] = 0x80;  // height 16000
  const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, png.data() + 12, 17));
  for (int i = 0; i < 4; ++i) png[29 + i] = static_cast<std::uint8_t>(crc >> (24 - 8 * i));
  EXPECT_EQ(Refusal(png),
            "D3DXCreateTextureFromFile: cannot decode the image: Not enough image data (pic.img)");
  // BMP, TGA and DDS are decoded whole, so their pixel count is bounded from the header.
  Bytes bmp = ReadImageFile("rgb24.bmp");
  bmp[18] = 0, bmp[19] = 0x20, bmp[20] = 0, bmp[21] = 0;  // 8192
  bmp[22] = 0, bmp[23] = 0x10, bmp[24] = 0, bmp[25] = 0;  // 4096
  EXPECT_EQ(
      Refusal(bmp),
      "D3DXCreateTextureFromFile: BMP image of 8192x4096 pixels exceeds 16777216 pixels, the most a BMP, TGA "
      "or DDS image may have (pic.img)");
}

TEST(ImageFiles, CreateTextureFromFileFindsTheFileAsWindowsWould) {
  const std::string dir = wgtest::ScratchDir("image-files");
  const Bytes png = BuildPng({1, 1, 8, 2, {{1, 2, 3}}, {}});
  std::ofstream(dir + "/Pic.PNG", std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  d3d::Device dev(std::make_unique<d3d::RecordingBackend>());
  const auto tex = d3dx::D3DXCreateTextureFromFile(dev, dir + "\\pic.png");
  ASSERT_TRUE(tex);
  try {
    d3dx::D3DXCreateTextureFromFile(dev, dir + "/other.png");
    ADD_FAILURE() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_EQ(std::string(e.what()), "D3DXCreateTextureFromFile: no file named \"other.png\" in " + dir +
                                         ", in any case (" + dir + "/other.png)");
  }
}

}  // namespace
