// The terrain's height-map formats: each TGA variant and greyscale PNG gives the grid its samples
// describe, everything else is refused naming the file and what it is, and a refused load changes
// nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "components/LandScape.h"
#include "platform/base/Error.h"
#include "tests/support/RecordingBackend.h"
#include "tests/components/HeightMapFiles.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using components::LandScape;
using components::LandVertex;
using wgtest::TgaHeader;

constexpr int kW = 5, kH = 3;
// 5 x 3 samples in stored order, with runs that cross from one row into the next.
const std::vector<std::uint8_t> kSamples{9, 9, 9, 9, 200, 200, 200, 200, 7, 1, 2, 3, 3, 3, 255};

std::string Dir() {
  static const std::string dir = wgtest::ScratchDir("heightmap-" + std::to_string(getpid()));
  return dir;
}

std::string Tga(const std::string& name, TgaHeader h, const std::vector<std::uint8_t>& between,
                const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> bytes = h.Bytes();
  bytes.insert(bytes.end(), between.begin(), between.end());
  bytes.insert(bytes.end(), data.begin(), data.end());
  return wgtest::WriteBytes(Dir() + "/" + name, bytes);
}

TgaHeader Grey(std::uint8_t type = 3) {
  TgaHeader h;
  h.type = type;
  h.width = kW;
  h.height = kH;
  return h;
}

// The samples of a PNG picture, top row first, that a bottom-up TGA stores as kSamples.
std::vector<std::uint16_t> PictureRows(const std::vector<std::uint8_t>& stored, int w, int h, int scale = 1) {
  std::vector<std::uint16_t> rows;
  for (int y = h - 1; y >= 0; --y)
    for (int x = 0; x < w; ++x) rows.push_back(static_cast<std::uint16_t>(stored[y * w + x] * scale));
  return rows;
}

template <typename F>
std::string ErrorOf(F&& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "(no error)";
}

struct HeightMapTest : ::testing::Test {
  HeightMapTest() {
    auto rec = std::make_unique<RecordingBackend>();
    device = std::make_unique<Device>(std::move(rec));
    land = std::make_unique<LandScape>(*device, nullptr);
  }
  // Heights with YFactor 0.5 and PY 1, in grid order.
  std::vector<float> Heights(const std::string& path) {
    land->InitLand(path, 1, 1, 1, 0.5f, 0, 1, 0);
    std::vector<float> y;
    for (const LandVertex& v : land->Grid()) y.push_back(v.y);
    return y;
  }
  std::string Refusal(const std::string& path) {
    return ErrorOf([&] { land->InitLand(path, 1, 1, 1, 1, 0, 0, 0); });
  }
  std::unique_ptr<Device> device;
  std::unique_ptr<LandScape> land;
};

TEST_F(HeightMapTest, EveryTgaVariantGivesTheGridOfThePlainOne) {
  const std::vector<float> plain = Heights(Tga("plain.tga", Grey(), {}, kSamples));
  ASSERT_EQ(plain.size(), 15u);
  EXPECT_EQ(land->XSize(), kW);
  EXPECT_EQ(land->ZSize(), kH);
  EXPECT_EQ(plain[4], 101.0f);   // 200 x 0.5 + 1: the first stored row is grid row 0
  EXPECT_EQ(plain[14], 128.5f);  // 255 x 0.5 + 1

  const std::vector<std::uint8_t> packets = wgtest::RlePackets(kSamples);
  ASSERT_LT(packets.size(), kSamples.size() + 3);
  EXPECT_EQ(Heights(Tga("rle.tga", Grey(11), {}, packets)), plain);

  TgaHeader id = Grey();
  id.idLength = 7;
  EXPECT_EQ(Heights(Tga("id.tga", id, {'h', 'e', 'i', 'g', 'h', 't', 's'}, kSamples)), plain);

  TgaHeader map = Grey(11);
  map.idLength = 2;
  map.mapType = 1;
  map.mapLength = 3;
  map.mapBits = 24;
  EXPECT_EQ(Heights(Tga("map.tga", map, std::vector<std::uint8_t>(2 + 9, 0x55), packets)), plain);

  // The top-down bit is not read: rows stay in stored order. Bytes after the samples are ignored.
  TgaHeader topDown = Grey();
  topDown.descriptor = 0x20;
  std::vector<std::uint8_t> longer = kSamples;
  longer.insert(longer.end(), 100, 0xEE);
  EXPECT_EQ(Heights(Tga("top-down.tga", topDown, {}, longer)), plain);

  // Image type 0 promises no image data: such a file is the terrain's raw layout, header bytes
  // other than the size unread.
  TgaHeader raw = Grey(0);
  raw.idLength = 9;
  raw.depth = 0;
  EXPECT_EQ(Heights(Tga("raw.map", raw, {}, kSamples)), plain);
}

