#include <gtest/gtest.h>

#include <cmath>

#include "platform/d3d/d3dxmath.h"
#include "render/Camera.h"
#include "render/fog.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using d3dx::operator==;

D3DMATRIX identity() {
  D3DMATRIX m;
  d3dx::D3DXMatrixIdentity(&m);
  return m;
}

TEST(Camera, UpdateOnAFreshCameraSetsAnIdentityView) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  render::Camera camera;
  camera.Update(demo.frame());
  EXPECT_TRUE(demo.device().GetTransform(D3DTS_VIEW) == identity());
  EXPECT_TRUE(demo.device().GetTransform(D3DTS_WORLD) == identity());
  EXPECT_TRUE(demo.form.D3D.matWorld == identity());
  EXPECT_TRUE(demo.device().GetTransform(D3DTS_PROJECTION) == demo.form.D3D.matProj);
}

TEST(Camera, UpdateSendsProjectionViewThenWorld) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  demo.backend().calls.clear();
  demo.form.D3D.GetCamera().Update(demo.frame());
  const auto& calls = demo.backend().calls;
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[0].args, (std::vector<std::int64_t>{3}));
  EXPECT_EQ(calls[1].args, (std::vector<std::int64_t>{2}));
  EXPECT_EQ(calls[2].args, (std::vector<std::int64_t>{256}));
}

TEST(Camera, TheFirstFrameIsViewedFromTheStartInRotationMode) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.frames(1);
  // The view of frame 1 was sent before the orbit step: a translation by (0, -3, 0).
  const auto& calls = demo.backend().calls;
  D3DMATRIX view{};
  bool found = false;
  for (const auto& c : calls)
    if (c.name == "SetTransform" && c.args[0] == D3DTS_VIEW) {
      view = c.matrix;
      found = true;
      break;
    }
  ASSERT_TRUE(found);
  D3DMATRIX expected;
  d3dx::D3DXMatrixTranslation(&expected, 0, -3, 0);
  EXPECT_TRUE(view == expected);
}

TEST(Camera, TheSecondFrameLooksFromTheOrbitStartAtTheTree) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.frames(1);
  demo.backend().calls.clear();
  demo.frames(1);
  const D3DMATRIX v = demo.form.D3D.matView;
  // Eye (100, 15, 30), target (0, 10, 30), up +Y.
  const double dx = -100, dy = -5, len = std::sqrt(dx * dx + dy * dy);
  const double zx = dx / len, zy = dy / len;           // zaxis
  const double xz = -zx;                                // xaxis = (0, 0, -zx) normalised... = (0,0,1)·sign
  (void)xz;
  // xaxis = normalise(cross(up, z)) = normalise((z.z, 0, -z.x)) = (0, 0, 1) since z.x < 0.
  // yaxis = cross(z, x) = (z.y, -z.x, 0).
  const double ex = 100, ey = 15, ez = 30;
  const double expected[4][4] = {
      {0, zy, zx, 0},
      {0, -zx, zy, 0},
      {1, 0, 0, 0},
      {-ez, -(zy * ex - zx * ey), -(zx * ex + zy * ey), 1},
  };
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(v.m[i][j], expected[i][j], 1e-5) << i << "," << j;
  // And exactly the D3DX look-at of those points.
  D3DMATRIX lookAt;
  const D3DVECTOR eye{100, 15, 30}, at{0, 10, 30}, up{0, 1, 0};
  d3dx::D3DXMatrixLookAtLH(&lookAt, &eye, &at, &up);
  EXPECT_TRUE(v == lookAt);
  EXPECT_TRUE(demo.device().GetTransform(D3DTS_VIEW) == lookAt);
}

TEST(Camera, SetRotationAfterSetLookReturnsToRotationMode) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  render::Camera camera;
  camera.SetLook(D3DVECTOR{1, 2, 3});
  EXPECT_TRUE(camera.UsesLook());
  camera.SetRotation(0.25f, -0.5f);
  EXPECT_FALSE(camera.UsesLook());
  const D3DVECTOR r = camera.GetRotation();
  EXPECT_EQ(r.x, 0.25f);
  EXPECT_EQ(r.y, -0.5f);
  EXPECT_EQ(r.z, 0.0f);
}

TEST(Camera, SetPositionKeepsLookAtMode) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  render::Camera camera;
  camera.SetLook(D3DVECTOR{0, 10, 30});
  camera.SetPosition(5, 6, 7);
  EXPECT_TRUE(camera.UsesLook());
  camera.Update(demo.frame());
  D3DMATRIX lookAt;
  const D3DVECTOR eye{5, 6, 7}, at{0, 10, 30}, up{0, 1, 0};
  d3dx::D3DXMatrixLookAtLH(&lookAt, &eye, &at, &up);
  EXPECT_TRUE(demo.form.D3D.matView == lookAt);
}

