// The flake pool on the recording backend: how flakes enter, fall, settle, fade and respawn, the
// colour packing, and the exact device calls and states of one snow draw.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "render/FrameContext.h"
#include "render/Random.h"
#include "snow/modSnow.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using d3dx::operator==;
using snow::modSnow;
using snow::SnowFlake;
using snow::SnowVertex;

std::int64_t bits(float f) {
  return std::bit_cast<DWORD>(f);
}

struct SnowFixture : ::testing::Test {
  wgtest::RecordingDemo demo;
  void SetUp() override {
    demo.form.D3D.InitD3D(nullptr);
    snow().InitSnow(demo.device());
    demo.device().BeginScene();
    demo.backend().keepDraws = false;
  }
  modSnow& snow() { return demo.form.Snow; }
  SnowFlake& flake(std::size_t i) { return snow().Flakes()[i]; }
  void setFrameTime(double ms) { demo.form.API.FrameTime = ms; }
  void frames(int n) {
    for (int k = 0; k < n; ++k) {
      snow().RenderSnow(demo.frame());
      demo.backend().calls.clear();
    }
  }
  SnowVertex slot(std::size_t i) {
    SnowVertex v;
    std::memcpy(&v, snow().SnowVB()->Data() + 16 * i, sizeof v);
    return v;
  }
};

TEST_F(SnowFixture, InitSnowMakesAZeroPoolAndTheBufferButSpawnsNothing) {
  EXPECT_EQ(snow().FlakeCount(), 0);
  EXPECT_EQ(snow().SnowGround(), 0.0f);
  EXPECT_EQ(snow().VertexSize(), 16);
  ASSERT_EQ(snow().Flakes().size(), 3000u);
  for (const auto& f : snow().Flakes()) {
    EXPECT_EQ(f.vecPos.y, 0.0f);
    EXPECT_EQ(f.vecSpeed.y, 0.0f);
    EXPECT_EQ(f.ColorValue.a, 0.0f);
    EXPECT_EQ(f.GroundFrames, 0);
  }
  const auto& vb = *snow().SnowVB();
  EXPECT_EQ(vb.Length(), 48000u);
  EXPECT_EQ(vb.Usage(), 0x48u);
  EXPECT_EQ(vb.FVF(), 0x42u);
  EXPECT_EQ(vb.Pool(), 1u);
  ASSERT_NE(snow().SnowTexture(), nullptr);
  EXPECT_NE(snow().SnowTexture()->source.find("snow.png"), std::string::npos);
}

TEST_F(SnowFixture, OneMoreFlakePerFrameUpToThreeThousand) {
  frames(1);
  EXPECT_EQ(snow().FlakeCount(), 1);
  frames(1);
  EXPECT_EQ(snow().FlakeCount(), 2);
  frames(2997);
  EXPECT_EQ(snow().FlakeCount(), 2999);
  frames(1);
  EXPECT_EQ(snow().FlakeCount(), 3000);
  frames(500);
  EXPECT_EQ(snow().FlakeCount(), 3000);
}

TEST_F(SnowFixture, WithNoTimeANewFlakeLandsAtOnceAndRespawnsInItsTenthActiveFrame) {
  setFrameTime(0);
  for (int frame = 1; frame <= 9; ++frame) {
    frames(1);
    // Lying at the origin, fully transparent: alpha 0 never fades below 0.
    EXPECT_EQ(flake(0).GroundFrames, frame);
    EXPECT_EQ(flake(0).vecPos.y, 0.0f);
    EXPECT_EQ(flake(0).ColorValue.a, 0.0f);
    EXPECT_EQ(slot(0).Diffuse, 0u);
    // Flake 1 became active one frame later.
    EXPECT_EQ(flake(1).GroundFrames, frame - 1);
  }
  frames(1);
  EXPECT_EQ(flake(0).GroundFrames, 0);
  EXPECT_EQ(flake(0).vecPos.y, 100.0f);
  EXPECT_EQ(flake(0).vecSpeed.y, -0.0081f);
  EXPECT_EQ(flake(0).ColorValue.a, 1.0f);
  EXPECT_EQ(slot(0).y, 100.0f);
  EXPECT_EQ(slot(0).x, flake(0).vecPos.x);
  EXPECT_EQ(slot(0).Diffuse, 0xFFFFFFFFu);
  EXPECT_EQ(flake(1).GroundFrames, 9);
  frames(1);
  EXPECT_EQ(flake(1).vecPos.y, 100.0f);
  // Nothing falls with no time.
  EXPECT_EQ(flake(0).vecPos.y, 100.0f);
}

