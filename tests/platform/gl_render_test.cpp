// Frames rendered by the OpenGL backend (headless, llvmpipe), each a small scene whose pixels follow
// from Direct3D 8's fixed-function rules.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <string>

#include "platform/base/Error.h"
#include "tests/platform/GlScene.h"

namespace {

using namespace gltest;
using ::testing::HasSubstr;

constexpr D3DCOLOR kBlack = 0xFF000000, kWhite = 0xFFFFFFFF;
constexpr D3DCOLOR kRed = 0xFFFF0000, kGreen = 0xFF00FF00, kBlue = 0xFF0000FF;
constexpr D3DCOLOR kSky = 0xFF7F7FB4;  // 127, 127, 180

DWORD Bits(float f) { return std::bit_cast<DWORD>(f); }

// The rectangle of pixels that differ from the clear colour.
struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1, count = 0;
  int width() const { return x1 - x0 + 1; }
  int height() const { return y1 - y0 + 1; }
};
Box LitBox(const Image& img, int r, int g, int b) {
  Box box;
  for (int y = 0; y < 768; ++y)
    for (int x = 0; x < 1024; ++x)
      if (!img.is(x, y, r, g, b)) {
        box.x0 = std::min(box.x0, x);
        box.y0 = std::min(box.y0, y);
        box.x1 = std::max(box.x1, x);
        box.y1 = std::max(box.y1, y);
        ++box.count;
      }
  return box;
}

void ExpectColor(const Image& img, int x, int y, double r, double g, double b, double tolerance = 1.0) {
  const std::uint8_t* p = img.at(x, y);
  EXPECT_NEAR(p[0], r, tolerance) << "red at " << x << "," << y;
  EXPECT_NEAR(p[1], g, tolerance) << "green at " << x << "," << y;
  EXPECT_NEAR(p[2], b, tolerance) << "blue at " << x << "," << y;
}

void SetLinearFog(Device& d) {
  d.SetRenderState(D3DRS_FOGENABLE, 1);
  d.SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  d.SetRenderState(D3DRS_FOGVERTEXMODE, D3DFOG_NONE);
  d.SetRenderState(D3DRS_FOGCOLOR, kSky);
  d.SetRenderState(D3DRS_FOGSTART, Bits(50.0f));
  d.SetRenderState(D3DRS_FOGEND, Bits(150.0f));
}

void SetScaledSprites(Device& d) {
  d.SetRenderState(D3DRS_POINTSPRITEENABLE, 1);
  d.SetRenderState(D3DRS_POINTSCALEENABLE, 1);
  d.SetRenderState(D3DRS_POINTSCALE_A, Bits(0.6f));
  d.SetRenderState(D3DRS_POINTSCALE_B, Bits(0.6f));
  d.SetRenderState(D3DRS_POINTSCALE_C, Bits(0.6f));
}

// One point whose centre lies on the corner between pixels (512, 384) and (513, 385).
void DrawPointAtCorner(Device& d, float z, D3DCOLOR c) {
  const V42 p{HalfPixelX(z), -HalfPixelY(z), z, c};
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  d.DrawPrimitiveUP(D3DPT_POINTLIST, 1, &p, sizeof p);
}

TEST(GlFog, WhiteQuadsFiftyHundredAndHundredFiftyDeepFadeLinearlyIntoTheFogColour) {
  GlScene s;
  SetLinearFog(*s.dev);
  struct Case {
    float depth;
    double r, g, b;
  } cases[] = {{50, 255, 255, 255}, {100, 191, 191, 217.5}, {150, 127, 127, 180}};
  for (const Case& c : cases) {
    const Image img = s.frame(kBlack, [&](Device& d) { GlScene::DrawQuad(d, GlScene::Quad(0, 0, c.depth, c.depth, c.depth, kWhite)); });
    SCOPED_TRACE(c.depth);
    ExpectColor(img, 512, 384, c.r, c.g, c.b);
  }
}

