// Texture stages 0 and 1 on the OpenGL backend: each stage's operation, arguments, texture,
// coordinate set and addressing, read back as pixels and compared with Direct3D 8's rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "platform/base/Error.h"
#include "tests/platform/GlScene.h"

namespace {

using namespace gltest;
using ::testing::HasSubstr;

constexpr D3DCOLOR kBlack = 0xFF000000, kWhite = 0xFFFFFFFF;

// The back buffer keeps no alpha, as the desktop's does not, so the alpha a draw computes is read
// through blending: drawn with SRCALPHA / INVSRCALPHA over black and over white, a channel differs
// by (1 - alpha) between the two. The colour channels come from a draw with blending off.
Image Shot(GlScene& s, const std::function<void(Device&)>& draw) {
  Image img = s.frame(kBlack, draw);
  s.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  s.dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  s.dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
  const Image overBlack = s.frame(kBlack, draw);
  const Image overWhite = s.frame(kWhite, draw);
  s.dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  for (std::size_t i = 0; i < img.rgba.size(); i += 4) {
    int spread = 0;
    for (int k = 0; k < 3; ++k) spread += overWhite.rgba[i + k] - overBlack.rgba[i + k];
    img.rgba[i + 3] = static_cast<std::uint8_t>(std::clamp(255 - (spread + 1) / 3, 0, 255));
  }
  return img;
}

// D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2: the terrain's vertex record.
struct V242 {
  float x, y, z;
  D3DCOLOR color;
  float u0, v0, u1, v1;
};
constexpr DWORD kFvf242 = D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX2;

// A quad 10 deep that fills the screen. Set 0 holds (u0, 0.5) everywhere; set 1 runs from u 0 at the
// left edge to 1 at the right, so a two-texel texture on set 1 shows its first texel on the left half
// and its second on the right.
void DrawTwoSetQuad(Device& d, D3DCOLOR color, float u0) {
  const V242 q[4] = {{-14, 11, 10, color, u0, 0.5f, 0, 0.5f},
                     {14, 11, 10, color, u0, 0.5f, 1, 0.5f},
                     {-14, -11, 10, color, u0, 0.5f, 0, 0.5f},
                     {14, -11, 10, color, u0, 0.5f, 1, 0.5f}};
  d.SetVertexShader(kFvf242);
  d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(V242));
}

// A colour as four 0..1 channels, r, g, b, a.
struct Rgba {
  double c[4];
};
Rgba Of(D3DCOLOR v) {
  return {{((v >> 16) & 255) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0, (v >> 24) / 255.0}};
}

void ExpectPixel(const Image& img, int x, int y, const Rgba& want, double tolerance = 1.0) {
  const std::uint8_t* p = img.at(x, y);
  for (int k = 0; k < 4; ++k)
    EXPECT_NEAR(p[k], std::clamp(want.c[k], 0.0, 1.0) * 255.0, tolerance)
        << "channel " << k << " at " << x << "," << y;
}

constexpr D3DCOLOR kDiffuse = 0xC0C8A064;  // alpha 192; 200, 160, 100
constexpr D3DCOLOR kGround = 0x80FF8040;   // alpha 128; 255, 128, 64
constexpr D3DCOLOR kDetailLeft = 0xFF808080, kDetailRight = 0x40FF40C0;

struct StageTest : ::testing::Test {
  StageTest() {
    ground = s.MakeTexture(1, 1, {kGround});
    detail = s.MakeTexture(2, 1, {kDetailLeft, kDetailRight});
    s.dev->SetTexture(0, ground);
    s.dev->SetTexture(1, detail);
  }
  void Detail(DWORD op) {
    s.dev->SetTextureStageState(1, D3DTSS_COLOROP, op);
    s.dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
    s.dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
    s.dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
    s.dev->SetTextureStageState(1, D3DTSS_ALPHAARG2, D3DTA_CURRENT);
    s.dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 1);
  }
  Image Draw(float u0 = 0.25f) {
    return Shot(s, [&](Device& d) { DrawTwoSetQuad(d, kDiffuse, u0); });
  }
  GlScene s;
  std::shared_ptr<Texture> ground, detail;
};

