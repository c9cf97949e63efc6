// Whole frames of the running demo, rendered on the OpenGL backend with the headless program's clock
// (1000/60 ms a frame): the greeting and the credit line, the ground under the orbiting camera with
// its fogged horizon where the projection puts it, the tree, and the snow once it has filled the sky.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <vector>

#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"
#include "render/Camera.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using Image = std::vector<std::uint8_t>;

constexpr int kSky[3] = {127, 127, 180};

struct HeadlessDemo : wgtest::GlDemo {
  // Renders up to frame `last` and keeps the frames asked for, with the view each was drawn with.
  void run(int last, const std::set<int>& keep) {
    for (int f = frame + 1; f <= last; ++f) {
      // Each frame is viewed from where the frame before placed the camera.
      const D3DVECTOR eye = form.D3D.GetCamera().GetPosition();
      form.MainLoop(1);
      frame = f;
      if (keep.count(f)) {
        DWORD w = 0, h = 0;
        frames[f] = form.D3D.D3DDevice->GetBackend().readBack(w, h);
        views[f] = form.D3D.matView;
        eyes[f] = eye;
        // Kept beside the test's other scratch files, for a person to look at.
        d3dx::WritePng(std::string(WG_TEST_TMP) + "/demo-frame-" + std::to_string(f) + ".png", frames[f],
                       1024, 768);
      }
    }
  }
  int frame = 0;
  std::map<int, Image> frames;
  std::map<int, D3DMATRIX> views;
  std::map<int, D3DVECTOR> eyes;
};

const std::uint8_t* px(const Image& img, int x, int y) {
  return &img[(static_cast<std::size_t>(y) * 1024 + x) * 4];
}

int skyDistance(const Image& img, int x, int y) {
  const std::uint8_t* p = px(img, x, y);
  return std::abs(p[0] - kSky[0]) + std::abs(p[1] - kSky[1]) + std::abs(p[2] - kSky[2]);
}

bool isRed(const std::uint8_t* p) {
  return p[0] > 180 && p[1] < 90 && p[2] < 110;
}

// Mean distance from the sky colour over a block of pixels.
double meanSkyDistance(const Image& img, int x0, int x1, int y0, int y1) {
  double sum = 0;
  for (int y = y0; y < y1; ++y)
    for (int x = x0; x < x1; ++x) sum += skyDistance(img, x, y);
  return sum / ((x1 - x0) * (y1 - y0));
}

// The screen row (pixel centres) of the ground straight ahead that lies `depth` units deep in view
// space, for a camera on the orbit looking at (0, 10, 30) from height 15.
double groundRowAtDepth(const D3DMATRIX& view, const D3DMATRIX& proj, const D3DVECTOR& eye, double depth) {
  // Ground points on the line from below the eye towards below the target: view depth is linear in s.
  const double dx = -eye.x, dz = 30.0 - eye.z;
  const double len = std::hypot(dx, dz);
  auto at = [&](double s) {
    return D3DVECTOR{static_cast<float>(eye.x + dx / len * s), 0.0f,
                     static_cast<float>(eye.z + dz / len * s)};
  };
  const double d0 = d3dx::D3DXVec3TransformCoord(at(0), view).z;
  const double d1 = d3dx::D3DXVec3TransformCoord(at(1), view).z;
  D3DMATRIX vp;
  d3dx::D3DXMatrixMultiply(&vp, &view, &proj);
  const D3DVECTOR ndc = d3dx::D3DXVec3TransformCoord(at((depth - d0) / (d1 - d0)), vp);
  return (1.0 - ndc.y) * 0.5 * 768.0 - 0.5;
}

TEST(DemoFrames, TheGreetingStandsAtFourHundredTwentyAndTheFirstCreditFlickersAfterTwoSeconds) {
  HeadlessDemo demo;
  demo.run(123, {1, 122, 123});

  // Frame 1: the red greeting, its first glyph's box a few pixels right of and below (400, 20).
  const Image& first = demo.frames[1];
  int minX = 1024, minY = 768, maxX = -1, maxY = -1, red = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 1024; ++x)
      if (isRed(px(first, x, y))) {
        ++red;
        minX = std::min(minX, x), maxX = std::max(maxX, x);
        minY = std::min(minY, y), maxY = std::max(maxY, y);
      }
  ASSERT_GT(red, 300);
  EXPECT_GE(minX, 400);
  EXPECT_LE(minX, 404);
  EXPECT_GE(minY, 20);
  EXPECT_LE(minY, 28);
  EXPECT_LE(maxY, 20 + 30);  // a 24-pixel cell; the descenders of "Д" reach a little below it
  EXPECT_GT(maxX, 600);      // the whole line, not a glyph or two

  // Index 0 draws no credit line: left of the tree, the credit band is the sky and the snow.
  EXPECT_LT(meanSkyDistance(first, 300, 420, 200, 224), 2.0);

  // Two seconds on the timer has ticked: "Автор демки: Morvelan" at (300, 200), in a colour drawn
  // anew every frame.
  EXPECT_EQ(demo.form.Titles.TitleIndex, 1);
  const Image& a = demo.frames[122];
  const Image& b = demo.frames[123];
  int textA = 0;
  long changed = 0;
  int minTextX = 1024, minTextY = 768;
  for (int y = 196; y < 232; ++y)
    for (int x = 290; x < 420; ++x) {
      if (skyDistance(a, x, y) > 60) {
        ++textA;
        minTextX = std::min(minTextX, x);
        minTextY = std::min(minTextY, y);
      }
      const std::uint8_t *p = px(a, x, y), *q = px(b, x, y);
      changed += std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]);
    }
  EXPECT_GT(textA, 200);
  EXPECT_GE(minTextX, 300);
  EXPECT_LE(minTextX, 304);
  EXPECT_GE(minTextY, 200);
  EXPECT_LE(minTextY, 208);
  EXPECT_GT(changed, 2000) << "the credit line kept its colour from one frame to the next";
}