TEST(GlFog, FogFollowsViewDepthNotDistanceOffAxis) {
  GlScene s;
  SetLinearFog(*s.dev);
  // A quad 100 deep filling the screen: its corners are ~190 units from the eye, fully fogged if fog
  // went by distance.
  const Image img = s.frame(kBlack, [&](Device& d) { GlScene::DrawQuad(d, GlScene::Quad(0, 0, 100, 140, 105, kWhite)); });
  for (auto [x, y] : {std::pair{512, 384}, {20, 20}, {1003, 20}, {20, 747}, {1003, 747}}) ExpectColor(img, x, y, 191, 191, 217.5);
}

TEST(GlPointSprites, SizeFollowsThePointScaleRuleAndIsClampedTo64) {
  GlScene s(0.1f);
  SetScaledSprites(*s.dev);
  // 768 x sqrt(1 / (0.6 + 0.6 De + 0.6 De^2)): 9.865 px at 100, 1.98 px at 500, 572 px at 1 (then 64).
  struct Case {
    float depth;
    int x0, y0, side;
  } cases[] = {{100, 508, 380, 10}, {500, 512, 384, 2}, {1, 481, 353, 64}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depth);
    const Image img = s.frame(kBlack, [&](Device& d) { DrawPointAtCorner(d, c.depth, kWhite); });
    const Box box = LitBox(img, 0, 0, 0);
    EXPECT_EQ(box.x0, c.x0);
    EXPECT_EQ(box.y0, c.y0);
    EXPECT_EQ(box.width(), c.side);
    EXPECT_EQ(box.height(), c.side);
    EXPECT_EQ(box.count, c.side * c.side);
  }
}

TEST(GlPointSprites, SpriteTextureCoordinatesStartAtTheTopLeft) {
  GlScene s(0.1f);
  SetScaledSprites(*s.dev);
  s.dev->SetTexture(0, s.MakeTexture(2, 2, {kRed, kGreen, kBlue, kWhite}));
  const Image img = s.frame(kBlack, [&](Device& d) { DrawPointAtCorner(d, 1, kWhite); });
  // The 64-pixel sprite spans 481..544 by 353..416.
  EXPECT_TRUE(img.is(490, 360, 255, 0, 0));
  EXPECT_TRUE(img.is(535, 360, 0, 255, 0));
  EXPECT_TRUE(img.is(490, 410, 0, 0, 255));
  EXPECT_TRUE(img.is(535, 410, 255, 255, 255));
}

TEST(GlPointSprites, AdditiveBlendAddsTextureTimesDiffuseTimesAlpha) {
  GlScene s(0.1f);
  Device& d = *s.dev;
  SetScaledSprites(d);
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  d.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  const D3DCOLOR texel = D3DColorARGB(128, 200, 100, 50), diffuse = D3DColorARGB(192, 255, 128, 64);
  d.SetTexture(0, s.MakeTexture(1, 1, {texel}));
  const Image img = s.frame(D3DColorRGB(40, 50, 60), [&](Device& dev) { DrawPointAtCorner(dev, 1, diffuse); });
  const double a = 128.0 / 255 * 192.0 / 255;
  auto channel = [&](int t, int v, int bg) { return bg + 255.0 * (t / 255.0) * (v / 255.0) * a; };
  ExpectColor(img, 512, 384, channel(200, 255, 40), channel(100, 128, 50), channel(50, 64, 60), 2.0);
  ExpectColor(img, 470, 384, 40, 50, 60, 0.0);  // outside the sprite
  // The blend state persists into the next frame.
  EXPECT_EQ(d.GetRenderState(D3DRS_SRCBLEND), D3DBLEND_SRCALPHA);
  const Image again = s.frame(D3DColorRGB(40, 50, 60), [&](Device& dev) { DrawPointAtCorner(dev, 1, diffuse); });
  ExpectColor(again, 512, 384, channel(200, 255, 40), channel(100, 128, 50), channel(50, 64, 60), 2.0);
}

