// LandScape on the recording backend: loading, smoothing, the light map, the drawn window and the
// height query.
#include "components/LandScape.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "tests/support/RecordingBackend.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using components::LandScape;
using components::LandVertex;

// A height map: the 18-byte TGA header with width and height at 12 and 14, then the samples.
std::string WriteMap(const std::string& name, std::int32_t width, std::int32_t height,
                     const std::vector<std::uint8_t>& samples) {
  // One folder per test process: ctest runs these tests side by side.
  static const std::string dir = wgtest::ScratchDir("landscape-" + std::to_string(getpid()));
  const std::string path = dir + "/" + name;
  std::vector<std::uint8_t> bytes(18 + samples.size(), 0);
  bytes[2] = 3;
  bytes[12] = static_cast<std::uint8_t>(width & 0xFF);
  bytes[13] = static_cast<std::uint8_t>((width >> 8) & 0xFF);
  bytes[14] = static_cast<std::uint8_t>(height & 0xFF);
  bytes[15] = static_cast<std::uint8_t>((height >> 8) & 0xFF);
  bytes[16] = 8;
  std::copy(samples.begin(), samples.end(), bytes.begin() + 18);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::string WriteMap(const std::string& name, std::int32_t width, std::int32_t height,
                     const std::function<std::uint8_t(int x, int z)>& sample) {
  std::vector<std::uint8_t> s;
  for (int z = 0; z < height; ++z)
    for (int x = 0; x < width; ++x) s.push_back(sample(x, z));
  return WriteMap(name, width, height, s);
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

struct LandScapeTest : ::testing::Test {
  LandScapeTest() {
    auto rec = std::make_unique<RecordingBackend>();
    backend = rec.get();
    device = std::make_unique<Device>(std::move(rec));
    texture = device->CreateTexture({Texture::Level{1, 1, {255, 255, 255, 255}}}, "white");
    land = std::make_unique<LandScape>(*device, texture);
  }

  // A 256 x 256 grid one world unit apart, every sample different along a row.
  void Load256(std::int32_t frame) {
    static const std::string path =
        WriteMap("256.tga", 256, 256, [](int x, int z) { return (x + 3 * z) & 255; });
    land->InitLand(path, 1, 1, 1, 1, 0, 0, 0);
    land->FrameSize(frame);
  }

  // Render inside a scene; returns the calls it made.
  std::vector<Call> RenderCalls(float x, float z, float angle, float diff) {
    device->BeginScene();
    backend->reset();
    land->Render(x, z, angle, diff);
    std::vector<Call> calls = backend->calls;
    device->EndScene();
    return calls;
  }

  const LandVertex& DrawnVertex(const RecordingBackend::Draw& d, std::size_t k) {
    return reinterpret_cast<const LandVertex*>(d.vertexData.data())[k];
  }

  RecordingBackend* backend = nullptr;
  std::unique_ptr<Device> device;
  std::shared_ptr<Texture> texture;
  std::unique_ptr<LandScape> land;
};

TEST_F(LandScapeTest, ThreeByTwoFileBuildsTheGridXFastest) {
  const std::string path = WriteMap("3x2.tga", 3, 2, std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5});
  EXPECT_EQ(land->XSize(), 0);
  EXPECT_EQ(land->ZSize(), 0);
  EXPECT_EQ(land->FrameSize(), 0);
  land->InitLand(path, 10, 0.5f, 2, 2, 100, 5, -50);

  EXPECT_EQ(land->XSize(), 3);
  EXPECT_EQ(land->ZSize(), 2);
  EXPECT_EQ(land->FrameSize(), 1);
  EXPECT_EQ(land->GetVertexSize(), 32);
  EXPECT_EQ(land->MinY(), 5.0f);
  ASSERT_EQ(land->Grid().size(), 6u);
  const LandVertex& v21 = land->Grid()[1 * 3 + 2];
  EXPECT_EQ(v21.x, 120.0f);
  EXPECT_EQ(v21.y, 15.0f);
  EXPECT_EQ(v21.z, -40.0f);
  EXPECT_EQ(v21.tu1, 1.0f);
  EXPECT_EQ(v21.tv1, 0.5f);
  EXPECT_EQ(v21.tu2, 4.0f);
  EXPECT_EQ(v21.tv2, 2.0f);
  const LandVertex& v00 = land->Vertex(0, 0);
  EXPECT_EQ(v00.x, 100.0f);
  EXPECT_EQ(v00.y, 5.0f);
  EXPECT_EQ(v00.z, -50.0f);
  for (const LandVertex& v : land->Grid()) EXPECT_EQ(v.color, 0u);
  EXPECT_EQ(land->StripIndex(), (std::vector<std::int16_t>{0, 3, 1, 4}));
}

TEST_F(LandScapeTest, NegativeYFactorKeepsTheStartingMinY) {
  const std::string path = WriteMap("neg.tga", 2, 2, std::vector<std::uint8_t>{0, 100, 200, 255});
  land->InitLand(path, 1, 1, 1, -2, 0, 7, 0);
  EXPECT_EQ(land->MinY(), 255 * -2.0f + 7);
  EXPECT_EQ(land->Vertex(1, 1).y, land->MinY());
  EXPECT_EQ(land->Vertex(0, 0).y, 7.0f);
}

TEST_F(LandScapeTest, FrameSizeClampsAndBuildsTheStripIndexList) {
  land->FrameSize(50);
  EXPECT_EQ(land->FrameSize(), 0);  // no grid yet: lost

  const std::string path = WriteMap("256x128.tga", 256, 128, [](int, int) { return 0; });
  land->InitLand(path, 1, 1, 1, 1, 0, 0, 0);
  EXPECT_EQ(land->FrameSize(), 1);
  land->FrameSize(0);
  EXPECT_EQ(land->FrameSize(), 1);
  land->FrameSize(-5);
  EXPECT_EQ(land->FrameSize(), 1);
  land->FrameSize(1000);
  EXPECT_EQ(land->FrameSize(), 128);
  EXPECT_EQ(land->StripIndex().size(), 258u);
  land->FrameSize(2);
  EXPECT_EQ(land->StripIndex(), (std::vector<std::int16_t>{0, 256, 1, 257, 2, 258}));

  // A second load keeps the window size, clamped to the new grid, and its list follows XSize.
  land->FrameSize(100);
  land->InitLand(WriteMap("4x8.tga", 4, 8, [](int, int) { return 0; }), 1, 1, 1, 1, 0, 0, 0);
  EXPECT_EQ(land->FrameSize(), 4);
  EXPECT_EQ(land->StripIndex(), (std::vector<std::int16_t>{0, 4, 1, 5, 2, 6, 3, 7, 4, 8}));
}

TEST_F(LandScapeTest, FilterHeightWorksInPlaceInRowOrder) {
  land->InitLand(WriteMap("2x2.tga", 2, 2, std::vector<std::uint8_t>{0, 0, 0, 4}), 1, 1, 1, 1, 0, 0, 0);
  land->FilterHeight();
  EXPECT_EQ(land->Vertex(0, 0).y, 1.0f);
  EXPECT_EQ(land->Vertex(1, 0).y, 1.25f);
  EXPECT_EQ(land->Vertex(0, 1).y, 1.5625f);
  EXPECT_EQ(land->Vertex(1, 1).y, 1.953125f);
  EXPECT_EQ(land->MinY(), 0.0f);

  land->InitLand(WriteMap("zero.tga", 5, 4, [](int, int) { return 0; }), 1, 1, 1, 1, 0, 0, 0);
  land->FilterHeight();
  for (const LandVertex& v : land->Grid()) EXPECT_EQ(v.y, 0.0f);

  // 0.333333 is a little below a third: only the corner, weighted 0.5 x 0.5, keeps its height.
  land->InitLand(WriteMap("flat.tga", 5, 4, [](int, int) { return 10; }), 1, 1, 1, 1, 0, 0, 0);
  land->FilterHeight();
  EXPECT_EQ(land->Vertex(0, 0).y, 10.0f);
  EXPECT_LT(land->Vertex(2, 2).y, 10.0f);
  EXPECT_GT(land->Vertex(2, 2).y, 9.9999f);
  EXPECT_LT(land->Vertex(4, 3).y, 10.0f);

  // A grid one vertex deep has no cells and is left alone.
  land->InitLand(WriteMap("row.tga", 4, 1, std::vector<std::uint8_t>{8, 8, 8, 8}), 1, 1, 1, 1, 0, 0, 0);
  land->FilterHeight();
  for (const LandVertex& v : land->Grid()) EXPECT_EQ(v.y, 8.0f);
}

TEST_F(LandScapeTest, BadHeightMapsAreErrorsNamingTheFile) {
  const std::string dir = wgtest::ScratchDir("landscape-bad");
  auto load = [&](const std::string& path) {
    return ErrorOf([&] { land->InitLand(path, 1, 1, 1, 1, 0, 0, 0); });
  };

  const std::string missing = dir + "/missing.tga";
  EXPECT_NE(load(missing).find(missing), std::string::npos);
  EXPECT_NE(load(missing).find("InitLand"), std::string::npos);

  const std::string empty = dir + "/empty.tga";
  std::ofstream(empty).close();
  EXPECT_NE(load(empty).find("empty"), std::string::npos);
  EXPECT_NE(load(dir).find("folder"), std::string::npos);

  const std::string header = dir + "/header.tga";
  std::ofstream(header, std::ios::binary).write("\0\0\3\0\0\0\0\0\0\0\0\0\4\0", 14);
  EXPECT_NE(load(header).find("18-byte header"), std::string::npos);

  EXPECT_NE(load(WriteMap("w40000.tga", 40000, 1, std::vector<std::uint8_t>(16))).find("0 or less"),
            std::string::npos);
  EXPECT_NE(load(WriteMap("h0.tga", 4, 0, std::vector<std::uint8_t>{})).find("0 or less"), std::string::npos);

  // The samples are counted against the file's length before any grid is made.
  const std::string shortFile = WriteMap("short.tga", 1000, 1000, std::vector<std::uint8_t>(100));
  const std::string msg = load(shortFile);
  EXPECT_NE(msg.find("too short"), std::string::npos) << msg;
  EXPECT_NE(msg.find("1000018"), std::string::npos) << msg;
  EXPECT_NE(msg.find(shortFile), std::string::npos);
  EXPECT_NE(load(WriteMap("huge.tga", 30000, 30000, std::vector<std::uint8_t>(10))).find("too large"),
            std::string::npos);

  EXPECT_NE(
      ErrorOf([&] {
        land->InitLand(WriteMap("big.tga", 2, 1, std::vector<std::uint8_t>{1, 255}), 1, 1, 1, 1e37f, 0, 0, 0);
      }).find("overflow"),
      std::string::npos);

  // XSize 32767 makes the strip list's second entry 32768.
  const std::string wide = WriteMap("wide.tga", 32767, 1, std::vector<std::uint8_t>(32767));
  EXPECT_NE(load(wide).find("overflow"), std::string::npos);
}

TEST_F(LandScapeTest, LightMapOnFlatAndSlopedGround) {
  const D3DCOLOR lite = 0xFF'C0'80'40, shad = 0x80'10'20'30;
  land->InitLand(WriteMap("flat6.tga", 6, 5, [](int, int) { return 50; }), 2, 1, 1, 1, 0, 0, 0);

  land->CalcLiteMap(D3DVECTOR{0, -2, 0}, lite, shad);
  for (const LandVertex& v : land->Grid()) EXPECT_EQ(v.color, 0x00'C0'80'40u);
  land->CalcLiteMap(D3DVECTOR{0, 1, 0}, lite, shad);
  for (const LandVertex& v : land->Grid()) EXPECT_EQ(v.color, 0x00'10'20'30u);
  // d = 0.7071: each channel 180.3 of 255.
  land->CalcLiteMap(D3DVECTOR{1, -1, 0}, 0xFFFFFF, 0);
  for (const LandVertex& v : land->Grid()) EXPECT_EQ(v.color, 0xB4B4B4u);
  land->CalcLiteMap(D3DVECTOR{0, 0, 0}, lite, shad);
  for (const LandVertex& v : land->Grid()) EXPECT_EQ(v.color, 0x00'10'20'30u);

  // y = j: slope 1 inside, counted half at the first and last column (d = 0.8944, 228 of 255).
  land->InitLand(WriteMap("slope.tga", 5, 3, [](int x, int) { return x; }), 1, 1, 1, 1, 0, 0, 0);
  land->CalcLiteMap(D3DVECTOR{0, -1, 0}, 0xFFFFFF, 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(land->Vertex(0, i).color, 0xE4E4E4u);
    for (int j = 1; j < 4; ++j) EXPECT_EQ(land->Vertex(j, i).color, 0xB4B4B4u) << j;
    EXPECT_EQ(land->Vertex(4, i).color, 0xE4E4E4u);
  }

  // One vertex wide: no slope along x, so light along x meets the ground edge-on.
  land->InitLand(WriteMap("column.tga", 1, 4, [](int, int z) { return 10 * z; }), 1, 1, 1, 1, 0, 0, 0);
  land->CalcLiteMap(D3DVECTOR{1, 0, 0}, lite, shad);
  for (const LandVertex& v : land->Grid()) EXPECT_EQ(v.color, 0x00'10'20'30u);
}

TEST_F(LandScapeTest, ZeroScaleSizeIsADivisionErrorBeforeAnyDeviceCall) {
  EXPECT_NE(ErrorOf([&] { land->Render(0, 0, 0, 1); }).find("division by zero"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { land->GetHeight(0, 0); }).find("division by zero"), std::string::npos);
  EXPECT_TRUE(backend->calls.empty() || backend->calls.back().name == "CreateTexture");
  land->InitLand(WriteMap("flat2.tga", 2, 2, [](int, int) { return 0; }), 0, 1, 1, 1, 0, 0, 0);
  EXPECT_NE(ErrorOf([&] {
              land->CalcLiteMap(D3DVECTOR{0, -1, 0}, 1, 2);
            }).find("division by zero"),
            std::string::npos);
}

TEST_F(LandScapeTest, RenderDrawsOneStripPerRowOfTheWindowAhead) {
  Load256(8);
  const auto calls = RenderCalls(100, 100, 0, 1);
  EXPECT_EQ(land->StripPrims(), 14);
  EXPECT_EQ(land->StripVerts(), 264);
  ASSERT_EQ(calls.size(), 10u);
  EXPECT_EQ(calls[0].name, "SetVertexShader");
  EXPECT_EQ(calls[0].args, (std::vector<std::int64_t>{0x242}));
  EXPECT_EQ(calls[1].name, "SetTexture");
  EXPECT_EQ(calls[1].args, (std::vector<std::int64_t>{0, 1}));
  for (std::size_t k = 2; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k].name, "DrawIndexedPrimitiveUP");
    EXPECT_EQ(calls[k].args, (std::vector<std::int64_t>{5, 0, 264, 14, 101, 32}));
  }
  ASSERT_EQ(backend->draws.size(), 8u);
  for (int s = 0; s < 8; ++s) {
    const auto& d = backend->draws[static_cast<std::size_t>(s)];
    const int w = 100 + s;
    EXPECT_EQ(d.state.fvf, 0x242u);
    EXPECT_EQ(d.state.textures[0], texture);
    EXPECT_EQ(d.indexData,
              (std::vector<std::uint16_t>{0, 256, 1, 257, 2, 258, 3, 259, 4, 260, 5, 261, 6, 262, 7, 263}));
    ASSERT_EQ(d.vertexData.size(), 264u * 32u);
    EXPECT_EQ(DrawnVertex(d, 0).x, 96.0f);
    EXPECT_EQ(DrawnVertex(d, 0).z, static_cast<float>(w));
    EXPECT_EQ(DrawnVertex(d, 0).y, static_cast<float>((96 + 3 * w) & 255));
    EXPECT_EQ(DrawnVertex(d, 263).x, 103.0f);
    EXPECT_EQ(DrawnVertex(d, 263).z, static_cast<float>(w + 1));
  }
}

TEST_F(LandScapeTest, RenderWindowFollowsShiftAndHeading) {
  Load256(8);
  RenderCalls(100, 100, 0, -1);  // D = 2.8
  ASSERT_EQ(backend->draws.size(), 8u);
  EXPECT_EQ(DrawnVertex(backend->draws.front(), 0).z, 99.0f);
  EXPECT_EQ(DrawnVertex(backend->draws.back(), 0).z, 106.0f);
  EXPECT_EQ(DrawnVertex(backend->draws.front(), 0).x, 96.0f);

  RenderCalls(100, 100, std::numbers::pi_v<float> / 2, 1);
  ASSERT_EQ(backend->draws.size(), 8u);
  EXPECT_EQ(DrawnVertex(backend->draws.front(), 0).x, 92.0f);
  EXPECT_EQ(DrawnVertex(backend->draws.front(), 0).z, 96.0f);
  EXPECT_EQ(land->StripPrims(), 14);
}

TEST_F(LandScapeTest, RenderClipsTheWindowToTheGrid) {
  Load256(8);
  RenderCalls(1, 1, 0, 1);  // sx -3 -> 0, ex 4
  EXPECT_EQ(land->StripPrims(), 8);
  EXPECT_EQ(land->StripVerts(), 256 + 4 + 1);
  ASSERT_EQ(backend->draws.size(), 8u);
  EXPECT_EQ(DrawnVertex(backend->draws.front(), 0).x, 0.0f);
  EXPECT_EQ(DrawnVertex(backend->draws.front(), 0).z, 1.0f);
  EXPECT_EQ(DrawnVertex(backend->draws.back(), 0).z, 8.0f);
  EXPECT_EQ(backend->draws.front().indexData.size(), 10u);
  EXPECT_EQ(DrawnVertex(backend->draws.front(), 260).x, 4.0f);

  // At the far corner the window would reach row 260 and column 255: the last strip joins rows 254
  // and 255 and ends on the grid's very last vertex.
  RenderCalls(252, 253, 0, 1);
  ASSERT_EQ(backend->draws.size(), 2u);
  const auto& last = backend->draws.back();
  EXPECT_EQ(DrawnVertex(last, 0).z, 254.0f);
  EXPECT_EQ(DrawnVertex(last, 0).x, 248.0f);
  ASSERT_EQ(last.vertexData.size(), static_cast<std::size_t>(land->StripVerts()) * 32u);
  const LandVertex& end = DrawnVertex(last, static_cast<std::size_t>(land->StripVerts()) - 1);
  EXPECT_EQ(end.x, 255.0f);
  EXPECT_EQ(end.z, 255.0f);
  EXPECT_EQ(&land->Grid().back() + 1, &land->Vertex(248, 254) + land->StripVerts());

  // Wholly off the grid: nothing drawn, no error.
  const auto off = RenderCalls(-500, 900, 0, 1);
  EXPECT_TRUE(backend->draws.empty());
  EXPECT_EQ(off.size(), 2u);
  RenderCalls(1000, 100, 0, 1);
  EXPECT_TRUE(backend->draws.empty());
}

TEST_F(LandScapeTest, FrameSizeOneDrawsNothingButSetsFormatAndTexture) {
  Load256(1);
  const auto calls = RenderCalls(100, 100, 0, 1);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].name, "SetVertexShader");
  EXPECT_EQ(calls[1].name, "SetTexture");
  EXPECT_TRUE(backend->draws.empty());
  EXPECT_EQ(device->GetVertexShader(), 0x242u);
  EXPECT_EQ(device->GetTexture(0), texture);
}

TEST_F(LandScapeTest, RenderFarOffIsAnOverflowError) {
  Load256(8);
  device->BeginScene();
  EXPECT_NE(ErrorOf([&] { land->Render(1e30f, 0, 0, 1); }).find("overflow"), std::string::npos);
  EXPECT_NE(ErrorOf([&] { land->Render(NAN, 0, 0, 1); }).find("Render"), std::string::npos);
  device->EndScene();
  EXPECT_NE(ErrorOf([&] { land->GetHeight(0, -1e30f); }).find("overflow"), std::string::npos);
}

TEST_F(LandScapeTest, GetHeightInterpolatesInsideTheGridAndAnswersMinYOutside) {
  // Corner heights 0, 4, 8, 12 in the first cell of a 3 x 3 grid placed at (10, 20), two units apart.
  const std::vector<std::uint8_t> s{0, 4, 9, 8, 12, 7, 3, 5, 6};
  land->InitLand(WriteMap("3x3.tga", 3, 3, s), 2, 1, 1, 1, 10, 1, 20);
  EXPECT_EQ(land->MinY(), 1.0f);
  EXPECT_EQ(land->GetHeight(11, 21), 7.0f);            // 6 + PY
  EXPECT_EQ(land->GetHeight(12, 22), 13.0f);           // inner vertex (1, 1)
  EXPECT_EQ(land->GetHeight(10, 20), 1.0f);            // vertex (0, 0)
  EXPECT_EQ(land->GetHeight(9, 21), land->MinY());     // ix = -1
  EXPECT_EQ(land->GetHeight(9.9f, 21), land->MinY());  // rounds down, not towards zero
  EXPECT_EQ(land->GetHeight(14, 21), land->MinY());    // the last column
  EXPECT_EQ(land->GetHeight(11, 24), land->MinY());    // the last row
  EXPECT_EQ(land->GetHeight(11, 19.5f), land->MinY());
  EXPECT_NE(land->GetHeight(10.1f, 21), land->MinY());
}

}  // namespace