TEST(DemoFrames, TheGroundFillsTheLowerFrameUpToTheFoggedHorizonAndTheOrbitMovesIt) {
  HeadlessDemo demo;
  demo.run(300, {2, 300});
  const D3DMATRIX proj = demo.form.D3D.matProj;

  for (int f : {2, 300}) {
    SCOPED_TRACE(f);
    const Image& img = demo.frames[f];
    const D3DVECTOR eye = demo.eyes[f];
    EXPECT_EQ(eye.y, 15.0f);

    // From the row where the ground is 150 units deep up to the horizon, fog has made it the sky.
    const int row150 = static_cast<int>(std::floor(groundRowAtDepth(demo.views[f], proj, eye, 150)));
    const int row110 = static_cast<int>(std::ceil(groundRowAtDepth(demo.views[f], proj, eye, 110)));
    ASSERT_GT(row110, row150 + 5);
    ASSERT_LT(row110, 768);
    // Columns clear of the tree in the middle.
    EXPECT_LT(meanSkyDistance(img, 0, 300, row150 - 12, row150 - 1), 3.0) << "rows above " << row150;
    EXPECT_LT(meanSkyDistance(img, 724, 1024, row150 - 12, row150 - 1), 3.0) << "rows above " << row150;
    // Nearer than that the snow-white ground shows through, more and more towards the bottom.
    const double at110 = meanSkyDistance(img, 0, 300, row110, row110 + 4);
    const double bottom = meanSkyDistance(img, 0, 1024, 740, 768);
    EXPECT_GT(at110, 20.0);
    EXPECT_GT(bottom, at110);
    // The bottom of the frame is textured, not flat: neighbouring pixels differ.
    long texture = 0;
    for (int x = 1; x < 1024; ++x) texture += std::abs(px(img, x, 760)[1] - px(img, x - 1, 760)[1]);
    EXPECT_GT(texture, 400);
  }

  // The camera has travelled round the tree between frame 2 and frame 300: the ground differs.
  long moved = 0;
  for (int y = 500; y < 768; y += 3)
    for (int x = 0; x < 1024; x += 3)
      moved += std::abs(px(demo.frames[2], x, y)[1] - px(demo.frames[300], x, y)[1]);
  EXPECT_GT(moved, 100000);

  // The tree stands in the middle, greener than the fog and the sky around it, fogged part-way.
  const std::uint8_t* tree = px(demo.frames[300], 512, 385);
  EXPECT_GT(skyDistance(demo.frames[300], 512, 385), 30);
  EXPECT_GT(tree[1], tree[0]);
}

TEST(DemoFrames, AfterThirtySecondsSnowFallsAcrossTheWholeView) {
  HeadlessDemo demo;
  demo.run(1800, {1800});
  const Image& img = demo.frames[1800];
  // Flakes in the sky: pixels brighter than the sky, in each quarter of the sky above the tree top,
  // away from the greeting and the credit line.
  const int bands[][4] = {{0, 512, 60, 190}, {512, 1024, 60, 190}, {0, 512, 240, 330}, {512, 1024, 240, 330}};
  for (const auto& q : bands) {
    int flakes = 0;
    for (int y = q[2]; y < q[3]; ++y)
      for (int x = q[0]; x < q[1]; ++x) {
        const std::uint8_t* p = px(img, x, y);
        if (p[0] > kSky[0] + 25 && p[1] > kSky[1] + 25) ++flakes;
      }
    EXPECT_GT(flakes, 20) << "quarter " << q[0] << "," << q[2];
  }
  // Near flakes are drawn bigger than one pixel: some bright pixel has a bright neighbour below it
  // and to its right.
  int big = 0;
  for (int y = 60; y < 330; ++y)
    for (int x = 0; x < 1023; ++x) {
      auto bright = [&](int u, int v) { return px(img, u, v)[0] > kSky[0] + 25; };
      if (bright(x, y) && bright(x + 1, y) && bright(x, y + 1)) ++big;
    }
  EXPECT_GT(big, 5);
}

}  // namespace