TEST(GlPointSprites, WithoutDepthWritesAFartherOpaqueQuadCoversTheSprite) {
  for (bool write : {false, true}) {
    SCOPED_TRACE(write ? "depth written" : "depth not written");
    GlScene s(0.1f);
    Device& d = *s.dev;
    const Image img = s.frame(kBlack, [&](Device& dev) {
      SetScaledSprites(dev);
      dev.SetRenderState(D3DRS_ZWRITEENABLE, write ? 1 : 0);
      DrawPointAtCorner(dev, 10, kWhite);
      dev.SetRenderState(D3DRS_ZWRITEENABLE, 1);
      dev.SetRenderState(D3DRS_POINTSPRITEENABLE, 0);
      GlScene::DrawQuad(dev, GlScene::Quad(0, 0, 20, 10, 10, kBlue));
    });
    (void)d;
    if (write)
      EXPECT_TRUE(img.is(512, 384, 255, 255, 255));
    else
      EXPECT_TRUE(img.is(512, 384, 0, 0, 255));
    EXPECT_TRUE(img.is(512, 384 + 100, 0, 0, 255));  // the quad beyond the sprite
  }
}

// Screen-space strip over pixels 100..299 in x and y: vertex 0 top-left, 1 top-right, 2 bottom-left.
std::vector<V44> ScreenStrip(const D3DCOLOR c[4]) {
  return {{100, 100, 0.5f, 1, c[0]}, {300, 100, 0.5f, 1, c[1]}, {100, 300, 0.5f, 1, c[2]}, {300, 300, 0.5f, 1, c[3]}};
}

TEST(GlShading, FlatStripTrianglesTakeTheirFirstVertexColourGouraudBlends) {
  GlScene s;
  const D3DCOLOR colors[4] = {kRed, kGreen, kBlue, kWhite};
  const auto strip = ScreenStrip(colors);
  auto draw = [&](Device& d) {
    d.SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip.data(), sizeof(V44));
  };
  s.dev->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  const Image flat = s.frame(kBlack, draw);
  for (int y = 100; y < 300; y += 7)
    for (int x = 100; x < 300; x += 7) {
      const int diagonal = x + y - 400;  // triangle 0 above the diagonal, triangle 1 below
      if (diagonal < -2) {
        EXPECT_TRUE(flat.is(x, y, 255, 0, 0)) << x << "," << y;
      } else if (diagonal > 2) {
        EXPECT_TRUE(flat.is(x, y, 0, 255, 0)) << x << "," << y;
      }
    }
  s.dev->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  const Image smooth = s.frame(kBlack, draw);
  const std::uint8_t* p = smooth.at(280, 280);
  EXPECT_GT(p[0], 100);  // white's red and blue show near the white corner
  EXPECT_GT(p[2], 100);
}

TEST(GlRasterisation, ScreenSpaceQuadLightsThePixelsDirect3DWould) {
  GlScene s;
  const D3DCOLOR colors[4] = {kWhite, kWhite, kWhite, kWhite};
  const auto strip = ScreenStrip(colors);
  const Image img = s.frame(kBlack, [&](Device& d) {
    d.SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
    d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, strip.data(), sizeof(V44));
  });
  // Pixel centres on integers: the quad from 100 to 300 covers pixels 100..299.
  const Box box = LitBox(img, 0, 0, 0);
  EXPECT_EQ(box.x0, 100);
  EXPECT_EQ(box.y0, 100);
  EXPECT_EQ(box.x1, 299);
  EXPECT_EQ(box.y1, 299);
  EXPECT_EQ(box.count, 200 * 200);
}

