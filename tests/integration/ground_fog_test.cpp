// The ground seen from the orbit, rendered on the OpenGL backend: where fog leaves it alone, where
// it blends it evenly with the sky, and where the sky takes it over.
#include <gtest/gtest.h>

#include <stb_image.h>

#include <cmath>
#include <cstdlib>

#include "platform/files/FileName.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/gl/GlDirect3D8.h"
#include "render/Camera.h"
#include "render/fog.h"
#include "scene/Plane.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;

// The screen row (D3D pixel centres) at which the ground straight ahead of an eye at (100, 15, 30)
// looking at (0, 10, 30) lies `depth` units deep in view space.
double rowAtViewDepth(const D3DMATRIX& view, const D3DMATRIX& proj, double depth) {
  // Ground points (100 - s, 0, 30): view depth grows linearly with s.
  auto depthOf = [&](double s) {
    return d3dx::D3DXVec3TransformCoord(D3DVECTOR{static_cast<float>(100 - s), 0, 30}, view).z;
  };
  const double d0 = depthOf(0), d1 = depthOf(1);
  const double s = (depth - d0) / (d1 - d0);
  D3DMATRIX vp;
  d3dx::D3DXMatrixMultiply(&vp, &view, &proj);
  const D3DVECTOR ndc = d3dx::D3DXVec3TransformCoord(D3DVECTOR{static_cast<float>(100 - s), 0, 30}, vp);
  return (1.0 - ndc.y) * 0.5 * 768.0 - 0.5;
}

struct GroundScene {
  GroundScene() : counter(wgtest::kFrequency), direct3d(true), platform{nullptr, &counter, &direct3d, wgtest::AppDir(), audio::OutputMode::Offline, {}},
                  form(platform) {
    form.D3D.InitD3D(nullptr);
    auto& plane = form.D3D.GetPlane();
    plane.InitPlane(D3DVECTOR{0, 0, 0}, D3DVECTOR{1000, 1000, 1000});
    plane.SetTexture(*form.D3D.D3DDevice, platform::MediaPath(wgtest::AppDir(), "\\tex\\snow.jpg"));
    render::InitFog(*form.D3D.D3DDevice);
    auto& cam = form.D3D.GetCamera();
    cam.SetPosition(100, 15, 30);
    cam.SetLook(D3DVECTOR{0, 10, 30});
  }
  std::vector<std::uint8_t> render(bool fog) {
    Device& dev = *form.D3D.D3DDevice;
    dev.SetRenderState(D3DRS_FOGENABLE, fog ? 1 : 0);
    const render::FrameContext frame = form.D3D.Frame("GroundScene");
    form.D3D.GetCamera().Update(frame);
    dev.Clear(0, nullptr, 3, render::modD3D::kSkyColor, 1.0f, 0);
    dev.BeginScene();
    form.D3D.GetPlane().RenderPlane(frame);
    dev.EndScene();
    dev.Present(nullptr, nullptr, nullptr, nullptr);
    DWORD w, h;
    return dev.GetBackend().readBack(w, h);
  }
  platform::VirtualPerformanceCounter counter;
  gl::GlDirect3D8 direct3d;
  app::Platform platform;
  app::Form1 form;
};

const std::uint8_t* px(const std::vector<std::uint8_t>& img, int x, int y) { return &img[(y * 1024 + x) * 4]; }

TEST(GroundFog, FiftyUnitsDeepIsUnfoggedHundredIsAnEvenBlendHundredFiftyIsSky) {
  GroundScene scene;
  const auto fogged = scene.render(true);
  const auto clear = scene.render(false);
  const D3DMATRIX view = scene.form.D3D.matView, proj = scene.form.D3D.matProj;
  const int row50 = static_cast<int>(std::lround(rowAtViewDepth(view, proj, 50)));
  const int row100 = static_cast<int>(std::lround(rowAtViewDepth(view, proj, 100)));
  const int row150 = static_cast<int>(std::lround(rowAtViewDepth(view, proj, 150)));
  ASSERT_GT(row50, row100);
  ASSERT_GT(row100, row150);
  ASSERT_LT(row50, 768);
  const int sky[3] = {127, 127, 180};
  for (int x = 40; x < 1000; x += 37) {
    // 50 deep (a row or two nearer, to stay clear of rounding): the ground's own colour.
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(px(fogged, x, row50 + 2)[c], px(clear, x, row50 + 2)[c], 3) << x;
    // 100 deep: the even blend of the ground and the sky.
    for (int c = 0; c < 3; ++c)
      EXPECT_NEAR(px(fogged, x, row100)[c], 0.5 * px(clear, x, row100)[c] + 0.5 * sky[c], 3) << x;
    // 150 deep and beyond, up to the horizon: the sky colour exactly.
    for (int c = 0; c < 3; ++c) EXPECT_EQ(px(fogged, x, row150 - 2)[c], sky[c]) << x;
  }
  // The unfogged ground is textured snow, visibly not the sky colour, at 50 units.
  const std::uint8_t* g = px(clear, 512, row50 + 2);
  EXPECT_GT(std::abs(g[0] - 127) + std::abs(g[1] - 127) + std::abs(g[2] - 180), 40);
}

TEST(GroundFog, GroundFillsTheLowerFrameAndSkyTheUpper) {
  GroundScene scene;
  const auto img = scene.render(true);
  // Bottom row: the nearest ground, textured, not sky.
  int ground = 0;
  for (int x = 0; x < 1024; ++x) {
    const std::uint8_t* p = px(img, x, 767);
    if (p[0] != 127 || p[1] != 127 || p[2] != 180) ++ground;
  }
  EXPECT_EQ(ground, 1024);
  // Top row: the sky above the horizon.
  for (int x = 0; x < 1024; x += 8) {
    const std::uint8_t* p = px(img, x, 0);
    EXPECT_EQ(p[0], 127);
    EXPECT_EQ(p[2], 180);
  }
}

}  // namespace
