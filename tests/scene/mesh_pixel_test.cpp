// The tree rendered on the OpenGL backend from where the orbit has the camera at frame 300: it
// stands in the middle of the frame on the ground, textured, and fogged about halfway.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "platform/files/FileName.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"
#include "render/Camera.h"
#include "render/fog.h"
#include "scene/Mesh.h"
#include "scene/Plane.h"
#include "app/Card.h"
#include "tests/support/DenseConeGlb.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;

struct TreeScene {
  // `model`: a tree someone chose, drawn as the greeting draws one (lit, fitted); the application's
  // own tree when empty.
  explicit TreeScene(const std::string& model = {})
      : counter(wgtest::kFrequency),
        direct3d(true),
        platform{nullptr, &counter, &direct3d, wgtest::AppDir(), audio::OutputMode::Offline, {}},
        form(platform) {
    form.D3D.InitD3D(nullptr);
    auto& plane = form.D3D.GetPlane();
    plane.InitPlane(D3DVECTOR{0, 0, 0}, D3DVECTOR{1000, 1000, 1000});
    plane.SetTexture(*form.D3D.D3DDevice, platform::MediaPath(wgtest::AppDir(), "\\tex\\snow.jpg"));
    auto& mesh = form.D3D.GetMesh();
    mesh.Load(form.D3D.D3DDevice.get(),
              model.empty() ? platform::MediaPath(wgtest::AppDir(), "\\models\\tree.x") : model);
    if (!model.empty()) {
      mesh.SetViewerLook(true);
      mesh.FitTo(app::kTreeHeight);
    }
    mesh.SetScale(10, 10, 10);
    mesh.SetPosition(0, 1, 30);
    render::InitFog(*form.D3D.D3DDevice);
    // Frame 300 shows the placement of frame 299: 299 steps of 1000/60 ms at 0.0005 rad/ms.
    const double angle = 299 * (1000.0 / 60.0) * 0.0005;
    auto& cam = form.D3D.GetCamera();
    cam.SetPosition(static_cast<float>(std::cos(angle) * 100), 15,
                    static_cast<float>(std::sin(angle) * 100 + 30));
    cam.SetLook(D3DVECTOR{0, 10, 30});
  }
  std::vector<std::uint8_t> render(bool fog, bool tree) {
    Device& dev = *form.D3D.D3DDevice;
    dev.SetRenderState(D3DRS_FOGENABLE, fog ? 1 : 0);
    const render::FrameContext frame = form.D3D.Frame("TreeScene");
    form.D3D.GetCamera().Update(frame);
    dev.Clear(0, nullptr, 3, render::modD3D::kSkyColor, 1.0f, 0);
    dev.BeginScene();
    if (tree) form.D3D.GetMesh().Render(frame);
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

const std::uint8_t* px(const std::vector<std::uint8_t>& img, int x, int y) {
  return &img[(y * 1024 + x) * 4];
}
bool Differs(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b, int x, int y) {
  int d = 0;
  for (int c = 0; c < 3; ++c) d += std::abs(px(a, x, y)[c] - px(b, x, y)[c]);
  return d > 12;
}

TEST(TreePixels, TheTreeStandsInTheMiddleOnTheGroundTexturedAndHalfFogged) {
  TreeScene scene;
  const auto fogged = scene.render(true, true);
  const auto clear = scene.render(false, true);
  const auto bare = scene.render(true, false);
  ASSERT_EQ(fogged.size(), 1024u * 768 * 4);
  d3dx::WritePng(std::string(WG_TEST_TMP) + "/tree_frame300.png", fogged, 1024, 768);

  // The tree's outline: pixels where the scene with the tree differs from the scene without it.
  int top = 768, bottom = -1, left = 1024, right = -1;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x)
      if (Differs(fogged, bare, x, y)) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
        left = std::min(left, x);
        right = std::max(right, x);
      }
  ASSERT_GE(bottom, 0) << "no tree in the frame";
  // Some 24 units tall seen from 100 units away through a 90-degree field of view: about 90 rows,
  // centred left to right, spanning the middle row, its foot below the middle on the ground.
  EXPECT_NEAR((left + right) / 2.0, 512, 20);
  EXPECT_LT(top, 354);
  EXPECT_GT(bottom, 404);
  EXPECT_LT(bottom, 440);
  EXPECT_GT(bottom - top, 70);
  EXPECT_GT(right - left, 100);
  EXPECT_TRUE(Differs(fogged, bare, 512, 384));

  // The crown is textured: its unfogged pixels vary, and are green above all.
  int greener = 0, samples = 0, lo = 255, hi = 0;
  for (int y = 300; y < 420; y += 6)
    for (int x = 470; x < 554; x += 6) {
      if (!Differs(fogged, bare, x, y)) continue;
      const std::uint8_t* c = px(clear, x, y);
      ++samples;
      greener += c[1] > c[0] && c[1] > c[2];
      lo = std::min<int>(lo, c[1]);
      hi = std::max<int>(hi, c[1]);
    }
  ASSERT_GT(samples, 50);
  EXPECT_GT(greener * 10, samples * 7);
  EXPECT_GT(hi - lo, 25);

  // About 100 units from the eye the fog mixes the tree evenly with the sky: the fogged colour
  // lies between the tree's own and the sky's, near the middle.
  const int sky[3] = {127, 127, 180};
  double toward = 0, span = 0;
  for (int y = 330; y < 400; y += 5)
    for (int x = 490; x < 534; x += 5)
      for (int c = 0; c < 3; ++c) {
        toward += std::abs(px(fogged, x, y)[c] - px(clear, x, y)[c]);
        span += std::abs(sky[c] - px(clear, x, y)[c]);
      }
  ASSERT_GT(span, 0);
  EXPECT_GT(toward / span, 0.35);
  EXPECT_LT(toward / span, 0.7);
}

// A sender's smooth 100 000-triangle tree is drawn with the greeting's triangle budget: the frame
// stays the full model's but for a few pixels along its outline.
TEST(TreePixels, ADenseTreeDrawnWithinTheBudgetLooksAsTheFullOne) {
  const std::string path = wgtest::ScratchDir("dense-tree") + "/tree.glb";
  wgtest::WriteFile(path, wgtest::DenseConeGlb(250, 200, 0.0));
  TreeScene scene(path);
  scene::Mesh& mesh = scene.form.D3D.GetMesh();
  ASSERT_TRUE(mesh.GetMesh());
  const auto full = scene.render(true, true);
  const auto bare = scene.render(true, false);
  EXPECT_EQ(mesh.LimitTriangles(app::kMaxTreeTriangles), 100000u);
  EXPECT_LE(mesh.GetMesh()->GetNumFaces(), app::kMaxTreeTriangles);
  EXPECT_GT(mesh.GetMesh()->GetNumFaces(), app::kMaxTreeTriangles * 3 / 4) << "the budget is used";
  mesh.FitTo(app::kTreeHeight);
  const auto fewer = scene.render(true, true);
  d3dx::WritePng(std::string(WG_TEST_TMP) + "/dense_tree_full.png", full, 1024, 768);
  d3dx::WritePng(std::string(WG_TEST_TMP) + "/dense_tree_budget.png", fewer, 1024, 768);
  int tree = 0, changed = 0;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x) {
      tree += Differs(full, bare, x, y);
      changed += Differs(full, fewer, x, y);
    }
  ASSERT_GT(tree, 2000) << "no tree in the frame";
  EXPECT_LT(changed * 50, tree) << changed << " of the tree's " << tree << " pixels changed";
}

}  // namespace