// Stage 0 modulates the ground by the diffuse colour; stage 1 modulates that (CURRENT) by the detail
// texture read through coordinate set 1. The alpha is stage 0's: the ground's, by default.
TEST_F(StageTest, DetailMapModulatesCurrentBySecondTextureOnSetOne) {
  const Rgba d = Of(kDiffuse), g = Of(kGround);
  for (DWORD op : {D3DTOP_MODULATE, D3DTOP_MODULATE2X}) {
    SCOPED_TRACE(op);
    Detail(op);
    const Image img = Draw();
    const double scale = op == D3DTOP_MODULATE2X ? 2.0 : 1.0;
    for (auto [x, texel] : {std::pair{256, kDetailLeft}, {768, kDetailRight}}) {
      const Rgba t = Of(texel);
      Rgba want{};
      for (int k = 0; k < 3; ++k) want.c[k] = scale * d.c[k] * g.c[k] * t.c[k];
      want.c[3] = g.c[3];
      ExpectPixel(img, x, 384, want);
    }
  }
}

TEST_F(StageTest, ADisabledStageOneLeavesStageZeroAndADisabledStageZeroEndsTheChain) {
  const Rgba d = Of(kDiffuse), g = Of(kGround);
  const Rgba stage0{{d.c[0] * g.c[0], d.c[1] * g.c[1], d.c[2] * g.c[2], g.c[3]}};
  const Image plain = Draw();  // stage 1 at its default: disabled, though a texture is set
  ExpectPixel(plain, 256, 384, stage0);
  ExpectPixel(plain, 768, 384, stage0);

  Detail(D3DTOP_MODULATE);
  s.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
  const Image diffuseOnly = Draw();
  ExpectPixel(diffuseOnly, 256, 384, d);
  ExpectPixel(diffuseOnly, 768, 384, d);

  // Back to a disabled stage 1: the picture is stage 0's again, pixel for pixel.
  s.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  s.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
  EXPECT_EQ(Draw().rgba, plain.rgba);
}

TEST_F(StageTest, EachStageReadsTheCoordinateSetItsIndexNames) {
  // Stage 0 shows the two-texel texture through set 1; stage 1 selects it unchanged.
  s.dev->SetTexture(0, detail);
  s.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  s.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  s.dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 1);
  Image img = Draw(0.75f);
  ExpectPixel(img, 256, 384, Of(kDetailLeft));
  ExpectPixel(img, 768, 384, Of(kDetailRight));

  // Stage 1 reading set 0, which holds u 0.75 everywhere: the second texel across the screen.
  s.dev->SetTextureStageState(0, D3DTSS_TEXCOORDINDEX, 0);
  s.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  s.dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  s.dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  s.dev->SetTextureStageState(1, D3DTSS_ALPHAARG1, D3DTA_TEXTURE);
  s.dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
  img = Draw(0.75f);
  ExpectPixel(img, 256, 384, Of(kDetailRight));
  ExpectPixel(img, 768, 384, Of(kDetailRight));

  // A set the record does not carry reads as (0, 0): the first texel.
  s.dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 3);
  img = Draw(0.75f);
  ExpectPixel(img, 768, 384, Of(kDetailLeft));
}

