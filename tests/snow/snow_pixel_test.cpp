// The snow drawn by the OpenGL backend: sprite size by distance, zero slots adding nothing, fog left
// off for the flakes, and the ground drawn afterwards covering them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>

#include "platform/files/FileName.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/gl/GlDirect3D8.h"
#include "render/fog.h"
#include "scene/Plane.h"
#include "snow/modSnow.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using snow::SnowFlake;

struct Pixel {
  int x, y;
};

struct SnowScene {
  SnowScene()
      : counter(wgtest::kFrequency),
        direct3d(true),
        platform{nullptr, &counter, &direct3d, wgtest::AppDir(), audio::OutputMode::Offline, {}},
        form(platform) {
    form.D3D.InitD3D(nullptr);
    form.Snow.InitSnow(dev());
    render::InitFog(dev());
    form.API.FrameTime = 0;
    // The tree's world, which the snow is drawn through in the demo.
    D3DMATRIX s, t;
    d3dx::D3DXMatrixScaling(&s, 10, 10, 10);
    d3dx::D3DXMatrixTranslation(&t, 0, 1, 30);
    d3dx::D3DXMatrixMultiply(&treeWorld, &s, &t);
  }
  Device& dev() { return *form.D3D.D3DDevice; }
  void snow() { form.Snow.RenderSnow(form.D3D.Frame("RenderSnow")); }
  void look(D3DVECTOR e, D3DVECTOR at) {
    eye = e;
    const D3DVECTOR up{0, 1, 0};
    d3dx::D3DXMatrixLookAtLH(&view, &eye, &at, &up);
  }
  // One flake standing still at `pos` in snow coordinates, fully opaque white.
  void placeFlake(D3DVECTOR pos) { form.Snow.Flakes()[0] = SnowFlake{pos, {0, 0, 0}, {1, 1, 1, 1}, 0}; }
  // Where a snow-space point lands on the screen, in pixels.
  Pixel project(D3DVECTOR snowPos) {
    D3DMATRIX wv, wvp;
    d3dx::D3DXMatrixMultiply(&wv, &treeWorld, &view);
    d3dx::D3DXMatrixMultiply(&wvp, &wv, &form.D3D.matProj);
    const D3DVECTOR ndc = d3dx::D3DXVec3TransformCoord(snowPos, wvp);
    return Pixel{static_cast<int>(std::floor((ndc.x + 1) * 0.5 * 1024)),
                 static_cast<int>(std::floor((1 - ndc.y) * 0.5 * 768))};
  }
  std::vector<std::uint8_t> frame(D3DCOLOR clearColor, const std::function<void()>& draw) {
    dev().SetTransform(D3DTS_PROJECTION, form.D3D.matProj);
    dev().SetTransform(D3DTS_VIEW, view);
    dev().SetTransform(D3DTS_WORLD, treeWorld);
    dev().Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
    dev().BeginScene();
    draw();
    dev().EndScene();
    dev().Present(nullptr, nullptr, nullptr, nullptr);
    DWORD w = 0, h = 0;
    auto img = dev().GetBackend().readBack(w, h);
    EXPECT_EQ(w, 1024u);
    EXPECT_EQ(h, 768u);
    return img;
  }

  platform::VirtualPerformanceCounter counter;
  gl::GlDirect3D8 direct3d;
  app::Platform platform;
  app::Form1 form;
  D3DMATRIX treeWorld{}, view{};
  D3DVECTOR eye{};
};

const std::uint8_t* px(const std::vector<std::uint8_t>& img, int x, int y) {
  return &img[(y * 1024 + x) * 4];
}

// Width and height of the box of lit pixels (any channel above `floor`) within 40 px of `c`.
std::pair<int, int> litBox(const std::vector<std::uint8_t>& img, Pixel c, int floor = 0) {
  int x0 = 1 << 30, x1 = -1, y0 = 1 << 30, y1 = -1;
  for (int y = std::max(0, c.y - 40); y < std::min(768, c.y + 40); ++y)
    for (int x = std::max(0, c.x - 40); x < std::min(1024, c.x + 40); ++x) {
      const std::uint8_t* p = px(img, x, y);
      if (p[0] > floor || p[1] > floor || p[2] > floor) {
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
      }
    }
  return x1 < 0 ? std::pair{0, 0} : std::pair{x1 - x0 + 1, y1 - y0 + 1};
}