TEST_F(SnowFixture, AFlakeFallsFor617FramesOfTwentyMsLandsInThe618thThenFadesAndRespawns) {
  setFrameTime(0);
  frames(10);
  ASSERT_EQ(flake(0).vecPos.y, 100.0f);
  const float x = flake(0).vecPos.x, z = flake(0).vecPos.z;
  setFrameTime(20);
  for (int frame = 1; frame <= 617; ++frame) {
    frames(1);
    ASSERT_GT(flake(0).vecPos.y, 0.0f) << frame;
    ASSERT_EQ(flake(0).GroundFrames, 0) << frame;
  }
  EXPECT_NEAR(flake(0).vecPos.y, 100.0 - 617 * 0.162, 1e-3);
  EXPECT_EQ(flake(0).vecPos.x, x);
  EXPECT_EQ(flake(0).vecPos.z, z);
  // Landing frame and the eight after it: 0.9, 0.8, ... 0.1, at the ground height.
  for (int g = 1; g <= 9; ++g) {
    frames(1);
    EXPECT_EQ(flake(0).vecPos.y, 0.0f) << g;
    EXPECT_EQ(flake(0).GroundFrames, g);
    EXPECT_NEAR(flake(0).ColorValue.a, 1.0 - 0.1 * g, 1e-6) << g;
    EXPECT_EQ(slot(0).y, 0.0f);
    EXPECT_EQ(slot(0).Diffuse >> 24, static_cast<DWORD>(std::nearbyint(flake(0).ColorValue.a * 255.0)));
    EXPECT_EQ(slot(0).Diffuse & 0xFFFFFF, 0xFFFFFFu);
  }
  // Nine subtractions stored as floats leave alpha just below a tenth: 25.49... of 255.
  EXPECT_EQ(slot(0).Diffuse >> 24, 25u);
  // The tenth ground frame: back at the top, opaque, the ground count reset.
  frames(1);
  EXPECT_EQ(flake(0).vecPos.y, 100.0f);
  EXPECT_EQ(flake(0).ColorValue.a, 1.0f);
  EXPECT_EQ(flake(0).GroundFrames, 0);
  EXPECT_NE(flake(0).vecPos.x, x);
}

TEST_F(SnowFixture, AlphaNeverFadesBelowZeroAndANanHeightLands) {
  frames(1);
  flake(0) = SnowFlake{{5, 0, 7}, {0, -0.0081f, 0}, {1, 1, 1, 0.05f}, 3};
  frames(1);
  EXPECT_EQ(flake(0).ColorValue.a, 0.05f);
  EXPECT_EQ(flake(0).GroundFrames, 4);

  flake(0) = SnowFlake{{5, 50, 7}, {0, -0.0081f, 0}, {1, 1, 1, 1}, 0};
  setFrameTime(std::numeric_limits<double>::quiet_NaN());
  frames(1);
  EXPECT_EQ(flake(0).vecPos.y, 0.0f);
  EXPECT_EQ(flake(0).GroundFrames, 1);
  EXPECT_EQ(slot(0).y, 0.0f);
}

TEST_F(SnowFixture, AFallBeyondTheFloatRangeIsAnOverflowError) {
  frames(1);
  flake(0) = SnowFlake{{5, 50, 7}, {0, -0.0081f, 0}, {1, 1, 1, 1}, 0};
  setFrameTime(1e300);
  try {
    frames(1);
    FAIL() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("RenderSnow"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("overflow"), std::string::npos) << e.what();
  }
}