// Direct3D 8's operations, from its documentation, on stage 1 with ARG1 the texture, ARG2 the
// current colour (stage 0 passes the diffuse colour on) and ARG0 the texture factor.
Rgba Reference(DWORD op, const Rgba& a1, const Rgba& a2, const Rgba& a0, const Rgba& diffuse, const Rgba& tex,
               const Rgba& factor, const Rgba& current) {
  Rgba r{};
  for (int k = 0; k < 4; ++k) {
    const double x = a1.c[k], y = a2.c[k];
    const auto blend = [&](double f) { return x * f + y * (1 - f); };
    double v = 0;
    switch (op) {
      case D3DTOP_SELECTARG1:
        v = x;
        break;
      case D3DTOP_SELECTARG2:
        v = y;
        break;
      case D3DTOP_MODULATE:
        v = x * y;
        break;
      case D3DTOP_MODULATE2X:
        v = 2 * x * y;
        break;
      case D3DTOP_MODULATE4X:
        v = 4 * x * y;
        break;
      case D3DTOP_ADD:
        v = x + y;
        break;
      case D3DTOP_ADDSIGNED:
        v = x + y - 0.5;
        break;
      case D3DTOP_ADDSIGNED2X:
        v = 2 * (x + y - 0.5);
        break;
      case D3DTOP_SUBTRACT:
        v = x - y;
        break;
      case D3DTOP_ADDSMOOTH:
        v = x + y - x * y;
        break;
      case D3DTOP_BLENDDIFFUSEALPHA:
        v = blend(diffuse.c[3]);
        break;
      case D3DTOP_BLENDTEXTUREALPHA:
        v = blend(tex.c[3]);
        break;
      case D3DTOP_BLENDFACTORALPHA:
        v = blend(factor.c[3]);
        break;
      case D3DTOP_BLENDTEXTUREALPHAPM:
        v = x + y * (1 - tex.c[3]);
        break;
      case D3DTOP_BLENDCURRENTALPHA:
        v = blend(current.c[3]);
        break;
      case D3DTOP_MODULATEALPHA_ADDCOLOR:
        v = x + a1.c[3] * y;
        break;
      case D3DTOP_MODULATECOLOR_ADDALPHA:
        v = x * y + a1.c[3];
        break;
      case D3DTOP_MODULATEINVALPHA_ADDCOLOR:
        v = (1 - a1.c[3]) * y + x;
        break;
      case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
        v = (1 - x) * y + a1.c[3];
        break;
      case D3DTOP_DOTPRODUCT3: {
        double dot = 0;
        for (int j = 0; j < 3; ++j) dot += (2 * a1.c[j] - 1) * (2 * a2.c[j] - 1);
        v = dot;
        break;
      }
      case D3DTOP_MULTIPLYADD:
        v = a0.c[k] + x * y;
        break;
      case D3DTOP_LERP:
        v = a0.c[k] * x + (1 - a0.c[k]) * y;
        break;
      default:
        ADD_FAILURE() << "no reference for " << op;
    }
    r.c[k] = std::clamp(v, 0.0, 1.0);
  }
  return r;
}

TEST(GlStageOperations, EveryOperationCombinesItsArgumentsAsDirect3D8Does) {
  GlScene s;
  const D3DCOLOR diffuse = 0x60C8A064, texel = 0xB0508CF0, factor = 0x4020E080;
  s.dev->SetTexture(1, s.MakeTexture(1, 1, {texel}));
  s.dev->SetRenderState(D3DRS_TEXTUREFACTOR, factor);
  // Stage 0 hands the diffuse colour on as CURRENT.
  s.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  s.dev->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_DIFFUSE);
  s.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  s.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  for (DWORD type : {D3DTSS_COLORARG1, D3DTSS_ALPHAARG1}) s.dev->SetTextureStageState(1, type, D3DTA_TEXTURE);
  for (DWORD type : {D3DTSS_COLORARG2, D3DTSS_ALPHAARG2}) s.dev->SetTextureStageState(1, type, D3DTA_CURRENT);
  for (DWORD type : {D3DTSS_COLORARG0, D3DTSS_ALPHAARG0}) s.dev->SetTextureStageState(1, type, D3DTA_TFACTOR);

  const Rgba d = Of(diffuse), t = Of(texel), f = Of(factor);
  for (DWORD op = D3DTOP_SELECTARG1; op <= D3DTOP_LERP; ++op) {
    if (op == D3DTOP_PREMODULATE || op == D3DTOP_BUMPENVMAP || op == D3DTOP_BUMPENVMAPLUMINANCE) continue;
    SCOPED_TRACE(op);
    const bool colourOnly = op >= D3DTOP_MODULATEALPHA_ADDCOLOR && op <= D3DTOP_MODULATEINVCOLOR_ADDALPHA;
    s.dev->SetTextureStageState(1, D3DTSS_COLOROP, op);
    s.dev->SetTextureStageState(1, D3DTSS_ALPHAOP, colourOnly ? D3DTOP_SELECTARG1 : op);
    const Image img =
        Shot(s, [&](Device& dev) { GlScene::DrawQuad(dev, GlScene::Quad(0, 0, 10, 5, 5, diffuse)); });
    const Rgba colour = Reference(op, t, d, f, d, t, f, d);
    const Rgba alpha = colourOnly ? t : colour;
    ExpectPixel(img, 512, 384, Rgba{{colour.c[0], colour.c[1], colour.c[2], alpha.c[3]}});
  }
}