TEST_F(HeightMapTest, GreyPngsGiveThePictureSeenFromAboveAsTheBottomUpTgaDoes) {
  const std::vector<float> tga = Heights(Tga("plain.tga", Grey(), {}, kSamples));
  EXPECT_EQ(Heights(wgtest::WritePng(Dir() + "/8.png", kW, kH, 8, PNG_COLOR_TYPE_GRAY,
                                     PictureRows(kSamples, kW, kH))),
            tga);
  EXPECT_EQ(Heights(wgtest::WritePng(Dir() + "/8i.png", kW, kH, 8, PNG_COLOR_TYPE_GRAY,
                                     PictureRows(kSamples, kW, kH), true)),
            tga);
  // Alpha carries no height and is dropped.
  std::vector<std::uint16_t> withAlpha;
  for (std::uint16_t s : PictureRows(kSamples, kW, kH)) {
    withAlpha.push_back(s);
    withAlpha.push_back(static_cast<std::uint16_t>(s ^ 0x5A));
  }
  EXPECT_EQ(Heights(wgtest::WritePng(Dir() + "/8a.png", kW, kH, 8, PNG_COLOR_TYPE_GRAY_ALPHA, withAlpha)),
            tga);

  // Fewer bits span the same range: a 4-bit 15, 2-bit 3 and 1-bit 1 are all 255.
  for (int depth : {1, 2, 4}) {
    SCOPED_TRACE(depth);
    const std::uint16_t top = static_cast<std::uint16_t>((1 << depth) - 1);
    const std::vector<float> y =
        Heights(wgtest::WritePng(Dir() + "/low.png", 2, 1, depth, PNG_COLOR_TYPE_GRAY, {0, top}));
    EXPECT_EQ(y, (std::vector<float>{1.0f, 128.5f}));
  }
}

