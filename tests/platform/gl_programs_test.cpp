// Specialised programs against the uber program: each family of states that picks a program (fog
// modes, texture operations, alpha test, shading, points, pre-transformed vertices) drawn on two
// devices, one making a program per state combination, one branching on uniforms, and compared
// pixel for pixel. The uber program exists only here: its key block declares every key state as a
// uniform of the name the backend uploads it under.
#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <string>

#include "platform/gl/GlBackend.h"
#include "tests/platform/GlScene.h"

namespace {

using namespace gltest;

DWORD Bits(float f) {
  return std::bit_cast<DWORD>(f);
}

constexpr D3DCOLOR kSky = 0xFF7F7FB4;

int uberPrograms = 0;

std::string UberKeyDefines(const gl::ProgramKey&) {
  ++uberPrograms;
  static constexpr const char* kStates[][2] = {
      {"bool", "PreTransformed"}, {"bool", "VertexPointSize"}, {"bool", "PointScale"}, {"int", "FogMode"},
      {"bool", "VertexFog"},      {"bool", "Flat"},            {"bool", "SpriteCoords"}, {"ivec4", "ColorOp0"},
      {"ivec4", "AlphaOp0"},      {"ivec4", "ColorOp1"},       {"ivec4", "AlphaOp1"},    {"int", "AlphaFunc"}};
  std::string s;
  for (const auto& state : kStates)
    s += std::string("uniform ") + state[0] + " u" + state[1] + ";\n#define k" + state[1] + " u" + state[1] + "\n";
  return s;
}

// A quad across depths 10 to 200, tilted away from the camera, its four corners in four colours,
// with texture coordinates 0..4 for a 2x2 texture.
void DrawTiltedQuad(Device& d) {
  const V142 q[4] = {{-150, -20, 10, 0xC0FF0000, 0, 0},
                     {150, -20, 10, 0x8000FF00, 4, 0},
                     {-150, 20, 200, 0x400000FF, 0, 4},
                     {150, 20, 200, 0xFFFFFFFF, 4, 4}};
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1);
  d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof(V142));
}

std::shared_ptr<Texture> Checker(GlScene& s) {
  return s.MakeTexture(2, 2, {0x80FF8040, 0xFF2080C0, 0x00FFFFFF, 0xC0404040}, true);
}

// One family's scene: set-up and drawing on a fresh device; every variant is drawn in its own frame.
struct Family {
  const char* name;
  std::vector<std::function<void(GlScene&, Device&)>> variants;
};

void Fog(Device& d, DWORD table, DWORD vertex) {
  d.SetRenderState(D3DRS_FOGENABLE, 1);
  d.SetRenderState(D3DRS_FOGTABLEMODE, table);
  d.SetRenderState(D3DRS_FOGVERTEXMODE, vertex);
  d.SetRenderState(D3DRS_FOGCOLOR, kSky);
  d.SetRenderState(D3DRS_FOGSTART, Bits(20.0f));
  d.SetRenderState(D3DRS_FOGEND, Bits(150.0f));
  d.SetRenderState(D3DRS_FOGDENSITY, Bits(0.02f));
}

void Stage(Device& d, DWORD stage, DWORD colorOp, DWORD c1, DWORD c2, DWORD alphaOp, DWORD a1, DWORD a2,
           DWORD arg0 = D3DTA_CURRENT) {
  d.SetTextureStageState(stage, D3DTSS_COLOROP, colorOp);
  d.SetTextureStageState(stage, D3DTSS_COLORARG1, c1);
  d.SetTextureStageState(stage, D3DTSS_COLORARG2, c2);
  d.SetTextureStageState(stage, D3DTSS_COLORARG0, arg0);
  d.SetTextureStageState(stage, D3DTSS_ALPHAOP, alphaOp);
  d.SetTextureStageState(stage, D3DTSS_ALPHAARG1, a1);
  d.SetTextureStageState(stage, D3DTSS_ALPHAARG2, a2);
  d.SetTextureStageState(stage, D3DTSS_ALPHAARG0, arg0);
}

// Blending with source alpha over the sky makes the computed alpha show in the picture.
void BlendOver(Device& d) {
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  d.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  d.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
}

