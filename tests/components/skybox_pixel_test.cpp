// The sky box drawn by the OpenGL backend and seen from inside: a standard cube-map set reads the
// right way round on every face, and the faces meet without a seam.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "components/SkyBox.h"
#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "tests/platform/GlScene.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using components::SkyBox;
using CubeFace = SkyBox::CubeFace;

struct Vec {
  double x, y, z;
};

// Where each face of a standard cube-map set looks, and which way is up in its image.
struct View {
  Vec look, up;
};
const View kViews[6] = {
    {{1, 0, 0}, {0, 1, 0}},  {{-1, 0, 0}, {0, 1, 0}}, {{0, 1, 0}, {0, 0, -1}},
    {{0, -1, 0}, {0, 0, 1}}, {{0, 0, 1}, {0, 1, 0}},  {{0, 0, -1}, {0, 1, 0}},
};

// The direction out of the cube's centre through texel (s, t) of a face, both in 0..1, from the
// cube-map table: s runs along sc and t along tc of the face's major axis.
Vec Direction(CubeFace f, double s, double t) {
  const double sc = 2 * s - 1, tc = 2 * t - 1;
  switch (f) {
    case CubeFace::PosX:
      return {1, -tc, -sc};
    case CubeFace::NegX:
      return {-1, -tc, sc};
    case CubeFace::PosY:
      return {sc, 1, tc};
    case CubeFace::NegY:
      return {sc, -1, -tc};
    case CubeFace::PosZ:
      return {sc, -tc, 1};
    case CubeFace::NegZ:
      return {-sc, -tc, -1};
  }
  return {0, 0, 0};
}

struct SkyScene {
  SkyScene()
      : dev(gltest::CreateHeadlessDevice()),
        sky(*dev),
        dir(wgtest::ScratchDir("sky-" + std::to_string(getpid()))) {
    D3DMATRIX m;
    // 90 degrees high and 4:3 wide: a face seen square on spans the screen's height and the middle
    // 768 of its 1024 columns.
    d3dx::D3DXMatrixPerspectiveFovLH(&m, 1.5707963705062866f, 4.0f / 3.0f, 0.1f, 1000.0f);
    dev->SetTransform(D3DTS_PROJECTION, m);
    dev->SetRenderState(D3DRS_LIGHTING, 0);
    sky.CreateSkyBox(10);
  }

  // Writes one standard cube-map set whose texel colours `colour` gives, and loads it.
  void LoadCubeMap(int size, const std::function<std::array<std::uint8_t, 3>(CubeFace, int, int)>& colour) {
    std::array<std::string, 6> files;
    for (int k = 0; k < 6; ++k) {
      std::vector<std::uint8_t> rgba;
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          const auto c = colour(static_cast<CubeFace>(k), x, y);
          rgba.insert(rgba.end(), {c[0], c[1], c[2], 255});
        }
      files[static_cast<std::size_t>(k)] = dir + "/face" + std::to_string(k) + ".png";
      d3dx::WritePng(files[static_cast<std::size_t>(k)], rgba, size, size);
    }
    sky.SetSkyTexturesFromCubeMap(files);
  }

  gltest::Image Look(const View& v) {
    const D3DVECTOR eye{0, 0, 0},
        at{static_cast<float>(v.look.x), static_cast<float>(v.look.y), static_cast<float>(v.look.z)},
        up{static_cast<float>(v.up.x), static_cast<float>(v.up.y), static_cast<float>(v.up.z)};
    D3DMATRIX view;
    d3dx::D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    dev->SetTransform(D3DTS_VIEW, view);
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
    dev->BeginScene();
    sky.RenderSkyBox(eye);
    dev->EndScene();
    dev->Present(nullptr, nullptr, nullptr, nullptr);
    DWORD w = 0, h = 0;
    return gltest::Image{dev->GetBackend().readBack(w, h)};
  }

  std::unique_ptr<Device> dev;
  SkyBox sky;
  std::string dir;
};

