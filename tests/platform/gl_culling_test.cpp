// Points that cannot change a pixel are not sent to GL: counted with GL's own primitive query around
// the device's draw, and checked against the pixels the draw leaves.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <string>

#include "tests/platform/GlScene.h"

namespace {

using namespace gltest;

constexpr D3DCOLOR kBlack = 0xFF000000;
constexpr D3DCOLOR kSeen = 0xFFFFFFFF, kUnseen = 0x00FFFFFF;  // white, alpha 255 and alpha 0

DWORD Bits(float f) {
  return std::bit_cast<DWORD>(f);
}

// Six points 10 deep along the screen's middle row, 100 pixels apart, alpha 0 at the even ones.
std::vector<V42> Row() {
  std::vector<V42> v;
  for (int i = 0; i < 6; ++i) {
    const float x = (static_cast<float>(i) - 2.5f) * 100.0f * 2.0f * HalfPixelX(10);
    v.push_back({x + HalfPixelX(10), -HalfPixelY(10), 10, i % 2 ? kSeen : kUnseen});
  }
  return v;
}
int ColumnOf(int i) {
  return 512 + (i - 3) * 100 + 50;
}

// The snow's states: scaled sprites of a white texture, texture times diffuse, added with source
// alpha, no depth writes.
void SetSnowStates(GlScene& s) {
  Device& d = *s.dev;
  d.SetTexture(0, s.MakeTexture(1, 1, {0xFFFFFFFF}));
  d.SetRenderState(D3DRS_POINTSPRITEENABLE, 1);
  d.SetRenderState(D3DRS_POINTSCALEENABLE, 1);
  for (DWORD abc : {D3DRS_POINTSCALE_A, D3DRS_POINTSCALE_B, D3DRS_POINTSCALE_C})
    d.SetRenderState(abc, Bits(0.6f));
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  d.SetRenderState(D3DRS_ZWRITEENABLE, 0);
  d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  d.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
}

// The points GL rasterises while `draw` runs.
GLuint PointsGlReceives(Device& d, const std::function<void(Device&)>& draw) {
  GLuint query = 0, points = 0;
  glGenQueries(1, &query);
  glBeginQuery(GL_PRIMITIVES_GENERATED, query);
  draw(d);
  glEndQuery(GL_PRIMITIVES_GENERATED);
  glGetQueryObjectuiv(query, GL_QUERY_RESULT, &points);
  glDeleteQueries(1, &query);
  return points;
}

// Draws the row from a vertex buffer, as the snow does, or from user memory; returns the points GL
// received and leaves the frame in `img`.
GLuint DrawRow(GlScene& s, bool fromBuffer, Image& img) {
  const std::vector<V42> row = Row();
  auto vb = s.dev->CreateVertexBuffer(static_cast<DWORD>(row.size() * sizeof(V42)),
                                      D3DUSAGE_WRITEONLY | D3DUSAGE_POINTS, D3DFVF_XYZ | D3DFVF_DIFFUSE,
                                      D3DPOOL_MANAGED);
  vb->SetData(0, static_cast<DWORD>(row.size() * sizeof(V42)), 0, row.data());
  GLuint points = 0;
  img = s.frame(kBlack, [&](Device& d) {
    points = PointsGlReceives(d, [&](Device& dev) {
      dev.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
      if (fromBuffer) {
        dev.SetStreamSource(0, vb, sizeof(V42));
        dev.DrawPrimitive(D3DPT_POINTLIST, 0, static_cast<DWORD>(row.size()));
      } else {
        dev.DrawPrimitiveUP(D3DPT_POINTLIST, static_cast<DWORD>(row.size()), row.data(), sizeof(V42));
      }
    });
  });
  return points;
}

TEST(GlInvisiblePoints, UnderTheSnowsStatesOnlyPointsWithAlphaReachGl) {
  for (bool fromBuffer : {true, false}) {
    SCOPED_TRACE(fromBuffer ? "vertex buffer" : "user memory");
    GlScene s(0.1f);
    SetSnowStates(s);
    Image img;
    EXPECT_EQ(DrawRow(s, fromBuffer, img), 3u);
    for (int i = 0; i < 6; ++i) {
      SCOPED_TRACE("point " + std::to_string(i));
      if (i % 2)
        EXPECT_TRUE(img.is(ColumnOf(i), 384, 255, 255, 255));
      else
        EXPECT_TRUE(img.is(ColumnOf(i), 384, 0, 0, 0));
    }
  }
}

TEST(GlInvisiblePoints, AllPointsReachGlWhereAZeroAlphaPointCanStillChangeAPixel) {
  const struct {
    const char* why;
    std::function<void(Device&)> set;
  } cases[] = {
      {"it writes depth", [](Device& d) { d.SetRenderState(D3DRS_ZWRITEENABLE, 1); }},
      {"blending is off", [](Device& d) { d.SetRenderState(D3DRS_ALPHABLENDENABLE, 0); }},
      {"the destination is scaled by the source colour",
       [](Device& d) { d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCCOLOR); }},
      {"the source is added whatever its alpha",
       [](Device& d) { d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE); }},
      {"alpha comes from the texture alone",
       [](Device& d) { d.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1); }},
      {"alpha is the complement of the diffuse alpha",
       [](Device& d) { d.SetTextureStageState(0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE | D3DTA_COMPLEMENT); }},
      {"stage 1 adds the texture's alpha",
       [](Device& d) {
         d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
         d.SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_ADD);
       }},
      {"the alpha test passes alpha 0",
       [](Device& d) {
         d.SetRenderState(D3DRS_ZWRITEENABLE, 1);
         d.SetRenderState(D3DRS_ALPHATESTENABLE, 1);
         d.SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
         d.SetRenderState(D3DRS_ALPHAREF, 0);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    GlScene s(0.1f);
    SetSnowStates(s);
    c.set(*s.dev);
    Image img;
    EXPECT_EQ(DrawRow(s, true, img), 6u);
  }
}