TEST(GlRasterisation, CullModesJudgeWindingOnTheScreen) {
  GlScene s;
  // Clockwise on the screen (y down): top-left, top-right, bottom-left.
  const V44 cw[3] = {{100, 100, 0.5f, 1, kWhite}, {200, 100, 0.5f, 1, kWhite}, {100, 200, 0.5f, 1, kWhite}};
  const V44 ccw[3] = {cw[0], cw[2], cw[1]};
  auto lit = [&](DWORD cull, const V44* tri) {
    s.dev->SetRenderState(D3DRS_CULLMODE, cull);
    const Image img = s.frame(kBlack, [&](Device& d) {
      d.SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
      d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, tri, sizeof(V44));
    });
    return img.is(120, 120, 255, 255, 255);
  };
  EXPECT_TRUE(lit(D3DCULL_CCW, cw));
  EXPECT_FALSE(lit(D3DCULL_CCW, ccw));
  EXPECT_FALSE(lit(D3DCULL_CW, cw));
  EXPECT_TRUE(lit(D3DCULL_CW, ccw));
  EXPECT_TRUE(lit(D3DCULL_NONE, cw));
  EXPECT_TRUE(lit(D3DCULL_NONE, ccw));
}

TEST(GlTextures, TwoByTwoTextureRepeatsAcrossCoordinatesZeroToHundred) {
  GlScene s;
  s.dev->SetTexture(0, s.MakeTexture(2, 2, {kRed, kGreen, kBlue, kWhite}));
  // 400 pixels for 100 repeats: each texel covers 2 x 2 pixels.
  const V104 quad[4] = {{0, 0, 0.5f, 1, 0, 0}, {400, 0, 0.5f, 1, 100, 0}, {0, 400, 0.5f, 1, 0, 100},
                        {400, 400, 0.5f, 1, 100, 100}};
  const Image img = s.frame(kBlack, [&](Device& d) {
    d.SetVertexShader(D3DFVF_XYZRHW | D3DFVF_TEX1);
    d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V104));
  });
  const int texels[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
  int wrong = 0;
  for (int y = 0; y < 400; ++y)
    for (int x = 0; x < 400; ++x) {
      const int* t = texels[(y / 2 % 2) * 2 + x / 2 % 2];
      if (!img.is(x, y, t[0], t[1], t[2])) ++wrong;
    }
  EXPECT_EQ(wrong, 0);
}

TEST(GlTextures, AnUnboundStageShowsTheVertexColour) {
  GlScene s;
  const D3DCOLOR c = D3DColorRGB(10, 200, 30);
  const Image img = s.frame(kBlack, [&](Device& d) { GlScene::DrawQuad(d, GlScene::Quad(0, 0, 10, 5, 5, c)); });
  EXPECT_TRUE(img.is(512, 384, 10, 200, 30));
}

TEST(GlTextures, TrilinearMinificationOfACheckerboardConvergesToItsMean) {
  GlScene s;
  std::vector<D3DCOLOR> checker;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) checker.push_back((x + y) % 2 ? kWhite : kBlack);
  s.dev->SetTexture(0, s.MakeTexture(64, 64, checker, true));
  // 900 deep, 61.7 repeats of 64 texels over about 85 pixels: some 46 texels a pixel (not a whole
  // number, so that point samples alias visibly).
  const float r = 61.7f;
  const V142 quad[4] = {{-100, 100, 900, kWhite, 0, 0}, {100, 100, 900, kWhite, r, 0},
                        {-100, -100, 900, kWhite, 0, r}, {100, -100, 900, kWhite, r, r}};
  auto spread = [&](DWORD mip, double& mean) {
    s.dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
    s.dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
    s.dev->SetTextureStageState(0, D3DTSS_MIPFILTER, mip);
    const Image img = s.frame(kBlue, [&](Device& d) {
      d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
      d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(V142));
    });
    int lo = 255, hi = 0;
    double sum = 0;
    int n = 0;
    for (int y = 347; y < 421; ++y)
      for (int x = 475; x < 549; ++x) {
        const int v = img.at(x, y)[0];
        lo = std::min(lo, v);
        hi = std::max(hi, v);
        sum += v;
        ++n;
      }
    mean = sum / n;
    return hi - lo;
  };
  double mean = 0;
  EXPECT_LE(spread(D3DTEXF_LINEAR, mean), 4);
  EXPECT_NEAR(mean, 127.5, 2);
  EXPECT_GT(spread(D3DTEXF_NONE, mean), 60);  // without mips the far checkerboard aliases
}