TEST(SnowPixels, AFlakeAHundredUnitsAwayIsAboutTenPixelsWideAndHalfThatAtTwoHundred) {
  SnowScene scene;
  const D3DVECTOR flake{0, 50, 0};  // world (0, 501, 30)
  for (const float distance : {100.0f, 200.0f}) {
    scene.look(D3DVECTOR{0, 501, 30 - distance}, D3DVECTOR{0, 501, 30});
    scene.placeFlake(flake);
    const auto img = scene.frame(0xFF000000, [&] { scene.snow(); });
    const Pixel c = scene.project(flake);
    EXPECT_EQ(c.x, 512);
    EXPECT_EQ(c.y, 384);
    // 768 x sqrt(1 / (0.6 + 0.6 d + 0.6 d^2)) pixels.
    const double size = 768.0 / std::sqrt(0.6 + 0.6 * distance + 0.6 * distance * distance);
    const auto [w, h] = litBox(img, c);
    EXPECT_NEAR(w, size, 1.5) << distance;
    EXPECT_NEAR(h, size, 1.5) << distance;
    // A white flake: bright and grey, brightest in its middle.
    const std::uint8_t* mid = px(img, c.x, c.y);
    EXPECT_GT(mid[0], 120) << distance;
    EXPECT_EQ(mid[0], mid[1]);
    EXPECT_EQ(mid[1], mid[2]);
    EXPECT_GE(mid[0], px(img, c.x + 3, c.y)[0]);
  }
}

TEST(SnowPixels, ZeroFilledSlotsAddNothingToTheFrame) {
  SnowScene scene;
  scene.look(D3DVECTOR{0, 15, -70}, D3DVECTOR{0, 1, 30});
  // Every one of the 3000 points lies at the snow origin, in view, fully transparent.
  const auto with = scene.frame(render::modD3D::kSkyColor, [&] { scene.snow(); });
  ASSERT_EQ(scene.form.Snow.Flakes()[0].ColorValue.a, 0.0f);
  const auto without = scene.frame(render::modD3D::kSkyColor, [] {});
  EXPECT_TRUE(with == without);
}

TEST(SnowPixels, FogDoesNotTouchTheFlakes) {
  SnowScene scene;
  // 140 units deep: fog would leave a tenth of the flake's own colour.
  const D3DVECTOR flake{0, 50, 0};
  scene.look(D3DVECTOR{0, 501, -110}, D3DVECTOR{0, 501, 30});
  scene.placeFlake(flake);
  scene.dev().SetRenderState(D3DRS_FOGENABLE, 1);
  const auto fogOn = scene.frame(0xFF000000, [&] { scene.snow(); });
  EXPECT_EQ(scene.dev().GetRenderState(D3DRS_FOGENABLE), 1u);
  scene.dev().SetRenderState(D3DRS_FOGENABLE, 0);
  const auto fogOff = scene.frame(0xFF000000, [&] { scene.snow(); });
  EXPECT_TRUE(fogOn == fogOff);
  const Pixel c = scene.project(flake);
  const std::uint8_t* mid = px(fogOn, c.x, c.y);
  EXPECT_GT(mid[0], 120);
  EXPECT_EQ(mid[0], mid[2]);  // no blue from the sky colour
}

TEST(SnowPixels, TheGroundDrawnAfterTheSnowReplacesTheFlakesItCovers) {
  SnowScene scene;
  auto& plane = scene.form.D3D.GetPlane();
  plane.InitPlane(D3DVECTOR{0, 0, 0}, D3DVECTOR{1000, 1000, 1000});
  plane.SetTexture(scene.dev(), platform::MediaPath(wgtest::AppDir(), "\\tex\\snow.jpg"));
  // From the orbit's first place, a flake 4 units above the ground lies in front of ground farther away.
  scene.look(D3DVECTOR{100, 15, 30}, D3DVECTOR{0, 10, 30});
  const D3DVECTOR flake{6, 0.4f, 0};  // world (61, 5, 30)
  const Pixel c = scene.project(flake);
  ASSERT_GT(c.y, 384);

  const auto ground = [&] { plane.RenderPlane(scene.form.D3D.Frame("RenderPlane")); };
  scene.placeFlake(flake);
  const auto snowOnly = scene.frame(render::modD3D::kSkyColor, [&] { scene.snow(); });
  const std::uint8_t* lit = px(snowOnly, c.x, c.y);
  EXPECT_GT(lit[0], 200);  // the flake brightens the sky behind it

  scene.placeFlake(flake);
  const auto snowThenGround = scene.frame(render::modD3D::kSkyColor, [&] {
    scene.snow();
    ground();
  });
  const auto groundOnly = scene.frame(render::modD3D::kSkyColor, ground);
  for (int y = c.y - 20; y <= c.y + 20; ++y)
    for (int x = c.x - 20; x <= c.x + 20; ++x)
      for (int k = 0; k < 3; ++k)
        ASSERT_EQ(px(snowThenGround, x, y)[k], px(groundOnly, x, y)[k]) << x << "," << y;
}

}  // namespace