TEST_F(HeightMapTest, SixteenBitSamplesCountInSteps256AndKeepTheirFraction) {
  // Sample s / 256: 0x1234 is 18.203125 steps, 0xFFFF 255.99609375.
  const std::vector<float> y =
      Heights(wgtest::WritePng(Dir() + "/16.png", 3, 1, 16, PNG_COLOR_TYPE_GRAY, {0x1234, 0xFFFF, 0x0001}));
  EXPECT_EQ(y, (std::vector<float>{18.203125f * 0.5f + 1, 255.99609375f * 0.5f + 1, 1.0f / 512 + 1}));
  EXPECT_EQ(land->MinY(), 1.0f + 1.0f / 512);

  // A ramp over the whole 16-bit range and its 8-bit reduction, the high byte of each sample:
  // every height within one step, and the 16-bit map keeps its finer steps.
  constexpr int side = 64;
  std::vector<std::uint16_t> wide, narrow;
  for (int i = 0; i < side * side; ++i) {
    const auto v = static_cast<std::uint16_t>(i * 65535 / (side * side - 1));
    wide.push_back(v);
    narrow.push_back(static_cast<std::uint16_t>(v >> 8));
  }
  land->InitLand(wgtest::WritePng(Dir() + "/ramp16.png", side, side, 16, PNG_COLOR_TYPE_GRAY, wide), 1, 1, 1,
                 1, 0, 0, 0);
  const std::vector<LandVertex> fine = land->Grid();
  land->InitLand(wgtest::WritePng(Dir() + "/ramp8.png", side, side, 8, PNG_COLOR_TYPE_GRAY, narrow), 1, 1, 1,
                 1, 0, 0, 0);
  const std::vector<LandVertex> coarse = land->Grid();
  std::set<float> fineLevels, coarseLevels;
  for (std::size_t i = 0; i < fine.size(); ++i) {
    EXPECT_GE(fine[i].y - coarse[i].y, 0.0f) << i;
    EXPECT_LT(fine[i].y - coarse[i].y, 1.0f) << i;
    fineLevels.insert(fine[i].y);
    coarseLevels.insert(coarse[i].y);
  }
  EXPECT_EQ(coarseLevels.size(), 256u);
  EXPECT_EQ(fineLevels.size(), static_cast<std::size_t>(side * side));
  // Interlaced, the same samples.
  land->InitLand(wgtest::WritePng(Dir() + "/ramp16i.png", side, side, 16, PNG_COLOR_TYPE_GRAY, wide, true), 1,
                 1, 1, 1, 0, 0, 0);
  for (std::size_t i = 0; i < fine.size(); ++i) ASSERT_EQ(land->Grid()[i].y, fine[i].y) << i;
}

TEST_F(HeightMapTest, ColourImagesAreRefusedWithTheWayToMakeThemGrey) {
  const auto refusal = [&](const std::string& path, const std::string& what) {
    const std::string msg = Refusal(path);
    EXPECT_NE(msg.find("InitLand: " + what), std::string::npos) << msg;
    EXPECT_NE(msg.find("convert it first"), std::string::npos) << msg;
    EXPECT_NE(msg.find(path), std::string::npos) << msg;
  };
  TgaHeader rgb = Grey(2);
  rgb.depth = 24;
  refusal(Tga("rgb.tga", rgb, {}, std::vector<std::uint8_t>(3 * 15, 100)),
          "a true-colour TGA of 24 bits per pixel");
  TgaHeader palette = Grey(1);
  palette.mapType = 1;
  refusal(Tga("palette.tga", palette, {}, kSamples), "a colour-mapped TGA");
  refusal(wgtest::WritePng(Dir() + "/rgb.png", 1, 1, 8, PNG_COLOR_TYPE_RGB, {1, 2, 3}), "an RGB colour PNG");
  refusal(wgtest::WritePng(Dir() + "/rgba.png", 1, 1, 8, PNG_COLOR_TYPE_RGBA, {1, 2, 3, 4}),
          "an RGBA colour PNG");
  refusal(wgtest::WritePng(Dir() + "/palette.png", 1, 1, 8, PNG_COLOR_TYPE_PALETTE, {2}), "a palette PNG");
}