TEST(GlDepth, TheNearerQuadWinsWhateverTheOrderAndEqualDepthPasses) {
  GlScene s;
  const auto nearQuad = GlScene::Quad(0, 0, 10, 5, 5, kRed), farQuad = GlScene::Quad(0, 0, 20, 15, 15, kBlue);
  const Image nearFirst = s.frame(kBlack, [&](Device& d) {
    GlScene::DrawQuad(d, nearQuad);
    GlScene::DrawQuad(d, farQuad);
  });
  const Image farFirst = s.frame(kBlack, [&](Device& d) {
    GlScene::DrawQuad(d, farQuad);
    GlScene::DrawQuad(d, nearQuad);
  });
  EXPECT_TRUE(nearFirst.is(512, 384, 255, 0, 0));
  EXPECT_TRUE(farFirst.is(512, 384, 255, 0, 0));
  EXPECT_TRUE(nearFirst.is(512, 384 + 250, 0, 0, 255));
  // LESSEQUAL: the same quad drawn again in another colour replaces it.
  const Image same = s.frame(kBlack, [&](Device& d) {
    GlScene::DrawQuad(d, nearQuad);
    GlScene::DrawQuad(d, GlScene::Quad(0, 0, 10, 5, 5, kGreen));
  });
  EXPECT_TRUE(same.is(512, 384, 0, 255, 0));
}

TEST(GlTransforms, MultiplyTransformPlacesTheModelPointAtPTimesSTimesT) {
  GlScene s;
  D3DMATRIX t, sc;
  d3dx::D3DXMatrixTranslation(&t, 10, 5, 100);
  d3dx::D3DXMatrixScaling(&sc, 2, 3, 1);
  s.dev->SetTransform(D3DTS_WORLD, t);
  s.dev->MultiplyTransform(D3DTS_WORLD, sc);
  // (1, 1, 0) x S x T = (12, 8, 100): x = (1 + 0.75 x 12 / 100) x 512 = 558.08, y = (1 - 0.08) x 384 = 353.28.
  const V42 p{1, 1, 0, kWhite};
  const Image img = s.frame(kBlack, [&](Device& d) {
    d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    d.DrawPrimitiveUP(D3DPT_POINTLIST, 1, &p, sizeof p);
  });
  const Box box = LitBox(img, 0, 0, 0);
  EXPECT_EQ(box.count, 1);
  EXPECT_EQ(box.x0, 558);
  EXPECT_EQ(box.y0, 353);
}

TEST(GlBuffers, VertexBufferWritesReachTheNextDrawAndIndexedRangesStartAtTheMinimumIndex) {
  GlScene s;
  Device& d = *s.dev;
  auto vb = d.CreateVertexBuffer(8 * sizeof(V42), D3DUSAGE_WRITEONLY, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED);
  const auto left = GlScene::Quad(-5, 0, 10, 2, 2, kRed), right = GlScene::Quad(5, 0, 10, 2, 2, kGreen);
  vb->SetData(0, 4 * sizeof(V42), 0, left.data());
  vb->SetData(4 * sizeof(V42), 4 * sizeof(V42), 0, right.data());
  auto drawBuffer = [&](DWORD start) {
    return s.frame(kBlack, [&](Device& dev) {
      dev.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
      dev.SetStreamSource(0, vb, sizeof(V42));
      dev.DrawPrimitive(D3DPT_TRIANGLESTRIP, start, 2);
    });
  };
  const int leftX = 512 - 192, rightX = 512 + 192;  // 0.75 x 5 / 10 of the half-width
  Image img = drawBuffer(0);
  EXPECT_TRUE(img.is(leftX, 384, 255, 0, 0));
  EXPECT_TRUE(img.is(rightX, 384, 0, 0, 0));
  EXPECT_EQ(vb->dirtyEnd, 0u);
  img = drawBuffer(4);
  EXPECT_TRUE(img.is(rightX, 384, 0, 255, 0));
  // Rewritten one vertex at a time, the quad turns blue in the next frame.
  for (DWORD i = 0; i < 4; ++i) {
    V42 v = left[i];
    v.color = kBlue;
    vb->SetData(i * sizeof(V42), sizeof(V42), 0, &v);
  }
  img = drawBuffer(0);
  EXPECT_TRUE(img.is(leftX, 384, 0, 0, 255));

  std::vector<V42> both(left);
  both.insert(both.end(), right.begin(), right.end());
  const std::uint16_t indices[4] = {4, 5, 6, 7};
  img = s.frame(kBlack, [&](Device& dev) {
    dev.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    dev.DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 4, 4, 2, indices, D3DFMT_INDEX16, both.data(), sizeof(V42));
  });
  EXPECT_TRUE(img.is(rightX, 384, 0, 255, 0));
  EXPECT_TRUE(img.is(leftX, 384, 0, 0, 0));
}