TEST(GlStageOperations, ComplementAndAlphaReplicateModifyAnArgument) {
  GlScene s;
  const D3DCOLOR c = 0x40C8A064;
  s.dev->SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_SELECTARG1);
  s.dev->SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  s.dev->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_DIFFUSE);
  auto draw = [&](DWORD arg) {
    s.dev->SetTextureStageState(0, D3DTSS_COLORARG1, arg);
    return Shot(s, [&](Device& dev) { GlScene::DrawQuad(dev, GlScene::Quad(0, 0, 10, 5, 5, c)); });
  };
  const Rgba v = Of(c);
  ExpectPixel(draw(D3DTA_DIFFUSE | D3DTA_COMPLEMENT), 512, 384,
              Rgba{{1 - v.c[0], 1 - v.c[1], 1 - v.c[2], v.c[3]}});
  ExpectPixel(draw(D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE), 512, 384, Rgba{{v.c[3], v.c[3], v.c[3], v.c[3]}});
}

// A texture of two texels, black then white, sampled at u -0.25 and 1.25 with point filtering.
TEST(GlAddressing, WrapMirrorClampAndBorderOnEachStageOwnStates) {
  GlScene s;
  s.dev->SetTexture(0, s.MakeTexture(2, 1, {kBlack, kWhite}));
  s.dev->SetTextureStageState(0, D3DTSS_BORDERCOLOR, 0xFFFF0000);
  auto sample = [&](DWORD mode, float u) {
    s.dev->SetTextureStageState(0, D3DTSS_ADDRESSU, mode);
    const V142 q[4] = {{-5, 5, 10, kWhite, u, 0.5f},
                       {5, 5, 10, kWhite, u, 0.5f},
                       {-5, -5, 10, kWhite, u, 0.5f},
                       {5, -5, 10, kWhite, u, 0.5f}};
    const Image img = s.frame(kBlack, [&](Device& d) {
      d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
      d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(V142));
    });
    const std::uint8_t* p = img.at(512, 384);
    return (p[0] << 16) | (p[1] << 8) | p[2];
  };
  EXPECT_EQ(sample(D3DTADDRESS_WRAP, -0.25f), 0xFFFFFF);
  EXPECT_EQ(sample(D3DTADDRESS_WRAP, 1.25f), 0x000000);
  EXPECT_EQ(sample(D3DTADDRESS_MIRROR, -0.25f), 0x000000);
  EXPECT_EQ(sample(D3DTADDRESS_MIRROR, 1.25f), 0xFFFFFF);
  EXPECT_EQ(sample(D3DTADDRESS_CLAMP, -0.25f), 0x000000);
  EXPECT_EQ(sample(D3DTADDRESS_CLAMP, 1.25f), 0xFFFFFF);
  EXPECT_EQ(sample(D3DTADDRESS_BORDER, -0.25f), 0xFF0000);
  EXPECT_EQ(sample(D3DTADDRESS_BORDER, 1.25f), 0xFF0000);

  // Stage 1 samples with its own states: clamped there while stage 0 wraps.
  s.dev->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_WRAP);
  s.dev->SetTexture(1, s.dev->GetTexture(0));
  s.dev->SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
  s.dev->SetTextureStageState(1, D3DTSS_COLORARG1, D3DTA_TEXTURE);
  s.dev->SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
  s.dev->SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG2);
  s.dev->SetTextureStageState(1, D3DTSS_TEXCOORDINDEX, 0);
  s.dev->SetTextureStageState(1, D3DTSS_ADDRESSU, D3DTADDRESS_BORDER);
  s.dev->SetTextureStageState(1, D3DTSS_BORDERCOLOR, 0xFF0000FF);
  EXPECT_EQ(sample(D3DTADDRESS_WRAP, -0.25f), 0xFFFFFF);  // white + blue
  EXPECT_EQ(sample(D3DTADDRESS_WRAP, 1.25f), 0x0000FF);   // black + blue
}