// The label: an F on an 8 x 8 grid of cells (a stem, a top bar, a shorter middle bar), which no
// mirror or turn maps onto itself.
bool Ink(int cx, int cy) {
  return (cx == 1 && cy >= 1 && cy <= 6) || (cy == 1 && cx >= 1 && cx <= 5) ||
         (cy == 3 && cx >= 1 && cx <= 3);
}
const std::array<std::uint8_t, 3> kPaper[6] = {{230, 60, 60},  {60, 200, 60},  {70, 90, 240},
                                               {230, 210, 40}, {40, 210, 220}, {220, 80, 220}};

TEST(SkyBoxPixels, EveryFaceOfALabelledCubeMapReadsTheRightWayRoundFromInside) {
  SkyScene scene;
  scene.LoadCubeMap(64, [](CubeFace f, int x, int y) {
    return Ink(x / 8, y / 8) ? std::array<std::uint8_t, 3>{0, 0, 0} : kPaper[static_cast<int>(f)];
  });
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE("cube-map face " + std::to_string(k));
    const gltest::Image img = scene.Look(kViews[k]);
    // The face spans columns 128..895 and every row; each cell of the label is 96 pixels square.
    int wrong = 0;
    for (int cy = 0; cy < 8; ++cy)
      for (int cx = 0; cx < 8; ++cx) {
        const std::uint8_t* p = img.at(128 + cx * 96 + 48, cy * 96 + 48);
        const auto want = Ink(cx, cy) ? std::array<std::uint8_t, 3>{0, 0, 0} : kPaper[k];
        if (std::abs(p[0] - want[0]) > 2 || std::abs(p[1] - want[1]) > 2 || std::abs(p[2] - want[2]) > 2) {
          ++wrong;
          ADD_FAILURE() << "cell " << cx << "," << cy << ": " << int(p[0]) << " " << int(p[1]) << " "
                        << int(p[2]);
        }
      }
    EXPECT_EQ(wrong, 0);
  }
}

// A sky whose colour follows the direction smoothly, so that any step across an edge is a seam.
std::array<std::uint8_t, 3> SkyColour(CubeFace f, int x, int y, int size) {
  const Vec d = Direction(f, (x + 0.5) / size, (y + 0.5) / size);
  const double len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
  const auto c = [&](double v) { return static_cast<std::uint8_t>(std::lround(127.5 + 120 * v / len)); };
  return {c(d.x), c(d.y), c(d.z)};
}

// The largest step between neighbouring columns 500..524 (the edge lies between 511 and 512) over
// rows 300..467, in any channel.
int SeamStep(const gltest::Image& img) {
  int worst = 0;
  for (int y = 300; y < 468; ++y)
    for (int x = 500; x < 524; ++x)
      for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(img.at(x + 1, y)[c] - img.at(x, y)[c]));
  return worst;
}

// Each of the cube's twelve edges, looked at square on with the edge upright in the picture.
std::vector<View> EdgeViews() {
  const Vec axes[6] = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  std::vector<View> views;
  for (int a = 0; a < 6; ++a)
    for (int b = a + 1; b < 6; ++b) {
      const Vec n = axes[a], m = axes[b];
      if (n.x * m.x + n.y * m.y + n.z * m.z != 0) continue;  // opposite faces share no edge
      const Vec edge{n.y * m.z - n.z * m.y, n.z * m.x - n.x * m.z, n.x * m.y - n.y * m.x};
      views.push_back({{n.x + m.x, n.y + m.y, n.z + m.z}, edge});
    }
  return views;
}

void SetSkyStates(Device& dev, DWORD address) {
  for (DWORD type : {D3DTSS_MAGFILTER, D3DTSS_MINFILTER, D3DTSS_MIPFILTER})
    dev.SetTextureStageState(0, type, D3DTEXF_LINEAR);
  dev.SetTextureStageState(0, D3DTSS_ADDRESSU, address);
  dev.SetTextureStageState(0, D3DTSS_ADDRESSV, address);
}