// Index buffers stay with the backend between frames (in the WebGL2 dialect as rebased, rotated
// lists): a draw reads its own range from its own base vertex, and a rewrite reaches the next draw.
TEST(GlBuffers, IndexBufferDrawsReadTheirRangeFromTheirBaseAndFollowRewrites) {
  GlScene s;
  Device& d = *s.dev;
  auto vb = d.CreateVertexBuffer(8 * sizeof(V42), D3DUSAGE_WRITEONLY, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED);
  const auto left = GlScene::Quad(-5, 0, 10, 2, 2, kRed), right = GlScene::Quad(5, 0, 10, 2, 2, kGreen);
  vb->SetData(0, 4 * sizeof(V42), 0, left.data());
  vb->SetData(4 * sizeof(V42), 4 * sizeof(V42), 0, right.data());
  auto ib = d.CreateIndexBuffer(16, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
  const std::uint16_t strips[8] = {0, 0, 0, 0, 0, 1, 2, 3};  // a strip of nothing, then the quad
  ib->SetData(0, sizeof strips, 0, strips);
  auto draw = [&](std::initializer_list<DWORD> bases) {
    return s.frame(kBlack, [&](Device& dev) {
      dev.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
      dev.SetStreamSource(0, vb, sizeof(V42));
      for (const DWORD base : bases) {
        dev.SetIndices(ib, base);
        dev.DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 0, 4, 4, 2);
      }
    });
  };
  const int leftX = 512 - 192, rightX = 512 + 192;
  Image img = draw({4});
  EXPECT_TRUE(img.is(rightX, 384, 0, 255, 0));
  EXPECT_TRUE(img.is(leftX, 384, 0, 0, 0));
  EXPECT_EQ(ib->dirtyEnd, 0u);
  img = draw({0, 4});
  EXPECT_TRUE(img.is(leftX, 384, 255, 0, 0));
  EXPECT_TRUE(img.is(rightX, 384, 0, 255, 0));
  // The quad's strip rewritten to nothing: both quads go.
  ib->SetData(8, 8, 0, strips);
  img = draw({0, 4});
  EXPECT_TRUE(img.is(leftX, 384, 0, 0, 0));
  EXPECT_TRUE(img.is(rightX, 384, 0, 0, 0));

  // Flat shading takes each triangle's colour from its first vertex through an index buffer too,
  // and the same range drawn smooth afterwards blends.
  const D3DCOLOR colors[4] = {kRed, kGreen, kBlue, kWhite};
  const auto strip = ScreenStrip(colors);
  auto screen = d.CreateVertexBuffer(4 * sizeof(V44), D3DUSAGE_WRITEONLY, D3DFVF_XYZRHW | D3DFVF_DIFFUSE,
                                     D3DPOOL_MANAGED);
  screen->SetData(0, 4 * sizeof(V44), 0, strip.data());
  const std::uint16_t quad[4] = {0, 1, 2, 3};
  ib->SetData(0, sizeof quad, 0, quad);
  auto drawScreen = [&] {
    return s.frame(kBlack, [&](Device& dev) {
      dev.SetVertexShader(D3DFVF_XYZRHW | D3DFVF_DIFFUSE);
      dev.SetStreamSource(0, screen, sizeof(V44));
      dev.SetIndices(ib, 0);
      dev.DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 0, 4, 0, 2);
    });
  };
  d.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
  img = drawScreen();
  EXPECT_TRUE(img.is(150, 150, 255, 0, 0));  // above the diagonal: triangle 0
  EXPECT_TRUE(img.is(250, 250, 0, 255, 0));  // below it: triangle 1
  d.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  img = drawScreen();
  EXPECT_GT(img.at(280, 280)[0], 100);
  EXPECT_GT(img.at(280, 280)[2], 100);
}