std::vector<Family> Families() {
  using V = std::function<void(GlScene&, Device&)>;
  std::vector<Family> f;
  f.push_back({"fog", {}});
  for (auto [table, vertex] : {std::pair<DWORD, DWORD>{D3DFOG_LINEAR, D3DFOG_NONE},
                               {D3DFOG_EXP, D3DFOG_NONE},
                               {D3DFOG_EXP2, D3DFOG_NONE},
                               {D3DFOG_NONE, D3DFOG_LINEAR},
                               {D3DFOG_NONE, D3DFOG_EXP2},
                               {D3DFOG_NONE, D3DFOG_NONE}})
    f.back().variants.push_back(V([table, vertex](GlScene& s, Device& d) {
      d.SetTexture(0, Checker(s));
      Fog(d, table, vertex);
      DrawTiltedQuad(d);
    }));

  f.push_back({"texture operations", {}});
  const struct {
    DWORD op, c1, c2, alphaOp, a1, a2, arg0;
  } ops[] = {
      {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE,
       D3DTA_CURRENT},
      {D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_DIFFUSE, D3DTOP_SELECTARG2, D3DTA_TEXTURE,
       D3DTA_DIFFUSE, D3DTA_CURRENT},
      {D3DTOP_ADD, D3DTA_TEXTURE, D3DTA_DIFFUSE | D3DTA_ALPHAREPLICATE, D3DTOP_ADDSIGNED, D3DTA_TEXTURE,
       D3DTA_TFACTOR, D3DTA_CURRENT},
      {D3DTOP_MODULATE2X, D3DTA_TEXTURE, D3DTA_TFACTOR, D3DTOP_SUBTRACT, D3DTA_DIFFUSE, D3DTA_TEXTURE,
       D3DTA_CURRENT},
      {D3DTOP_BLENDTEXTUREALPHA, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE4X, D3DTA_TEXTURE,
       D3DTA_DIFFUSE, D3DTA_CURRENT},
      {D3DTOP_MODULATEALPHA_ADDCOLOR, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_BLENDDIFFUSEALPHA, D3DTA_TEXTURE,
       D3DTA_TFACTOR, D3DTA_CURRENT},
      {D3DTOP_DOTPRODUCT3, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_DIFFUSE,
       D3DTA_CURRENT},
      {D3DTOP_MULTIPLYADD, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_LERP, D3DTA_TEXTURE, D3DTA_DIFFUSE,
       D3DTA_TFACTOR},
  };
  for (const auto& o : ops)
    f.back().variants.push_back(V([o](GlScene& s, Device& d) {
      d.SetTexture(0, Checker(s));
      d.SetRenderState(D3DRS_TEXTUREFACTOR, 0x60A0C0E0);
      BlendOver(d);
      Stage(d, 0, o.op, o.c1, o.c2, o.alphaOp, o.a1, o.a2, o.arg0);
      DrawTiltedQuad(d);
    }));
  // Stage 1 on top of stage 0, and stage 0 disabled with stage 1 set.
  f.back().variants.push_back(V([](GlScene& s, Device& d) {
    d.SetTexture(0, Checker(s));
    d.SetTexture(1, s.MakeTexture(1, 2, {0xFF808080, 0x40FF40C0}));
    BlendOver(d);
    Stage(d, 1, D3DTOP_ADDSMOOTH, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_MODULATE, D3DTA_TEXTURE,
          D3DTA_CURRENT);
    DrawTiltedQuad(d);
  }));
  f.back().variants.push_back(V([](GlScene& s, Device& d) {
    d.SetTexture(0, Checker(s));
    Stage(d, 0, D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_DISABLE, D3DTA_TEXTURE, D3DTA_CURRENT);
    Stage(d, 1, D3DTOP_SELECTARG1, D3DTA_TEXTURE, D3DTA_CURRENT, D3DTOP_SELECTARG1, D3DTA_TEXTURE,
          D3DTA_CURRENT);
    DrawTiltedQuad(d);
  }));

  f.push_back({"alpha test", {}});
  for (DWORD func = D3DCMP_NEVER; func <= D3DCMP_ALWAYS; ++func)
    f.back().variants.push_back(V([func](GlScene& s, Device& d) {
      d.SetTexture(0, Checker(s));
      d.SetRenderState(D3DRS_ALPHATESTENABLE, 1);
      d.SetRenderState(D3DRS_ALPHAFUNC, func);
      d.SetRenderState(D3DRS_ALPHAREF, 0x60);
      Stage(d, 0, D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTOP_MODULATE, D3DTA_TEXTURE,
            D3DTA_DIFFUSE);
      DrawTiltedQuad(d);
    }));

  f.push_back({"shading", {}});
  for (DWORD mode : {D3DSHADE_FLAT, D3DSHADE_GOURAUD})
    f.back().variants.push_back(V([mode](GlScene&, Device& d) {
      d.SetRenderState(D3DRS_SHADEMODE, mode);
      Fog(d, D3DFOG_LINEAR, D3DFOG_NONE);
      DrawTiltedQuad(d);
    }));

  f.push_back({"points", {}});
  for (int variant = 0; variant < 4; ++variant)
    f.back().variants.push_back(V([variant](GlScene& s, Device& d) {
      d.SetTexture(0, Checker(s));
      BlendOver(d);
      d.SetRenderState(D3DRS_POINTSPRITEENABLE, variant != 3);
      d.SetRenderState(D3DRS_POINTSCALEENABLE, variant == 0 || variant == 2);
      for (DWORD abc : {D3DRS_POINTSCALE_A, D3DRS_POINTSCALE_B, D3DRS_POINTSCALE_C})
        d.SetRenderState(abc, Bits(0.6f));
      d.SetRenderState(D3DRS_POINTSIZE, Bits(12.0f));
      if (variant == 2) {  // each point its own size
        struct V62 {
          float x, y, z, size;
          D3DCOLOR c;
        } p[3] = {{-5, 0, 10, 4, 0xFFFF8000}, {0, 0, 10, 20, 0x80FFFFFF}, {5, 0, 30, 9, 0xFF00FF00}};
        d.SetVertexShader(D3DFVF_XYZ | D3DFVF_PSIZE | D3DFVF_DIFFUSE);
        d.DrawPrimitiveUP(D3DPT_POINTLIST, 3, p, sizeof p[0]);
      } else {
        const V42 p[3] = {{-5, 0, 10, 0xFFFF8000}, {0, 0, 10, 0x80FFFFFF}, {5, 0, 30, 0xFF00FF00}};
        d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
        d.DrawPrimitiveUP(D3DPT_POINTLIST, 3, p, sizeof p[0]);
      }
    }));

  f.push_back({"pre-transformed vertices", {}});
  f.back().variants.push_back(V([](GlScene& s, Device& d) {
    d.SetTexture(0, Checker(s));
    BlendOver(d);
    Fog(d, D3DFOG_LINEAR, D3DFOG_NONE);  // table fog reads the vertices' w
    const V104 q[4] = {{100, 100, 0.5f, 0.05f, 0, 0},
                       {600, 120, 0.5f, 0.02f, 3, 0},
                       {80, 500, 0.5f, 0.05f, 0, 3},
                       {700, 700, 0.5f, 0.01f, 3, 3}};
    d.SetVertexShader(D3DFVF_XYZRHW | D3DFVF_TEX1);
    d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q, sizeof q[0]);
  }));
  return f;
}