TEST(SkyBoxPixels, WithClampAddressingTheFacesMeetWithoutASeamAtEverySize) {
  const std::vector<View> edges = EdgeViews();
  ASSERT_EQ(edges.size(), 12u);
  for (int size : {64, 256, 1024, 2048}) {
    SCOPED_TRACE(size);
    SkyScene scene;
    scene.LoadCubeMap(size, [size](CubeFace f, int x, int y) { return SkyColour(f, x, y, size); });
    SetSkyStates(*scene.dev, D3DTADDRESS_CLAMP);
    for (std::size_t e = 0; e < edges.size(); ++e) {
      SCOPED_TRACE("edge " + std::to_string(e));
      // Away from the edge the sky changes by at most about one level per column; across it, by
      // no more than one texel of a 64-pixel face does.
      EXPECT_LE(SeamStep(scene.Look(edges[e])), 4);
    }
    if (size == 64) {
      // Wrap addressing blends the opposite edge into a small face's border: the seam this avoids.
      SetSkyStates(*scene.dev, D3DTADDRESS_WRAP);
      EXPECT_GT(SeamStep(scene.Look(edges[0])), 20);
    }
  }
}

TEST(SkyBoxPixels, ACubeMapLoadsAllSixImagesOrNone) {
  SkyScene scene;
  scene.LoadCubeMap(4, [](CubeFace f, int, int) { return kPaper[static_cast<int>(f)]; });
  const auto before = scene.sky.FaceTextures();
  std::array<std::string, 6> files;
  for (int k = 0; k < 6; ++k)
    files[static_cast<std::size_t>(k)] = scene.dir + "/face" + std::to_string(k) + ".png";
  files[4] = scene.dir + "/missing.png";
  try {
    scene.sky.SetSkyTexturesFromCubeMap(files);
    ADD_FAILURE() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find(files[4]), std::string::npos) << e.what();
  }
  EXPECT_EQ(scene.sky.FaceTextures(), before);

  // One face alone goes to the side on its plane; -z is side 3.
  scene.sky.SetSkyTextureFromCubeFace(CubeFace::NegZ, files[0]);
  EXPECT_EQ(scene.sky.FaceTextures()[3]->source, files[0]);
  for (int side : {0, 1, 2, 4, 5}) EXPECT_EQ(scene.sky.FaceTextures()[side], before[side]);
}

TEST(SkyBoxOrientation, CubeFacesAreMirroredOrTurnedIntoTheFaceTable) {
  EXPECT_EQ(SkyBox::SideOf(CubeFace::PosX), 1);
  EXPECT_EQ(SkyBox::SideOf(CubeFace::NegX), 0);
  EXPECT_EQ(SkyBox::SideOf(CubeFace::PosY), 4);
  EXPECT_EQ(SkyBox::SideOf(CubeFace::NegY), 5);
  EXPECT_EQ(SkyBox::SideOf(CubeFace::PosZ), 2);
  EXPECT_EQ(SkyBox::SideOf(CubeFace::NegZ), 3);
  // A 3 x 2 image of texels 0..5, row by row (red channel only).
  Texture::Level img;
  img.width = 3;
  img.height = 2;
  for (std::uint8_t v = 0; v < 6; ++v) img.rgba.insert(img.rgba.end(), {v, 0, 0, 255});
  const auto reds = [](const Texture::Level& l) {
    std::vector<int> r;
    for (std::size_t i = 0; i < l.rgba.size(); i += 4) r.push_back(l.rgba[i]);
    return r;
  };
  const Texture::Level mirrored = SkyBox::OrientCubeFace(CubeFace::PosZ, img);
  EXPECT_EQ(mirrored.width, 3);
  EXPECT_EQ(reds(mirrored), (std::vector<int>{2, 1, 0, 5, 4, 3}));
  // A quarter turn clockwise: the left column, bottom first, becomes the top row.
  const Texture::Level turned = SkyBox::OrientCubeFace(CubeFace::NegY, img);
  EXPECT_EQ(turned.width, 2);
  EXPECT_EQ(turned.height, 3);
  EXPECT_EQ(reds(turned), (std::vector<int>{3, 0, 4, 1, 5, 2}));
}

}  // namespace