TEST(GlLifetime, DevicesDrawApartAndTheirObjectsMayOutliveThem) {
  auto a = std::make_unique<GlScene>();
  auto texture = a->MakeTexture(1, 1, {kGreen});
  auto vb = a->dev->CreateVertexBuffer(4 * sizeof(V42), 0, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED);
  const auto quad = GlScene::Quad(0, 0, 10, 5, 5, kWhite);
  vb->SetData(0, 4 * sizeof(V42), 0, quad.data());
  auto drawA = [&] {
    return a->frame(kBlack, [&](Device& d) {
      d.SetTexture(0, texture);
      d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
      d.SetStreamSource(0, vb, sizeof(V42));
      d.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    });
  };
  EXPECT_TRUE(drawA().is(512, 384, 0, 255, 0));
  {
    GlScene b;
    const Image img = b.frame(kBlack, [&](Device& d) { GlScene::DrawQuad(d, GlScene::Quad(0, 0, 10, 5, 5, kRed)); });
    EXPECT_TRUE(img.is(512, 384, 255, 0, 0));
    EXPECT_TRUE(drawA().is(512, 384, 0, 255, 0));
    // A's texture on B's device is refused, not misread as one of B's.
    b.dev->SetTexture(0, texture);
    b.dev->BeginScene();
    EXPECT_THROW(GlScene::DrawQuad(*b.dev, quad), platform::Error);
    b.dev->EndScene();
  }
  EXPECT_TRUE(drawA().is(512, 384, 0, 255, 0));
  a.reset();
  texture.reset();
  vb.reset();
}

// A recording reads back every frame into buffers it hands round: the same memory serves again,
// and each read gives the frame drawn last, opaque.
TEST(GlReadBack, IntoAReusedBufferKeepsItsMemoryAndGivesTheLatestFrame) {
  GlScene s;
  std::vector<std::uint8_t> pixels;
  DWORD w = 0, h = 0;
  s.frame(kRed, [](Device&) {});
  s.dev->GetBackend().readBackInto(pixels, w, h);
  ASSERT_EQ(w, 1024u);
  ASSERT_EQ(h, 768u);
  ASSERT_EQ(pixels.size(), 1024u * 768u * 4u);
  const std::uint8_t* memory = pixels.data();
  EXPECT_TRUE((Image{pixels}.is(0, 0, 255, 0, 0)));
  const Image second = s.frame(kGreen, [](Device& d) { GlScene::DrawQuad(d, GlScene::Quad(0, 0, 10, 5, 5, kRed)); });
  s.dev->GetBackend().readBackInto(pixels, w, h);
  EXPECT_EQ(pixels.data(), memory);
  EXPECT_TRUE(pixels == second.rgba);
  EXPECT_TRUE((Image{pixels}.is(0, 0, 0, 255, 0)));
  EXPECT_TRUE((Image{pixels}.is(512, 384, 255, 0, 0)));
  std::size_t translucent = 0;
  for (std::size_t i = 3; i < pixels.size(); i += 4) translucent += pixels[i] != 255;
  EXPECT_EQ(translucent, 0u);
}