// Linear filtering at a border-addressed edge blends the edge texel with the border colour by the
// share of the filter's footprint outside the texture, as Direct3D's sampler does. A black and a
// white texel magnified across the screen, u running from -0.5 at x = 0 to 1.5 at x = 1024.
TEST(GlAddressing, LinearFilteringBlendsTheBorderColourIntoTheEdge) {
  GlScene s;
  s.dev->SetTexture(0, s.MakeTexture(2, 1, {kBlack, kWhite}));
  s.dev->SetTextureStageState(0, D3DTSS_ADDRESSU, D3DTADDRESS_BORDER);
  s.dev->SetTextureStageState(0, D3DTSS_ADDRESSV, D3DTADDRESS_BORDER);
  s.dev->SetTextureStageState(0, D3DTSS_BORDERCOLOR, 0xFFFF0000);
  s.dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  s.dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  struct V144 {
    float x, y, z, rhw;
    D3DCOLOR color;
    float u, v;
  };
  // v stays on the texels' centre row, inside on its axis.
  const V144 q[4] = {{0, 300, 0.5f, 1, kWhite, -0.5f, 0.5f},
                     {1024, 300, 0.5f, 1, kWhite, 1.5f, 0.5f},
                     {0, 400, 0.5f, 1, kWhite, -0.5f, 0.5f},
                     {1024, 400, 0.5f, 1, kWhite, 1.5f, 0.5f}};
  const Image img = s.frame(kBlack, [&](Device& d) {
    d.SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1);
    d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(V144));
  });
  const Rgba border = Of(0xFFFF0000), black = Of(kBlack), white = Of(kWhite);
  for (int x = 0; x < 1024; x += 8) {
    // The two texels the footprint covers, the left one weighted 1 - f; outside 0..1 is border.
    const double p = (-0.5 + 2.0 * x / 1024.0) * 2.0 - 0.5;
    const int i = static_cast<int>(std::floor(p));
    const double f = p - i;
    auto texel = [&](int k) { return k < 0 || k > 1 ? border : k == 0 ? black : white; };
    Rgba want{};
    for (int c = 0; c < 4; ++c) want.c[c] = (1 - f) * texel(i).c[c] + f * texel(i + 1).c[c];
    want.c[3] = 1;
    SCOPED_TRACE("x " + std::to_string(x));
    ExpectPixel(img, x, 350, want, 2.0);
  }
}

std::string ErrorOf(Device& d, const std::function<void()>& setUp) {
  setUp();
  const auto quad = GlScene::Quad(0, 0, 10, 5, 5, kWhite);
  d.BeginScene();
  std::string msg = "no error";
  try {
    GlScene::DrawQuad(d, quad);
  } catch (const platform::Error& e) {
    msg = e.what();
  }
  d.EndScene();
  return msg;
}

TEST(GlStageOperations, WhatTheStagesCannotBlendIsRefusedNamingTheStage) {
  GlScene s;
  Device& d = *s.dev;
  EXPECT_THAT(ErrorOf(d, [&] { d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_PREMODULATE); }),
              HasSubstr("DrawPrimitiveUP: stage 0 colour operation 17 not supported"));
  EXPECT_THAT(ErrorOf(d,
                      [&] {
                        d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
                        d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
                        d.SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATEALPHA_ADDCOLOR);
                      }),
              HasSubstr("stage 1 alpha operation 18 is a colour operation only"));
  EXPECT_THAT(ErrorOf(d,
                      [&] {
                        d.SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
                        d.SetTextureStageState(1, D3DTSS_COLORARG2, 5);  // D3DTA_TEMP
                      }),
              HasSubstr("stage 1 texture argument 0x5 not supported"));
  EXPECT_THAT(ErrorOf(d,
                      [&] {
                        d.SetTextureStageState(1, D3DTSS_COLORARG2, D3DTA_CURRENT);
                        d.SetTextureStageState(1, D3DTSS_RESULTARG, 5);
                      }),
              HasSubstr("stage 1 result argument 0x5 not supported"));
  EXPECT_THAT(ErrorOf(d,
                      [&] {
                        d.SetTextureStageState(1, D3DTSS_RESULTARG, D3DTA_CURRENT);
                        d.SetTextureStageState(2, D3DTSS_COLOROP, D3DTOP_MODULATE);
                      }),
              HasSubstr("texture stage 2 is enabled"));
  // Behind a disabled stage 1 nothing of stage 2 is read.
  EXPECT_EQ(ErrorOf(d, [&] { d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE); }), "no error");
}

}  // namespace