TEST_F(SnowFixture, RespawnsLieInTheSquareAtHeightHundredAndDrawFromTheSharedGenerator) {
  render::Random twin;  // the same fixed sequence as the demo's generator, which nothing else drew yet
  SnowFlake f{};
  float minX = 1e9f, maxX = -1e9f;
  for (int k = 0; k < 20000; ++k) {
    modSnow::ResetFlake(f, demo.form.Rnd);
    EXPECT_EQ(f.vecPos.x, static_cast<float>(twin.Rnd() * 200 - 100));
    EXPECT_EQ(f.vecPos.z, static_cast<float>(twin.Rnd() * 200 - 100));
    ASSERT_GE(f.vecPos.x, -100.0f);
    ASSERT_LT(f.vecPos.x, 100.0f);
    ASSERT_GE(f.vecPos.z, -100.0f);
    ASSERT_LT(f.vecPos.z, 100.0f);
    ASSERT_EQ(f.vecPos.y, 100.0f);
    ASSERT_EQ(f.vecSpeed.x, 0.0f);
    ASSERT_EQ(f.vecSpeed.y, -0.0081f);
    ASSERT_EQ(f.vecSpeed.z, 0.0f);
    ASSERT_EQ(f.GroundFrames, 0);
    ASSERT_EQ(f.ColorValue.r, 1.0f);
    ASSERT_EQ(f.ColorValue.a, 1.0f);
    minX = std::min(minX, f.vecPos.x);
    maxX = std::max(maxX, f.vecPos.x);
  }
  EXPECT_LT(minX, -99.0f);
  EXPECT_GT(maxX, 99.0f);
  EXPECT_EQ(modSnow::RandRange(demo.form.Rnd, 3, 5), twin.Rnd() * 2 + 3);
}

TEST(SnowSpawn, ADrawJustBelowTheTopStaysBelowItAsAFloat) {
  // 100 - 2^-46 rounds to 100 as a float; it must stay inside [-100, 100).
  const double nearTop = 100.0 - 0x1.0p-46;
  ASSERT_EQ(static_cast<float>(nearTop), 100.0f);
  EXPECT_EQ(modSnow::SpawnCoordinate(nearTop, 100.0f), std::nextafter(100.0f, 0.0f));
  EXPECT_EQ(modSnow::SpawnCoordinate(-100.0, 100.0f), -100.0f);
  EXPECT_EQ(modSnow::SpawnCoordinate(12.5, 100.0f), 12.5f);
}

TEST(SnowColor, MakeColorPacksAlphaRedGreenBlueRoundingTiesToEven) {
  EXPECT_EQ(modSnow::MakeColor({1, 1, 1, 1}), 0xFFFFFFFFu);
  EXPECT_EQ(modSnow::MakeColor({1, 1, 1, 0}), 0x00FFFFFFu);
  EXPECT_EQ(modSnow::MakeColor({0, 0, 0, 0}), 0u);
  EXPECT_EQ(modSnow::MakeColor({1, 0, 0, 0.5f}), 0x80FF0000u);  // 127.5 -> 128
  EXPECT_EQ(modSnow::MakeColor({0, 1, 0, 0}), 0x0000FF00u);
  EXPECT_EQ(modSnow::MakeColor({0, 0, 1, 0}), 0x000000FFu);
  EXPECT_EQ(modSnow::MakeColor({1.001f, 1, 1, -0.001f}), 0x00FFFFFFu);  // still round into range
  EXPECT_EQ(modSnow::MakeColor({1, 1, 1, 0.9f}) >> 24, 229u);           // 229.49999... not 230
}

TEST(SnowColor, AComponentRoundingOutsideTheByteIsAnOverflowError) {
  for (const D3DCOLORVALUE c :
       {D3DCOLORVALUE{1.01f, 1, 1, 1}, D3DCOLORVALUE{1, 1, 1, -0.01f}, D3DCOLORVALUE{1, -1, 1, 1},
        D3DCOLORVALUE{1, 1, 1.003f, 1}, D3DCOLORVALUE{1, 1, 1, std::numeric_limits<float>::quiet_NaN()}}) {
    try {
      modSnow::MakeColor(c);
      ADD_FAILURE() << c.r << " " << c.g << " " << c.b << " " << c.a;
    } catch (const platform::Error& e) {
      EXPECT_NE(std::string(e.what()).find("MakeColor"), std::string::npos);
      EXPECT_NE(std::string(e.what()).find("overflow"), std::string::npos);
    }
  }
}

TEST(SnowVertexRecord, MakeSnowVertexKeepsPositionThenColour) {
  const SnowVertex v = modSnow::MakeSnowVertex(1.5f, -2, 3, 0x80FF0000u);
  EXPECT_EQ(v.x, 1.5f);
  EXPECT_EQ(v.y, -2.0f);
  EXPECT_EQ(v.z, 3.0f);
  EXPECT_EQ(v.Diffuse, 0x80FF0000u);
}