std::string ErrorOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(GlBadInput, RefusedDrawsNameTheCall) {
  GlScene s;
  Device& d = *s.dev;
  const auto quad = GlScene::Quad(0, 0, 10, 5, 5, kWhite);
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  EXPECT_THAT(ErrorOf([&] { d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad.data(), sizeof(V42)); }),
              HasSubstr("DrawPrimitiveUP: draw outside BeginScene"));

  d.BeginScene();
  d.SetVertexShader(0x006 | D3DFVF_DIFFUSE);  // a blended position the pipeline has no weights for
  EXPECT_THAT(ErrorOf([&] { d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 1, quad.data(), sizeof(V42)); }),
              HasSubstr("DrawPrimitiveUP: vertex format 0x46"));

  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  auto vb = d.CreateVertexBuffer(4 * sizeof(V42), 0, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED);
  d.SetStreamSource(0, vb, sizeof(V42));
  EXPECT_THAT(ErrorOf([&] { d.DrawPrimitive(D3DPT_TRIANGLESTRIP, 1, 2); }), HasSubstr("DrawPrimitive: "));
  EXPECT_THAT(ErrorOf([&] { d.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 3); }), HasSubstr("beyond the buffer"));

  const std::uint16_t indices[4] = {0, 1, 2, 4};
  EXPECT_THAT(ErrorOf([&] {
                d.DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 0, 4, 2, indices, D3DFMT_INDEX16, quad.data(), sizeof(V42));
              }),
              HasSubstr("DrawIndexedPrimitiveUP: index 4 outside the vertex range 0..3"));

  // The backend itself refuses a format it cannot map, whoever hands it one.
  DrawCall call;
  call.type = D3DPT_TRIANGLESTRIP;
  call.primitiveCount = 2;
  call.fvf = 0x008 | D3DFVF_DIFFUSE;
  call.stride = 24;
  call.vertices = reinterpret_cast<const std::uint8_t*>(quad.data());
  call.vertexCount = 4;
  EXPECT_THAT(ErrorOf([&] { d.GetBackend().draw(call, d.State()); }),
              HasSubstr("DrawPrimitiveUP: vertex format 0x48 cannot be mapped"));
  d.EndScene();
  // The device still draws after the refusals.
  const Image img = s.frame(kBlack, [&](Device& dev) { GlScene::DrawQuad(dev, quad); });
  EXPECT_TRUE(img.is(512, 384, 255, 255, 255));
}

// A frame nobody sees makes its calls but fills one pixel only (the top-left); Present ends that,
// and the frame after it is drawn whole.
TEST(GlRender, AnUnseenFrameFillsOnlyItsFirstPixelAndTheNextFrameIsWhole) {
  GlScene s;
  const auto quad = GlScene::Quad(0, 0, 10, 5, 5, 0xFF00FF00);
  s.frame(kBlack, [](Device&) {});
  s.dev->DrawNextFrameUnseen();
  const Image unseen = s.frame(0xFFFF0000, [&](Device& dev) { GlScene::DrawQuad(dev, quad); });
  EXPECT_TRUE(unseen.is(0, 0, 255, 0, 0));
  EXPECT_TRUE(unseen.is(1, 0, 0, 0, 0));
  EXPECT_TRUE(unseen.is(0, 1, 0, 0, 0));
  EXPECT_TRUE(unseen.is(512, 384, 0, 0, 0));
  EXPECT_TRUE(unseen.is(1023, 767, 0, 0, 0));
  const Image next = s.frame(0xFFFF0000, [&](Device& dev) { GlScene::DrawQuad(dev, quad); });
  EXPECT_TRUE(next.is(512, 384, 0, 255, 0));
  EXPECT_TRUE(next.is(1, 0, 255, 0, 0));
  EXPECT_TRUE(next.is(1023, 767, 255, 0, 0));
}

}  // namespace