TEST(GlInvisiblePoints, OtherStatesThatHideZeroAlphaPointsDropThemToo) {
  const struct {
    const char* why;
    std::function<void(Device&)> set;
  } cases[] = {
      {"depth is off, so none is written",
       [](Device& d) {
         d.SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
         d.SetRenderState(D3DRS_ZWRITEENABLE, 1);
       }},
      {"the destination keeps one minus the source alpha",
       [](Device& d) { d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA); }},
      {"both factors from the source alpha", [](Device& d) { d.SetRenderState(D3DRS_SRCBLEND, 12); }},
      {"the alpha test throws alpha 0 away, blending off and depth written",
       [](Device& d) {
         d.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
         d.SetRenderState(D3DRS_ZWRITEENABLE, 1);
         d.SetRenderState(D3DRS_ALPHATESTENABLE, 1);
         d.SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATER);
         d.SetRenderState(D3DRS_ALPHAREF, 0);
       }},
      {"stage 0 is disabled: alpha is the diffuse alpha",
       [](Device& d) { d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE); }},
      {"stage 1 modulates the current alpha",
       [](Device& d) {
         d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_SELECTARG2);
         d.SetTextureStageState(1, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    GlScene s(0.1f);
    SetSnowStates(s);
    c.set(*s.dev);
    Image img;
    EXPECT_EQ(DrawRow(s, true, img), 3u);
    EXPECT_TRUE(img.is(ColumnOf(0), 384, 0, 0, 0));
    EXPECT_FALSE(img.is(ColumnOf(1), 384, 0, 0, 0));
  }
}

TEST(GlInvisiblePoints, AZeroAlphaPointThatWritesDepthStillHidesWhatLiesBehindIt) {
  GlScene s(0.1f);
  SetSnowStates(s);
  s.dev->SetRenderState(D3DRS_ZWRITEENABLE, 1);
  const std::vector<V42> row = Row();
  const Image img = s.frame(kBlack, [&](Device& d) {
    d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    d.DrawPrimitiveUP(D3DPT_POINTLIST, static_cast<DWORD>(row.size()), row.data(), sizeof(V42));
    d.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    d.SetRenderState(D3DRS_POINTSPRITEENABLE, 0);
    d.SetTexture(0, nullptr);
    GlScene::DrawQuad(d, GlScene::Quad(0, 0, 20, 30, 30, 0xFF0000FF));
  });
  EXPECT_TRUE(img.is(ColumnOf(0), 384, 0, 0, 0));         // the invisible point's depth keeps the quad out
  EXPECT_TRUE(img.is(ColumnOf(0), 384 + 40, 0, 0, 255));  // beside it, the quad
}

}  // namespace