TEST_F(SnowFixture, RenderSnowSetsAndRestoresStatesInOrderAndDrawsTheWholeBuffer) {
  setFrameTime(0);
  frames(12);
  demo.backend().keepDraws = true;
  D3DMATRIX world;
  d3dx::D3DXMatrixScaling(&world, 10, 10, 10);
  world.m[3][0] = 0, world.m[3][1] = 1, world.m[3][2] = 30;
  demo.device().SetTransform(D3DTS_WORLD, world);
  demo.device().SetRenderState(D3DRS_FOGENABLE, 1);
  demo.backend().calls.clear();
  snow().RenderSnow(demo.frame());

  struct Expected {
    const char* name;
    std::vector<std::int64_t> args;
  };
  const std::vector<Expected> expected{
      {"SetRenderState", {27, 1}},
      {"SetRenderState", {19, 5}},
      {"SetRenderState", {20, 2}},
      {"SetTextureStageState", {0, 4, 4}},
      {"SetTextureStageState", {0, 1, 4}},
      {"SetVertexShader", {0x42}},
      {"SetTexture", {0, 1}},
      {"SetRenderState", {28, 0}},
      {"SetRenderState", {156, 1}},
      {"SetRenderState", {157, 1}},
      {"SetRenderState", {158, bits(0.6f)}},
      {"SetRenderState", {159, bits(0.6f)}},
      {"SetRenderState", {160, bits(0.6f)}},
      {"SetRenderState", {14, 0}},
      {"SetStreamSource", {0, 16}},
      {"DrawPrimitive", {1, 0, 3000}},
      {"SetRenderState", {14, 1}},
      {"SetRenderState", {157, 0}},
      {"SetRenderState", {156, 0}},
      {"SetRenderState", {28, 1}},
  };
  const auto& calls = demo.backend().calls;
  ASSERT_EQ(calls.size(), expected.size());
  for (std::size_t k = 0; k < calls.size(); ++k) {
    EXPECT_EQ(calls[k].name, expected[k].name) << k;
    EXPECT_EQ(calls[k].args, expected[k].args) << k;
  }
  // Each of the 13 active flakes rewrote its own slot; the range of their 13 slots waits for one upload.
  EXPECT_EQ(snow().SnowVB()->dirtyBegin, 0u);
  EXPECT_EQ(snow().SnowVB()->dirtyEnd, 13u * 16);

  ASSERT_EQ(demo.backend().draws.size(), 1u);
  const auto& d = demo.backend().draws[0];
  EXPECT_EQ(d.call.type, D3DPT_POINTLIST);
  EXPECT_EQ(d.call.vertexCount, 3000u);
  EXPECT_EQ(d.call.stride, 16u);
  EXPECT_EQ(d.call.fvf, 0x42u);
  const auto& rs = d.state.renderStates;
  EXPECT_EQ(rs[D3DRS_FOGENABLE], 0u);
  EXPECT_EQ(rs[D3DRS_POINTSPRITEENABLE], 1u);
  EXPECT_EQ(rs[D3DRS_POINTSCALEENABLE], 1u);
  EXPECT_EQ(rs[D3DRS_POINTSCALE_A], bits(0.6f));
  EXPECT_EQ(rs[D3DRS_POINTSCALE_B], bits(0.6f));
  EXPECT_EQ(rs[D3DRS_POINTSCALE_C], bits(0.6f));
  EXPECT_EQ(rs[D3DRS_POINTSIZE], bits(1.0f));
  EXPECT_EQ(rs[D3DRS_POINTSIZE_MIN], bits(1.0f));
  EXPECT_EQ(rs[D3DRS_POINTSIZE_MAX], bits(64.0f));
  EXPECT_EQ(rs[D3DRS_ZWRITEENABLE], 0u);
  EXPECT_EQ(rs[D3DRS_ZENABLE], 1u);
  EXPECT_EQ(rs[D3DRS_ALPHABLENDENABLE], 1u);
  EXPECT_EQ(rs[D3DRS_SRCBLEND], 5u);
  EXPECT_EQ(rs[D3DRS_DESTBLEND], 2u);
  EXPECT_EQ(d.state.stageStates[0][D3DTSS_COLOROP], 4u);
  EXPECT_EQ(d.state.stageStates[0][D3DTSS_ALPHAOP], 4u);
  EXPECT_EQ(d.state.textures[0], snow().SnowTexture());
  EXPECT_TRUE(d.state.world == world);
  // The draw sees this frame's vertices: the first three flakes respawned, the rest lie transparent.
  SnowVertex v0, v12, v13;
  std::memcpy(&v0, d.vertexData.data(), 16);
  std::memcpy(&v12, d.vertexData.data() + 12 * 16, 16);
  std::memcpy(&v13, d.vertexData.data() + 13 * 16, 16);
  EXPECT_EQ(v0.y, 100.0f);
  EXPECT_EQ(v0.Diffuse, 0xFFFFFFFFu);
  EXPECT_EQ(v12.y, 0.0f);
  EXPECT_EQ(v12.Diffuse, 0u);
  EXPECT_EQ(v13.Diffuse, 0u);
  EXPECT_EQ(v13.x, 0.0f);

  // What stays behind for the ground.
  Device& dev = demo.device();
  EXPECT_EQ(dev.GetRenderState(D3DRS_ALPHABLENDENABLE), 1u);
  EXPECT_EQ(dev.GetRenderState(D3DRS_SRCBLEND), 5u);
  EXPECT_EQ(dev.GetRenderState(D3DRS_DESTBLEND), 2u);
  EXPECT_EQ(dev.GetTextureStageState(0, D3DTSS_COLOROP), 4u);
  EXPECT_EQ(dev.GetTextureStageState(0, D3DTSS_ALPHAOP), 4u);
  EXPECT_EQ(dev.GetVertexShader(), 0x42u);
  EXPECT_EQ(dev.GetTexture(0), snow().SnowTexture());
  EXPECT_EQ(dev.GetRenderState(D3DRS_FOGENABLE), 1u);
  EXPECT_EQ(dev.GetRenderState(D3DRS_ZWRITEENABLE), 1u);
  EXPECT_EQ(dev.GetRenderState(D3DRS_POINTSPRITEENABLE), 0u);
  EXPECT_EQ(dev.GetRenderState(D3DRS_POINTSCALEENABLE), 0u);
  EXPECT_EQ(dev.GetRenderState(0), 0u);
  EXPECT_TRUE(dev.GetTransform(D3DTS_WORLD) == world);
}