TEST(Camera, RotationModeRotatesAboutYThenXThenTranslates) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  render::Camera camera;
  camera.SetPosition(1, 2, 3);
  camera.SetRotation(0.3f, 0.7f);
  camera.Update(demo.frame());
  D3DMATRIX ry, rx, t, a, expected;
  d3dx::D3DXMatrixRotationY(&ry, 0.7f);
  d3dx::D3DXMatrixRotationX(&rx, 0.3f);
  d3dx::D3DXMatrixTranslation(&t, -1, -2, -3);
  d3dx::D3DXMatrixMultiply(&a, &ry, &rx);
  d3dx::D3DXMatrixMultiply(&expected, &a, &t);
  EXPECT_TRUE(demo.form.D3D.matView == expected);
}

TEST(MoveCamera, AThousandMillisecondFrameAdvancesHalfARadian) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  demo.form.API.FrameTime = 1000.0;
  demo.form.D3D.MoveCamera();
  EXPECT_FLOAT_EQ(demo.form.D3D.OrbitAngle, 0.5f);
  EXPECT_FLOAT_EQ(demo.form.D3D.CamX, static_cast<float>(std::cos(0.5) * 100));
  EXPECT_FLOAT_EQ(demo.form.D3D.CamZ, static_cast<float>(std::sin(0.5) * 100 + 30));
  const D3DVECTOR p = demo.form.D3D.GetCamera().GetPosition();
  EXPECT_EQ(p.y, 15.0f);
  EXPECT_TRUE(demo.form.D3D.GetCamera().UsesLook());
}

// Reduced motion: the orbit and the snow's frames take a quarter of the frame's time; the stopwatch
// itself keeps the whole span.
TEST(MoveCamera, AMotionScaleSlowsTheOrbitAndTheSnowsFrameTimeOnly) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  demo.form.API.FrameTime = 1000.0;
  demo.form.D3D.MotionScale = 0.25;
  demo.form.D3D.MoveCamera();
  EXPECT_FLOAT_EQ(demo.form.D3D.OrbitAngle, 0.125f);
  EXPECT_EQ(demo.frame().FrameTime, 250.0);
  EXPECT_EQ(demo.form.API.FrameTime, 1000.0);
  demo.form.D3D.MotionScale = 0.0;
  demo.form.D3D.MoveCamera();
  EXPECT_FLOAT_EQ(demo.form.D3D.OrbitAngle, 0.125f);
  EXPECT_EQ(demo.frame().FrameTime, 0.0);
}

TEST(MoveCamera, TheFirstFrameDoesNotMoveTheOrbit) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.frames(1);
  EXPECT_EQ(demo.form.D3D.OrbitAngle, 0.0f);
  EXPECT_EQ(demo.form.D3D.CamX, 100.0f);
  EXPECT_EQ(demo.form.D3D.CamZ, 30.0f);
}

TEST(FloatBits, ReinterpretsTheBytes) {
  EXPECT_EQ(render::FloatBits(1.0f), 0x3F800000);
  EXPECT_EQ(static_cast<std::uint32_t>(render::FloatBits(-2.0f)), 0xC0000000u);
  EXPECT_LT(render::FloatBits(-2.0f), 0);
  EXPECT_EQ(render::FloatBits(0.0f), 0);
  EXPECT_EQ(render::FloatBits(50.0f), 0x42480000);
  EXPECT_EQ(render::FloatBits(150.0f), 0x43160000);
  EXPECT_EQ(render::FloatBits(static_cast<float>(1.0 / 100.0)), 0x3C23D70A);
}

TEST(InitFog, SetsItsSevenStatesInOrder) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  demo.backend().calls.clear();
  render::InitFog(demo.device());
  const std::vector<std::vector<std::int64_t>> expected{
      {28, 1}, {35, 3}, {140, 0}, {34, 0xFF7F7FB4}, {36, 0x42480000}, {37, 0x43160000}, {38, 0x3C23D70A}};
  const auto& calls = demo.backend().calls;
  ASSERT_EQ(calls.size(), expected.size());
  for (std::size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].name, "SetRenderState");
    EXPECT_EQ(calls[i].args, expected[i]) << i;
  }
}

}  // namespace

namespace {

TEST(MoveCamera, TheOrbitKeepsMovingAfterDaysOfFrames) {
  wgtest::RecordingDemo demo;
  demo.form.D3D.InitD3D(nullptr);
  // Three days at 60 fps put an ever-growing angle near 2^17 radians, where a float's step is
  // 1/64 rad: larger than a frame's 1/120 rad, so it would no longer advance evenly.
  demo.form.D3D.OrbitAngle = 6.0f;
  demo.form.API.FrameTime = 3.0 * 24 * 3600 * 1000;
  demo.form.D3D.MoveCamera();
  EXPECT_GE(demo.form.D3D.OrbitAngle, 0.0f);
  EXPECT_LT(demo.form.D3D.OrbitAngle, 6.2832f);
  demo.form.API.FrameTime = 1000.0 / 60.0;
  float previous = demo.form.D3D.OrbitAngle;
  for (int i = 0; i < 2000; ++i) {
    demo.form.D3D.MoveCamera();
    const float a = demo.form.D3D.OrbitAngle;
    const float step = a >= previous ? a - previous : a + 6.2831853f - previous;
    EXPECT_NEAR(step, 1.0 / 120.0, 1e-5) << i;
    previous = a;
  }
}

}  // namespace
