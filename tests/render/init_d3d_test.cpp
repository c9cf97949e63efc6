#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "render/Camera.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using d3dx::operator==;

TEST(InitD3D, CreatesTheFullscreenDevice) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  const auto& p = demo.direct3d.lastParams;
  EXPECT_EQ(p.BackBufferWidth, 1024u);
  EXPECT_EQ(p.BackBufferHeight, 768u);
  EXPECT_EQ(p.BackBufferCount, 1u);
  EXPECT_EQ(p.SwapEffect, 2u);
  EXPECT_EQ(p.Windowed, 0u);
  EXPECT_EQ(p.EnableAutoDepthStencil, 1u);
  EXPECT_EQ(p.AutoDepthStencilFormat, 80u);
  EXPECT_EQ(p.FullScreen_PresentationInterval, 0u);
  EXPECT_EQ(demo.direct3d.lastBehaviorFlags, 0x20u);
}

TEST(InitD3D, LeavesTheFixedStatesOnTheDevice) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  Device& dev = demo.device();
  EXPECT_EQ(dev.GetRenderState(D3DRS_ZENABLE), 1u);
  EXPECT_EQ(dev.GetRenderState(D3DRS_LIGHTING), 0u);
  EXPECT_EQ(dev.GetRenderState(D3DRS_CULLMODE), 1u);
  EXPECT_EQ(dev.GetRenderState(D3DRS_SHADEMODE), 1u);
  EXPECT_EQ(dev.GetTextureStageState(0, D3DTSS_MAGFILTER), 2u);
  EXPECT_EQ(dev.GetTextureStageState(0, D3DTSS_MINFILTER), 2u);
  EXPECT_EQ(dev.GetTextureStageState(0, D3DTSS_MIPFILTER), 2u);
  ASSERT_NE(demo.form.D3D.GroundTexture, nullptr);
  EXPECT_GT(demo.form.D3D.GroundTexture->levels.size(), 1u);  // a full mip chain
  EXPECT_EQ(demo.form.D3D.GroundTexture->levels.back().width, 1);
}

TEST(InitD3D, ProjectionHasAspectThreeQuarters) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  const D3DMATRIX m = demo.device().GetTransform(D3DTS_PROJECTION);
  EXPECT_TRUE(m == demo.form.D3D.matProj);
  const double yScale = 1.0 / std::tan(1.57 / 2.0);
  EXPECT_NEAR(m.m[1][1], yScale, 1e-5);
  EXPECT_NEAR(m.m[0][0], yScale / 0.75, 1e-5);
  EXPECT_NEAR(m.m[0][0], 1.3344, 1e-4);
  EXPECT_NEAR(m.m[2][2], 1000.0 / 999.9, 1e-6);
  EXPECT_NEAR(m.m[2][2], 1.0001, 1e-4);
  EXPECT_NEAR(m.m[3][2], -0.10001, 1e-5);
  EXPECT_EQ(m.m[2][3], 1.0f);
  EXPECT_EQ(m.m[3][3], 0.0f);
  EXPECT_EQ(m.m[0][1], 0.0f);
}

TEST(InitD3D, PlacesTheCameraAtItsStart) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  const auto p = demo.form.D3D.GetCamera().GetPosition();
  EXPECT_EQ(p.x, 0.0f);
  EXPECT_EQ(p.y, 3.0f);
  EXPECT_EQ(p.z, 0.0f);
  EXPECT_FALSE(demo.form.D3D.GetCamera().UsesLook());
}

TEST(InitD3D, AMissingGroundTextureStopsStartupNamingTheFile) {
  const std::string dir = wgtest::AppDirWithout("no-snow-jpg", {"tex/snow.jpg"});
  wgtest::RecordingDemo demo(dir);
  try {
    demo.form.Startup();
    FAIL() << "start-up went on without snow.jpg";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("D3DXCreateTextureFromFile"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(dir + "/tex/snow.jpg"), std::string::npos) << e.what();
  }
  // It stopped inside InitD3D: the device exists, nothing after it was set up.
  ASSERT_NE(demo.direct3d.last, nullptr);
  for (const auto& c : demo.backend().calls) EXPECT_NE(c.name, "DrawPrimitiveUP");
  EXPECT_EQ(demo.backend().presents, 0);
  EXPECT_EQ(demo.device().GetRenderState(D3DRS_FOGENABLE), 0u);
}

TEST(RenderFrame, ClearsToTheSkyColourAndPresentsOnce) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.frames(1);
  auto& b = demo.backend();
  EXPECT_EQ(b.clears, 1);
  EXPECT_EQ(b.presents, 1);
  EXPECT_EQ(b.lastClearFlags, 3u);
  EXPECT_EQ(b.lastClearColor, 0xFF7F7FB4u);
  // The stopwatch measured the frame from its first step to the end of its Present.
  EXPECT_NEAR(demo.form.API.FrameTime, 1000.0 / 60.0, 1e-9);
}

}  // namespace