TEST(SnowFailures, RenderSnowBeforeInitSnowIsAnError) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  demo.device().BeginScene();
  demo.backend().calls.clear();
  try {
    demo.form.Snow.RenderSnow(demo.frame());
    FAIL() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("RenderSnow"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("InitSnow"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(demo.backend().calls.empty());
}

TEST(SnowFailures, AMissingSpriteFailsInitSnowNamingTheFileAndCreatesNoBuffer) {
  wgtest::RecordingDemo demo(wgtest::AppDirWithout("snow-no-sprite", {"tex/snow.png"}));
  demo.form.D3D.InitD3D(nullptr);
  try {
    demo.form.Snow.InitSnow(demo.device());
    FAIL() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("snow.png"), std::string::npos) << e.what();
  }
  EXPECT_EQ(demo.form.Snow.SnowVB(), nullptr);
  EXPECT_TRUE(demo.form.Snow.Flakes().empty());
}

TEST(SnowInTheDemo, StartUpLoadsTheSnowAndEveryFrameDrawsItAfterTheTreeAndBeforeTheGround) {
  wgtest::RecordingDemo demo;
  demo.startup();
  // Between the sprite's load and the next load stands the snow buffer.
  const auto& init = demo.backend().calls;
  std::size_t vb = 0;
  for (; vb < init.size(); ++vb)
    if (init[vb].name == "CreateVertexBuffer") break;
  ASSERT_LT(vb, init.size());
  EXPECT_EQ(init[vb].args, (std::vector<std::int64_t>{48000, 0x48, 0x42, 1}));
  ASSERT_GT(vb, 0u);
  EXPECT_EQ(init[vb - 1].name, "CreateTexture");

  demo.frames(3);
  EXPECT_EQ(demo.form.Snow.FlakeCount(), 3);
  demo.backend().calls.clear();
  demo.backend().draws.clear();
  demo.frames(1);
  const auto& calls = demo.backend().calls;
  std::size_t snowDraw = calls.size(), groundDraw = calls.size();
  for (std::size_t k = 0; k < calls.size(); ++k) {
    if (calls[k].name == "DrawPrimitive" && calls[k].args == std::vector<std::int64_t>{1, 0, 3000})
      snowDraw = k;
    if (calls[k].name == "DrawPrimitiveUP" && calls[k].args[0] == D3DPT_TRIANGLESTRIP &&
        snowDraw < calls.size() && groundDraw == calls.size())
      groundDraw = k;
  }
  ASSERT_LT(snowDraw, calls.size());
  ASSERT_LT(groundDraw, calls.size());
  EXPECT_LT(snowDraw, groundDraw);
  // The snow's block of calls, from the blend state to the fog's restore, holds no transform: the
  // flakes go through the world the tree left, scale 10 then translation (0, 1, 30).
  ASSERT_GE(snowDraw, 15u);
  ASSERT_LT(snowDraw + 4, calls.size());
  EXPECT_EQ(calls[snowDraw - 15].args, (std::vector<std::int64_t>{27, 1}));
  for (std::size_t k = snowDraw - 15; k <= snowDraw + 4; ++k)
    EXPECT_TRUE(calls[k].name != "SetTransform" && calls[k].name != "MultiplyTransform") << k;
  const RecordingBackend::Draw* snowPoints = nullptr;
  for (const auto& d : demo.backend().draws)
    if (d.call.type == D3DPT_POINTLIST) snowPoints = &d;
  ASSERT_NE(snowPoints, nullptr);
  const D3DVECTOR origin = d3dx::D3DXVec3TransformCoord(D3DVECTOR{0, 0, 0}, snowPoints->state.world);
  const D3DVECTOR top = d3dx::D3DXVec3TransformCoord(D3DVECTOR{-100, 100, 100}, snowPoints->state.world);
  EXPECT_NEAR(origin.x, 0, 1e-3);
  EXPECT_NEAR(origin.y, 1, 1e-3);
  EXPECT_NEAR(origin.z, 30, 1e-3);
  EXPECT_NEAR(top.x, -1000, 1e-2);
  EXPECT_NEAR(top.y, 1001, 1e-2);
  EXPECT_NEAR(top.z, 1030, 1e-2);
  EXPECT_EQ(demo.form.Snow.FlakeCount(), 4);
}

// A flake due to respawn takes its place from the generator the frame carries, and falls by the
// frame's time, not by anything the snow kept.
TEST(RenderSnow, FallsByTheFramesTimeAndRespawnsFromTheFramesGenerator) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  modSnow& snow = demo.form.Snow;
  snow.InitSnow(demo.device());
  snow.Flakes()[0] = SnowFlake{{5, 0, 5}, {0, -0.0081f, 0}, {1, 1, 1, 1}, 9};
  snow.Flakes()[1] = SnowFlake{{1, 50, 1}, {0, -0.0081f, 0}, {1, 1, 1, 1}, 0};
  demo.device().BeginScene();
  snow.RenderSnow(demo.frame());  // one flake active: the respawn
  render::Random own, twin;
  const render::FrameContext f = demo.frame();
  const render::FrameContext withOwn{f.D3DDevice, 100.0, own, f.matWorld, f.matView, f.matProj};
  snow.Flakes()[0] = SnowFlake{{5, 0, 5}, {0, -0.0081f, 0}, {1, 1, 1, 1}, 9};
  snow.RenderSnow(withOwn);  // two active: flake 0 respawns, flake 1 falls for 100 ms
  demo.device().EndScene();
  EXPECT_EQ(snow.Flakes()[0].vecPos.x, static_cast<float>(twin.Rnd() * 200 - 100));
  EXPECT_EQ(snow.Flakes()[0].vecPos.z, static_cast<float>(twin.Rnd() * 200 - 100));
  EXPECT_EQ(snow.Flakes()[1].vecPos.y, static_cast<float>(-0.0081f * 100.0 + 50.0));
  // The demo's own generator gave only the first frame's respawn.
  render::Random fresh;
  fresh.Rnd();
  fresh.Rnd();
  EXPECT_EQ(demo.form.Rnd.Rnd(), fresh.Rnd());
}

}  // namespace