TEST(GlPrograms, EachKeyFamilyDrawsTheUberProgramsPixels) {
  std::size_t variants = 0;
  for (const Family& family : Families()) {
    for (std::size_t v = 0; v < family.variants.size(); ++v, ++variants) {
      SCOPED_TRACE(std::string(family.name) + ", variant " + std::to_string(v));
      // Fresh devices per variant: the states one variant sets must not leak into the next.
      const int uberBefore = uberPrograms;
      GlScene a(1.0f), b(1.0f, UberKeyDefines);
      const Image got = a.frame(kSky, [&](Device& d) { family.variants[v](a, d); });
      const Image want = b.frame(kSky, [&](Device& d) { family.variants[v](b, d); });
      std::size_t differing = 0, drawn = 0;
      for (std::size_t i = 0; i < want.rgba.size(); i += 4) {
        if (want.rgba[i] != 127 || want.rgba[i + 1] != 127 || want.rgba[i + 2] != 180) ++drawn;
        for (int k = 0; k < 3; ++k)
          if (got.rgba[i + k] != want.rgba[i + k]) {
            ++differing;
            break;
          }
      }
      EXPECT_EQ(differing, 0u);
      // A variant that draws nothing compares nothing, except where the alpha test rejects all.
      if (std::string(family.name) != "alpha test") {
        EXPECT_GT(drawn, 100u);
      }
      auto& backend = dynamic_cast<gl::GlBackend&>(a.dev->GetBackend());
      EXPECT_EQ(backend.programs(), 1u);
      EXPECT_EQ(dynamic_cast<gl::GlBackend&>(b.dev->GetBackend()).programs(), 1u);
      EXPECT_EQ(uberPrograms - uberBefore, 1) << "the uber device drew with a program of its own";
    }
  }
  EXPECT_GT(variants, 25u);
}

TEST(GlPrograms, DrawsWithTheSameKeyShareAProgramAndStatesOutsideTheKeyMakeNone) {
  GlScene s;
  auto& backend = dynamic_cast<gl::GlBackend&>(s.dev->GetBackend());
  s.frame(kSky, [&](Device& d) {
    Fog(d, D3DFOG_LINEAR, D3DFOG_NONE);
    DrawTiltedQuad(d);
    d.SetRenderState(D3DRS_FOGEND, Bits(300.0f));  // a value, not a choice of computation
    d.SetRenderState(D3DRS_FOGCOLOR, 0xFF000000);
    d.SetRenderState(D3DRS_TEXTUREFACTOR, 0x12345678);
    DrawTiltedQuad(d);
    EXPECT_EQ(backend.programs(), 1u);
    d.SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_EXP);
    DrawTiltedQuad(d);
    EXPECT_EQ(backend.programs(), 2u);
    // Stage 1's operations do not matter while stage 0 is disabled.
    d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_DISABLE);
    DrawTiltedQuad(d);
    d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_ADD);
    DrawTiltedQuad(d);
    EXPECT_EQ(backend.programs(), 3u);
  });
  // The same keys in the next frame make nothing new.
  s.frame(kSky, [&](Device& d) {
    d.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
    d.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_DISABLE);
    d.SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
    DrawTiltedQuad(d);
  });
  EXPECT_EQ(backend.programs(), 3u);
}

}  // namespace