TEST_F(HeightMapTest, OtherFormatsAndBrokenFilesAreRefusedNamingWhatTheyAre) {
  const auto expect = [&](const std::string& path, const std::string& what) {
    const std::string msg = Refusal(path);
    EXPECT_NE(msg.find(what), std::string::npos) << msg;
    EXPECT_NE(msg.find(path), std::string::npos) << msg;
  };
  const std::string jpeg = wgtest::AppDir() + "/tex/snow.jpg";
  expect(jpeg,
         "InitLand: a JPEG image, which the terrain does not read: height maps are 8-bit greyscale TGA");
  std::vector<std::uint8_t> bmp(60, 0);
  bmp[0] = 'B';
  bmp[1] = 'M';
  expect(wgtest::WriteBytes(Dir() + "/map.bmp", bmp), "a BMP image");
  expect(wgtest::WriteBytes(Dir() + "/notes.txt", {'h', 'e', 'i', 'g', 'h', 't', 's', '\n'}),
         "neither a TGA nor a PNG image (it begins 68 65 69 67)");

  TgaHeader greyAlpha = Grey();
  greyAlpha.depth = 16;
  expect(Tga("grey-alpha.tga", greyAlpha, {}, std::vector<std::uint8_t>(30)),
         "a greyscale TGA of 16 bits per pixel (grey with alpha)");
  TgaHeader huffman = Grey(32);
  expect(Tga("huffman.tga", huffman, {}, kSamples), "a Huffman-compressed TGA");

  // Run-length data that stops early, or is far too short for the size claimed.
  std::vector<std::uint8_t> packets = wgtest::RlePackets(kSamples);
  packets.pop_back();
  expect(Tga("cut.tga", Grey(11), {}, packets), "the file ends inside its run-length compressed samples");
  TgaHeader claim = Grey(11);
  claim.width = claim.height = 8000;
  expect(Tga("claim.tga", claim, {}, {0xFF, 1, 0xFF, 1}),
         "cannot hold 8000 x 8000 run-length compressed samples");
  TgaHeader idTooLong = Grey();
  idTooLong.idLength = 200;
  expect(Tga("id-short.tga", idTooLong, {}, kSamples),
         "the file is too short: 33 bytes, but 5 x 3 samples need 233");

  // A PNG cut short, and one whose header claims more than its data could ever inflate to.
  const std::string small = wgtest::WritePng(Dir() + "/2000.png", 2000, 2000, 8, PNG_COLOR_TYPE_GRAY,
                                             std::vector<std::uint16_t>(2000 * 2000, 0));
  std::vector<std::uint8_t> bytes;
  {
    std::ifstream in(small, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  ASSERT_LT(bytes.size(), 5000u);
  std::vector<std::uint16_t> ramp;
  for (int i = 0; i < 100 * 100; ++i) ramp.push_back(static_cast<std::uint16_t>(i * 7 % 256));
  std::vector<std::uint8_t> whole;
  {
    const std::string path = wgtest::WritePng(Dir() + "/ramp.png", 100, 100, 8, PNG_COLOR_TYPE_GRAY, ramp);
    std::ifstream in(path, std::ios::binary);
    whole.assign(std::istreambuf_iterator<char>(in), {});
  }
  whole.resize(whole.size() / 2);
  expect(wgtest::WriteBytes(Dir() + "/cut.png", whole),
         "cannot decode the PNG image: the file ends inside the image");
  // 8000 x 8000 samples, under the grid limit, from under 5000 bytes: refused before decoding.
  for (int at : {16, 20}) {
    bytes[static_cast<std::size_t>(at) + 2] = 0x1F;
    bytes[static_cast<std::size_t>(at) + 3] = 0x40;
  }
  wgtest::FixChunkCrc(bytes, 8);
  expect(wgtest::WriteBytes(Dir() + "/bomb.png", bytes), "cannot hold 8000 x 8000 compressed samples");
  expect(wgtest::WritePng(Dir() + "/40000.png", 40000, 1, 1, PNG_COLOR_TYPE_GRAY,
                          std::vector<std::uint16_t>(40000)),
         "grid size 40000 x 1: more than 32767 samples on a side");
}

// A failed load at every stage keeps what the terrain was: grid and colours, sizes, window and
// strip list, MinY, and the scale and placement that GetHeight and Render use.
TEST_F(HeightMapTest, AFailedInitLandLeavesTheTerrainExactlyAsItWas) {
  land->InitLand(Tga("keep.tga", Grey(), {}, kSamples), 2, 0.5f, 0.25f, 3, 10, 4, -20);
  land->FrameSize(3);
  land->CalcLiteMap(D3DVECTOR{1, -1, 0}, 0xFFFFFFFF, 0xFF000000);
  const std::vector<LandVertex> grid = land->Grid();
  const std::vector<std::int16_t> strips = land->StripIndex();
  const float minY = land->MinY();
  const std::vector<float> probes{land->GetHeight(11, -19), land->GetHeight(13.5f, -17),
                                  land->GetHeight(9, -20)};

  std::vector<std::uint8_t> wideSamples(32767, 1);
  TgaHeader wide = Grey();
  wide.width = 32767;
  wide.height = 1;
  const std::vector<std::pair<std::string, float>> failures{
      {Dir() + "/missing.tga", 1.0f},                                                // no file
      {Tga("colour.tga", Grey(2), {}, kSamples), 1.0f},                              // refused format
      {Tga("short.tga", Grey(), {}, {1, 2, 3}), 1.0f},                               // too short
      {Tga("overflow.tga", Grey(), {}, std::vector<std::uint8_t>(15, 255)), 1e37f},  // height overflows
      {Tga("wide.tga", wide, {}, wideSamples), 1.0f},  // strip index beyond 16 bits
  };
  for (const auto& [path, yFactor] : failures) {
    SCOPED_TRACE(path);
    EXPECT_THROW(land->InitLand(path, 7, 1, 1, yFactor, 500, 9, 500), platform::Error);
    EXPECT_EQ(land->XSize(), kW);
    EXPECT_EQ(land->ZSize(), kH);
    EXPECT_EQ(land->FrameSize(), 3);
    EXPECT_EQ(land->StripIndex(), strips);
    EXPECT_EQ(land->MinY(), minY);
    EXPECT_EQ(land->GetVertexSize(), 32);
    ASSERT_EQ(land->Grid().size(), grid.size());
    EXPECT_EQ(std::memcmp(land->Grid().data(), grid.data(), grid.size() * sizeof(LandVertex)), 0);
    EXPECT_EQ(
        (std::vector<float>{land->GetHeight(11, -19), land->GetHeight(13.5f, -17), land->GetHeight(9, -20)}),
        probes);
  }
  // The overflow names the file that caused it.
  EXPECT_NE(
      ErrorOf([&] { land->InitLand(failures[4].first, 1, 1, 1, 1, 0, 0, 0); }).find("InitLand: FrameSize"),
      std::string::npos);
}

// The fuzz harness starts from these seeds: each loads, or is refused, as its name says.
TEST_F(HeightMapTest, TheFuzzSeedsCoverEveryFormatAndRefusal) {
  const std::string dir = std::string(WG_SOURCE_DIR) + "/fuzz/corpus/landscape/";
  const std::vector<std::pair<std::string, std::string>> seeds{
      {"plain_16x16.tga", ""},
      {"rle_16x16.tga", ""},
      {"id_colourmap.tga", ""},
      {"id_rle.tga", ""},
      {"raw_type0.map", ""},
      {"top_down.tga", ""},
      {"grey8.png", ""},
      {"grey16.png", ""},
      {"grey4_interlaced.png", ""},
      {"grey1.png", ""},
      {"grey_alpha16.png", ""},
      {"negative.tga", "a size of 0 or less"},
      {"short.tga", "the file is too short"},
      {"rgb.tga", "a true-colour TGA"},
      {"grey_alpha.tga", "16 bits per pixel"},
      {"rgb.png", "an RGB colour PNG"},
      {"palette.png", "a palette PNG"},
      {"jpeg_start.jpg", "a JPEG image"},
      {"empty.tga", "the file is empty"},
  };
  for (const auto& [name, refusal] : seeds) {
    SCOPED_TRACE(name);
    const std::string msg = Refusal(dir + name);
    if (refusal.empty())
      EXPECT_EQ(msg, "(no error)");
    else
      EXPECT_NE(msg.find(refusal), std::string::npos) << msg;
  }
  // Both the plain and the compressed seed hold the same 16 x 16 samples.
  EXPECT_EQ(Heights(dir + "rle_16x16.tga"), Heights(dir + "plain_16x16.tga"));
}

}  // namespace
