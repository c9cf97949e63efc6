// The text overlay: the colour blend, where PrintText puts its glyphs, what it leaves on the device,
// the glyph atlas, the two lines of the frame, and the glyphs on the OpenGL backend's pixels.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include <gtest/gtest.h>
#include <stb_image_write.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3dx/Font.h"
#include "platform/gl/GlDirect3D8.h"
#include "render/modGen.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using d3dx::FontVertex;
using render::LerpColor;

const std::string kGreeting = "С НОВЫМ 2007 ГОДОМ!";
const std::string kCredit = "Автор демки: Morvelan";

// ---- LerpColor ---------------------------------------------------------------------------------

TEST(LerpColor, EndsOfTheBlendGiveEitherColourWithoutAlpha) {
  EXPECT_EQ(LerpColor(0x80123456u, 0x7FABCDEFu, 1.0f), 0x00123456u);
  EXPECT_EQ(LerpColor(0x80123456u, 0x7FABCDEFu, 0.0f), 0x00ABCDEFu);
  EXPECT_EQ(LerpColor(0xFF102030u, 0xFF405060u, 0.5f), 0x00283848u);
  EXPECT_EQ(LerpColor(0xFFFFFFFFu, 0xFFFFFFFFu, 1.0f), 0x00FFFFFFu);
}

TEST(LerpColor, OnlyTheLowestChannelRoundsToNearest) {
  // 18 and 53 blend to 35.5: the low channel rounds it to 36, the others drop the half step.
  EXPECT_EQ(LerpColor(0x00121212u, 0x00353535u, 0.5f), 0x00232324u);
  // Ties go to even in the low channel: 0.5 -> 0, 1.5 -> 2.
  EXPECT_EQ(LerpColor(0x01u, 0x00u, 0.5f), 0x00u);
  EXPECT_EQ(LerpColor(0x03u, 0x00u, 0.5f), 0x02u);
}

TEST(LerpColor, BlendsOutsideZeroToOneWrapWithinEachChannel) {
  EXPECT_EQ(LerpColor(0x00FFFFFFu, 0u, 2.0f), 0x00FEFEFEu);   // 510 -> 0xFE, nothing carried up
  EXPECT_EQ(LerpColor(0x000000FFu, 0u, -1.0f), 0x00000001u);  // -255 -> ...FF01
  EXPECT_EQ(LerpColor(0x00FF0000u, 0u, 3.0f), 0x00FD0000u);   // 765 << 16: no alpha
  EXPECT_EQ(LerpColor(0u, 0x0000FF00u, -1.0f), 0x0000FE00u);  // s = 2
}

TEST(LerpColor, ChannelsBeyondThirtyTwoBitsAreAnOverflowError) {
  EXPECT_THROW(LerpColor(0x00FF0000u, 0u, 1e30f), platform::Error);
  EXPECT_THROW(LerpColor(0x00FF0000u, 0u, -1e30f), platform::Error);
  EXPECT_THROW(LerpColor(1u, 0u, std::numeric_limits<float>::quiet_NaN()), platform::Error);
  EXPECT_THROW(LerpColor(0u, 1u, std::numeric_limits<float>::infinity()), platform::Error);
}

// ---- the font on the recording device ----------------------------------------------------------

struct Quad {
  float x0, y0, x1, y1, u0, v0, u1, v1;
  D3DCOLOR color;
};

std::vector<Quad> quadsOf(const RecordingBackend::Draw& d) {
  std::vector<Quad> out;
  const auto* v = reinterpret_cast<const FontVertex*>(d.vertexData.data());
  for (std::size_t i = 0; i + 6 <= d.vertexData.size() / sizeof(FontVertex); i += 6)
    out.push_back(
        Quad{v[i].x, v[i].y, v[i + 4].x, v[i + 4].y, v[i].u, v[i].v, v[i + 4].u, v[i + 4].v, v[i].diffuse});
  return out;
}

std::vector<const RecordingBackend::Draw*> textDraws(const RecordingBackend& b) {
  std::vector<const RecordingBackend::Draw*> out;
  for (const auto& d : b.draws)
    if (d.call.fvf == d3dx::kFontFVF) out.push_back(&d);
  return out;
}

struct TextScene {
  TextScene() {
    demo.form.D3D.InitD3D(nullptr);
    demo.form.Gen.InitFont(demo.device());
  }
  Device& dev() { return demo.device(); }
  RecordingBackend& rec() { return demo.backend(); }
  d3dx::Font& font() { return *demo.form.Gen.TextFont(); }
  void print(float x, float y, const std::string& text, D3DCOLOR color = 0xFFFF0000u) {
    dev().BeginScene();
    demo.form.Gen.PrintText(x, y, text, color);
    dev().EndScene();
  }
  // The quads of the single draw the last print made.
  std::vector<Quad> lastQuads() {
    EXPECT_FALSE(rec().draws.empty());
    return rec().draws.empty() ? std::vector<Quad>{} : quadsOf(rec().draws.back());
  }
  wgtest::RecordingDemo demo;
};

// The font file read independently of the code under test.
struct FreeTypeFace {
  explicit FreeTypeFace(const d3dx::GdiFont& f) {
    EXPECT_EQ(FT_Init_FreeType(&lib), 0);
    EXPECT_EQ(FT_New_Face(lib, f.file.c_str(), f.faceIndex, &face), 0);
    EXPECT_EQ(FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(f.pixelHeight)), 0);
  }
  ~FreeTypeFace() {
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
  }
  FT_GlyphSlot render(char32_t cp) {
    EXPECT_EQ(FT_Load_Char(face, cp, FT_LOAD_DEFAULT | FT_LOAD_RENDER), 0);
    return face->glyph;
  }
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
};

d3dx::GdiFont arialBold18() {
  d3dx::StdFont s;
  s.Bold = true;
  s.Size = 18;
  s.Name = "Arial";
  return s.hFont();
}

TEST(Font, ArialBoldResolvesToABoldFaceWithAGdiCell) {
  const d3dx::GdiFont f = arialBold18();
  EXPECT_EQ(f.pixelHeight, 24);
  EXPECT_TRUE(f.bold);
  EXPECT_FALSE(f.italic);
  EXPECT_FALSE(f.synthesizeBold) << f.file;
  EXPECT_NE(f.file.find("Bold"), std::string::npos) << f.file;
  TextScene s;
  // Liberation Sans (Arial's metrics) at a 24 px em: the Windows cell is 22 up and 5 down.
  EXPECT_EQ(s.font().Ascent(), 22);
  EXPECT_EQ(s.font().LineHeight(), 27);
}

TEST(Font, NoInstalledFaceIsAnErrorNamingIt) {
  const std::string dir = wgtest::ScratchDir("no-fonts");
  const std::string conf = dir + "/fonts.conf";
  std::ofstream(conf) << "<?xml version=\"1.0\"?>\n<fontconfig><cachedir>" << dir
                      << "</cachedir></fontconfig>\n";
  const char* old = std::getenv("FONTCONFIG_FILE");
  const std::string saved = old ? old : "";
  setenv("FONTCONFIG_FILE", conf.c_str(), 1);
  d3dx::StdFont s;
  s.Name = "Arial";
  s.Bold = true;
  s.Size = 18;
  std::string message;
  try {
    s.hFont();
  } catch (const platform::Error& e) {
    message = e.what();
  }
  if (old)
    setenv("FONTCONFIG_FILE", saved.c_str(), 1);
  else
    unsetenv("FONTCONFIG_FILE");
  EXPECT_NE(message.find("\"Arial\""), std::string::npos) << message;
}

// Text laid out for Arial keeps its room only in Arial or a face made to its widths.
TEST(Font, OnlyAFaceWithOtherWidthsIsWarnedAbout) {
  EXPECT_TRUE(d3dx::MetricCompatible("Arial", "Arial"));
  EXPECT_TRUE(d3dx::MetricCompatible("Arial", "Liberation Sans"));
  EXPECT_TRUE(d3dx::MetricCompatible("arial", "ARIMO"));
  EXPECT_FALSE(d3dx::MetricCompatible("Arial", "DejaVu Sans"));
  EXPECT_FALSE(d3dx::MetricCompatible("Arial", "Liberation Serif"));
  EXPECT_TRUE(d3dx::MetricCompatible("Times New Roman", "Tinos"));
  EXPECT_FALSE(d3dx::MetricCompatible("Times New Roman", "Liberation Sans"));
  EXPECT_TRUE(d3dx::MetricCompatible("Some Face", "DejaVu Sans"));  // no widths known to compare

  d3dx::GdiFont f = arialBold18();
  EXPECT_EQ(f.family, "Liberation Sans") << f.file;
  EXPECT_EQ(d3dx::SubstitutionWarning(f), "");
  f.family = "DejaVu Sans";
  const std::string warning = d3dx::SubstitutionWarning(f);
  EXPECT_EQ(warning.find("the font \"Arial\" is not installed: the text is drawn in \"DejaVu Sans\""), 0u)
      << warning;
  EXPECT_NE(warning.find("fonts-liberation2"), std::string::npos) << warning;
}

TEST(PrintText, RoundsThePositionTiesToEven) {
  TextScene s;
  FreeTypeFace ft(arialBold18());
  FT_GlyphSlot c = ft.render(U'С');
  const int left = c->bitmap_left, top = c->bitmap_top;
  auto firstQuad = [&](float x, float y) {
    s.print(x, y, kGreeting);
    return s.lastQuads().at(0);
  };
  const Quad at3005 = firstQuad(300.5f, 20.0f);
  EXPECT_EQ(at3005.x0, static_cast<float>(300 + left));
  EXPECT_EQ(at3005.y0, static_cast<float>(20 + 22 - top));
  EXPECT_EQ(firstQuad(301.5f, 20.0f).x0, static_cast<float>(302 + left));
  EXPECT_EQ(firstQuad(400.0f, 20.5f).y0, static_cast<float>(20 + 22 - top));
  EXPECT_EQ(firstQuad(400.0f, 21.5f).y0, static_cast<float>(22 + 22 - top));
  EXPECT_EQ(firstQuad(-0.5f, 0.0f).x0, static_cast<float>(0 + left));
  EXPECT_THROW(s.print(1e20f, 0.0f, kGreeting), platform::Error);
}

TEST(PrintText, EmptyTextDrawsNothingAndTouchesNothing) {
  TextScene s;
  s.dev().BeginScene();
  const std::size_t calls = s.rec().calls.size();
  const std::uint64_t draws = s.rec().drawCount;
  s.demo.form.Gen.PrintText(300, 200, "", 0xFF00FF00u);
  s.demo.form.Gen.PrintText(300, 200, "   ", 0xFF00FF00u);
  EXPECT_EQ(s.rec().calls.size(), calls);
  EXPECT_EQ(s.rec().drawCount, draws);
  s.dev().EndScene();
}

void expectSameState(const DeviceState& a, const DeviceState& b) {
  EXPECT_EQ(a.renderStates, b.renderStates);
  EXPECT_EQ(a.stageStates, b.stageStates);
  EXPECT_EQ(a.textures, b.textures);
  EXPECT_EQ(std::memcmp(&a.world, &b.world, sizeof a.world), 0);
  EXPECT_EQ(std::memcmp(&a.view, &b.view, sizeof a.view), 0);
  EXPECT_EQ(std::memcmp(&a.projection, &b.projection, sizeof a.projection), 0);
  EXPECT_EQ(a.fvf, b.fvf);
  EXPECT_EQ(a.streamSource, b.streamSource);
  EXPECT_EQ(a.streamStride, b.streamStride);
  EXPECT_EQ(std::memcmp(&a.material, &b.material, sizeof a.material), 0);
}

TEST(PrintText, DrawsOneBlendedListAndLeavesEveryStateAsItFoundIt) {
  TextScene s;
  Device& dev = s.dev();
  // What the snow leaves behind: additive blending, fog and depth on, its texture and format.
  dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  dev.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_ONE);
  dev.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  dev.SetRenderState(D3DRS_FOGENABLE, 1);
  dev.SetRenderState(D3DRS_ALPHATESTENABLE, 1);
  dev.SetRenderState(D3DRS_POINTSPRITEENABLE, 1);
  dev.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_SELECTARG1);
  dev.SetTextureStageState(1, D3DTSS_COLOROP, D3DTOP_MODULATE);
  dev.SetTexture(0, s.demo.form.D3D.GroundTexture);
  dev.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  D3DMATRIX world{};
  for (int i = 0; i < 16; ++i) world.m[i / 4][i % 4] = static_cast<float>(i) * 0.25f;
  dev.SetTransform(D3DTS_WORLD, world);

  for (const std::string& text : {kGreeting, kCredit}) {
    const DeviceState before = dev.State();
    s.rec().reset();
    s.print(300, 200, text, 0x80FF00FFu);
    expectSameState(before, dev.State());
    ASSERT_EQ(s.rec().draws.size(), 1u);
    const auto& d = s.rec().draws[0];
    EXPECT_EQ(d.call.type, D3DPT_TRIANGLELIST);
    EXPECT_EQ(d.call.fvf, 0x144u);
    EXPECT_EQ(d.call.stride, 28u);
    const auto& rs = d.state.renderStates;
    EXPECT_EQ(rs[D3DRS_ALPHABLENDENABLE], 1u);
    EXPECT_EQ(rs[D3DRS_SRCBLEND], D3DBLEND_SRCALPHA);
    EXPECT_EQ(rs[D3DRS_DESTBLEND], D3DBLEND_INVSRCALPHA);
    EXPECT_EQ(rs[D3DRS_FOGENABLE], 0u);
    EXPECT_EQ(rs[D3DRS_ZENABLE], 0u);
    EXPECT_EQ(rs[D3DRS_CULLMODE], D3DCULL_NONE);
    EXPECT_EQ(rs[D3DRS_ALPHATESTENABLE], 0u);
    const auto& ts = d.state.stageStates[0];
    EXPECT_EQ(ts[D3DTSS_COLOROP], D3DTOP_MODULATE);
    EXPECT_EQ(ts[D3DTSS_COLORARG1], D3DTA_TEXTURE);
    EXPECT_EQ(ts[D3DTSS_COLORARG2], D3DTA_DIFFUSE);
    EXPECT_EQ(ts[D3DTSS_ALPHAOP], D3DTOP_MODULATE);
    EXPECT_EQ(ts[D3DTSS_ALPHAARG1], D3DTA_TEXTURE);
    EXPECT_EQ(ts[D3DTSS_ALPHAARG2], D3DTA_DIFFUSE);
    EXPECT_EQ(ts[D3DTSS_MAGFILTER], D3DTEXF_LINEAR);
    EXPECT_EQ(ts[D3DTSS_MINFILTER], D3DTEXF_LINEAR);
    EXPECT_EQ(d.state.stageStates[1][D3DTSS_COLOROP], D3DTOP_DISABLE);
    EXPECT_EQ(d.state.textures[0], s.font().Atlas());
    for (const Quad& q : quadsOf(d)) EXPECT_EQ(q.color, 0x80FF00FFu);
  }
}

TEST(PrintText, TheCyrillicGreetingIsSixteenGlyphQuadsOnTheBaseline) {
  TextScene s;
  FreeTypeFace ft(arialBold18());
  s.print(400, 20, kGreeting);
  const auto& d = s.rec().draws.back();
  // 19 characters, three of them spaces.
  EXPECT_EQ(d.call.primitiveCount, 32u);
  const auto quads = quadsOf(d);
  ASSERT_EQ(quads.size(), 16u);
  for (char32_t cp : std::u32string_view(U"СНОВЫМГД")) EXPECT_NE(FT_Get_Char_Index(ft.face, cp), 0u);
  float prevX = 0;
  std::set<std::pair<float, float>> atlasSpots;
  for (const Quad& q : quads) {
    EXPECT_GT(q.x0, prevX);
    prevX = q.x0;
    EXPECT_EQ(q.x0, std::floor(q.x0));
    EXPECT_EQ(q.y0, std::floor(q.y0));
    EXPECT_LE(q.y0, 20.0f + 22.0f);
    EXPECT_GE(q.y1, 20.0f + 22.0f - 1.0f);
    atlasSpots.insert({q.u0, q.v0});
  }
  // Repeated letters share one atlas entry: С Н О В Ы М 2 0 7 Г Д !
  EXPECT_EQ(atlasSpots.size(), 12u);
  EXPECT_LT(quads.back().x1, 400.0f + 19 * 24.0f);
}

TEST(PrintText, LineFeedsStartLinesAndTheRectangleClips) {
  TextScene s;
  d3dx::Font& font = s.font();
  const D3DRECT rect{100, 50, 1280, 1280};
  s.dev().BeginScene();
  EXPECT_EQ(font.DrawText("Н\nН", rect, 0, 0xFFFFFFFFu), 2 * 27);
  const auto two = quadsOf(s.rec().draws.back());
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[1].x0, two[0].x0);
  EXPECT_EQ(two[1].y0, two[0].y0 + 27.0f);
  // The same text as UTF-16.
  EXPECT_EQ(font.DrawText(u"Н\nН", rect, 0, 0xFFFFFFFFu), 2 * 27);
  const auto again = quadsOf(s.rec().draws.back());
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].y0, two[1].y0);
  const D3DRECT narrow{100, 50, 110, 1280};
  font.DrawText("НННН", narrow, 0, 0xFFFFFFFFu);
  for (const Quad& q : quadsOf(s.rec().draws.back())) EXPECT_LE(q.x1, 110.0f);
  // A malformed byte draws one replacement glyph and is no error.
  font.DrawText("\xFF", rect, 0, 0xFFFFFFFFu);
  EXPECT_EQ(quadsOf(s.rec().draws.back()).size(), 1u);
  s.dev().EndScene();
}

TEST(GlyphAtlas, HoldsEachGlyphsCoverageInAlphaOverWhite) {
  TextScene s;
  FreeTypeFace ft(arialBold18());
  s.print(400, 20, kGreeting);
  const auto atlas = s.font().Atlas();
  ASSERT_TRUE(atlas);
  ASSERT_EQ(atlas->levels.size(), 1u);
  const auto& level = atlas->levels[0];
  int partial = 0;
  for (std::size_t i = 0; i < level.rgba.size(); i += 4) {
    ASSERT_EQ(level.rgba[i], 255);
    ASSERT_EQ(level.rgba[i + 1], 255);
    ASSERT_EQ(level.rgba[i + 2], 255);
    partial += level.rgba[i + 3] > 0 && level.rgba[i + 3] < 255;
  }
  EXPECT_GT(partial, 100);  // antialiased edges
  // The first quad samples the texel centres of exactly the bitmap FreeType renders for 'С'.
  const Quad q = s.lastQuads().at(0);
  FT_GlyphSlot c = ft.render(U'С');
  ASSERT_EQ(q.x1 - q.x0, static_cast<float>(c->bitmap.width));
  ASSERT_EQ(q.y1 - q.y0, static_cast<float>(c->bitmap.rows));
  const float tx = q.u0 * static_cast<float>(level.width) - 0.5f,
              ty = q.v0 * static_cast<float>(level.height) - 0.5f;
  ASSERT_EQ(tx, std::floor(tx));
  ASSERT_EQ(ty, std::floor(ty));
  EXPECT_EQ(q.u1 * static_cast<float>(level.width) - 0.5f, tx + (q.x1 - q.x0));
  for (unsigned y = 0; y < c->bitmap.rows; ++y)
    for (unsigned x = 0; x < c->bitmap.width; ++x)
      ASSERT_EQ(level.rgba[((static_cast<std::size_t>(ty) + y) * static_cast<std::size_t>(level.width) +
                            static_cast<std::size_t>(tx) + x) *
                               4 +
                           3],
                c->bitmap.buffer[y * static_cast<unsigned>(c->bitmap.pitch) + x])
          << x << "," << y;
}

TEST(GlyphAtlas, NoGlyphIsRasterisedTwice) {
  TextScene s;
  s.print(400, 20, kGreeting);
  // С, space, Н, О, В, Ы, М, 2, 0, 7, Г, Д, !
  EXPECT_EQ(s.font().GlyphsRasterised(), 13u);
  const auto atlas = s.font().Atlas();
  s.rec().reset();
  s.print(400, 20, kGreeting);
  s.print(10, 700, kGreeting);
  EXPECT_EQ(s.font().GlyphsRasterised(), 13u);
  EXPECT_EQ(s.font().Atlas(), atlas);
  for (const auto& name : s.rec().callNames()) EXPECT_NE(name, "CreateTexture");
  // New letters join the atlas; the old ones stay where they were.
  const auto first = s.lastQuads().at(0);
  s.print(10, 700, kCredit + " " + kGreeting);
  EXPECT_GT(s.font().GlyphsRasterised(), 13u);
  const auto quads = s.lastQuads();
  EXPECT_EQ(quads.at(19).u0, first.u0);
  EXPECT_EQ(quads.at(19).v0 * static_cast<float>(s.font().Atlas()->Height()),
            first.v0 * static_cast<float>(atlas->Height()));
}

// ---- characters the face lacks -----------------------------------------------------------------

// The atlas texels one quad shows: its glyph's coverage, row by row.
std::vector<std::uint8_t> inkOf(const Quad& q, const Texture::Level& atlas) {
  const auto tx = static_cast<std::size_t>(q.u0 * static_cast<float>(atlas.width) - 0.5f);
  const auto ty = static_cast<std::size_t>(q.v0 * static_cast<float>(atlas.height) - 0.5f);
  std::vector<std::uint8_t> ink;
  for (std::size_t y = 0; y < static_cast<std::size_t>(q.y1 - q.y0); ++y)
    for (std::size_t x = 0; x < static_cast<std::size_t>(q.x1 - q.x0); ++x)
      ink.push_back(atlas.rgba[((ty + y) * static_cast<std::size_t>(atlas.width) + tx + x) * 4 + 3]);
  return ink;
}

std::vector<std::uint8_t> inkOf(const FT_Bitmap& bm) {
  std::vector<std::uint8_t> ink;
  for (unsigned y = 0; y < bm.rows; ++y)
    for (unsigned x = 0; x < bm.width; ++x) ink.push_back(bm.buffer[y * static_cast<unsigned>(bm.pitch) + x]);
  return ink;
}

// The face fontconfig ranks first for bold Arial among those that have `cp`, asked independently.
d3dx::GdiFont faceFor(char32_t cp) {
  FcConfig* config = FcInitLoadConfigAndFonts();
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("Arial"));
  FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_BOLD);
  FcCharSet* chars = FcCharSetCreate();
  FcCharSetAddChar(chars, cp);
  FcPatternAddCharSet(pattern, FC_CHARSET, chars);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  d3dx::GdiFont f = arialBold18();
  FcChar8* file = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch)
    f.file = reinterpret_cast<const char*>(file);
  if (match) FcPatternDestroy(match);
  FcCharSetDestroy(chars);
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  return f;
}

TEST(FallbackFace, ACharacterTheFaceLacksIsDrawnFromAFaceThatHasItOnTheSameBaseline) {
  constexpr char32_t kAyb = 0x531;  // Armenian capital Ayb: not in Liberation Sans, in DejaVu Sans
  FreeTypeFace own(arialBold18());
  ASSERT_EQ(FT_Get_Char_Index(own.face, kAyb), 0u);
  const d3dx::GdiFont armenian = faceFor(kAyb);
  ASSERT_NE(armenian.file, arialBold18().file);
  FreeTypeFace other(armenian);
  FT_GlyphSlot expected = other.render(kAyb);

  TextScene s;
  s.print(400, 20, "HԱ");
  const std::vector<Quad> quads = s.lastQuads();
  ASSERT_EQ(quads.size(), 2u);
  const Texture::Level& atlas = s.font().Atlas()->levels[0];
  EXPECT_EQ(inkOf(quads[1], atlas), inkOf(expected->bitmap));
  // Both sit on the own face's baseline, 22 px below the top.
  EXPECT_EQ(quads[1].y0, static_cast<float>(20 + 22 - expected->bitmap_top));
  EXPECT_EQ(quads[0].y0, static_cast<float>(20 + 22 - own.render(U'H')->bitmap_top));
}

TEST(FallbackFace, ACharacterNoFaceHasIsTheMissingGlyphBoxAndIsListedOnce) {
  constexpr char32_t kUnassigned = 0x378;  // a Greek code point no character is assigned to
  FreeTypeFace own(arialBold18());
  ASSERT_EQ(FT_Load_Glyph(own.face, 0, FT_LOAD_DEFAULT), 0);
  ASSERT_EQ(FT_Render_Glyph(own.face->glyph, FT_RENDER_MODE_NORMAL), 0);
  const std::vector<std::uint8_t> box = inkOf(own.face->glyph->bitmap);

  TextScene s;
  s.print(400, 20, "\xCD\xB8Ա");
  const std::vector<Quad> quads = s.lastQuads();
  ASSERT_EQ(quads.size(), 2u);
  const Texture::Level& atlas = s.font().Atlas()->levels[0];
  EXPECT_EQ(inkOf(quads[0], atlas), box);
  EXPECT_NE(inkOf(quads[1], atlas), box) << "the fallback glyph has ink of its own";

  d3dx::TextMeasure measure(arialBold18());
  measure.Width("\xCD\xB8 Ա \xCD\xB8");
  measure.Width("\xCD\xB8");
  EXPECT_EQ(measure.Missing(), std::vector<char32_t>{kUnassigned});
}

TEST(TextMeasure, TheWidthIsTheRightEdgeOfTheInkDrawTextLaysDown) {
  d3dx::TextMeasure measure(arialBold18());
  TextScene s;
  for (const std::string& text :
       {kGreeting, kCredit, std::string("Happy New Year · Καλή Χρονιά · Շնորհավոր"), std::string("   ")}) {
    SCOPED_TRACE(text);
    s.rec().reset();
    s.print(0, 0, text);
    float right = 0;
    for (const auto* d : textDraws(s.rec()))
      for (const Quad& q : quadsOf(*d)) right = std::max(right, q.x1);
    EXPECT_EQ(static_cast<float>(measure.Width(text)), right);
  }
  EXPECT_EQ(measure.Width(""), 0);
}

// ---- the two lines of the frame ----------------------------------------------------------------

TEST(FrameText, FirstFrameShowsTheRedGreetingAndNoCreditLine) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.backend().reset();
  demo.frames(1);
  EXPECT_EQ(demo.form.Titles.TitleIndex, 0);
  const auto draws = textDraws(demo.backend());
  ASSERT_EQ(draws.size(), 1u);
  const auto quads = quadsOf(*draws[0]);
  ASSERT_EQ(quads.size(), 16u);
  EXPECT_GE(quads[0].x0, 400.0f);
  EXPECT_LE(quads[0].x0, 403.0f);
  EXPECT_GE(quads[0].y0, 20.0f);
  EXPECT_LE(quads[0].y0, 28.0f);
  for (const Quad& q : quads) EXPECT_EQ(q.color, 0xFFFF0000u);
  // The text is the last thing drawn in the scene.
  EXPECT_EQ(&demo.backend().draws.back(), draws[0]);
}

TEST(FrameText, AfterTwoSecondsTheFirstCreditFlickersAtThreeHundredTwoHundred) {
  wgtest::RecordingDemo demo;
  demo.startup();
  demo.frames(125);
  ASSERT_EQ(demo.form.Titles.TitleIndex, 1);
  std::set<D3DCOLOR> colours;
  for (int frame = 0; frame < 5; ++frame) {
    demo.backend().reset();
    demo.frames(1);
    const auto draws = textDraws(demo.backend());
    ASSERT_EQ(draws.size(), 2u);
    EXPECT_EQ(quadsOf(*draws[0])[0].color, 0xFFFF0000u);
    const auto credit = quadsOf(*draws[1]);
    ASSERT_EQ(credit.size(), 19u);  // "Автор демки: Morvelan" less its two spaces
    EXPECT_GE(credit[0].x0, 300.0f);
    EXPECT_LE(credit[0].x0, 303.0f);
    EXPECT_GE(credit[0].y0, 200.0f);
    EXPECT_LE(credit[0].y0, 208.0f);
    const D3DCOLOR c = credit[0].color;
    EXPECT_EQ(c >> 24, 0xFFu);
    for (const Quad& q : credit) EXPECT_EQ(q.color, c);
    colours.insert(c);
  }
  EXPECT_EQ(colours.size(), 5u);
}

// ---- pixels ------------------------------------------------------------------------------------

// The greeting drawn by the OpenGL backend over the sky matches the atlas blended in software: every
// pixel inside a glyph box is coverage x red over sky, every pixel outside is the sky.
TEST(TextPixels, TheGreetingBlendsItsCoverageOverTheSky) {
  // The expected quads and atlas, from the recording device.
  TextScene reference;
  reference.print(400, 20, kGreeting);
  const auto quads = reference.lastQuads();
  const auto& atlas = reference.font().Atlas()->levels[0];

  platform::VirtualPerformanceCounter counter(wgtest::kFrequency);
  gl::GlDirect3D8 direct3d(true);
  app::Platform platform{nullptr, &counter, &direct3d, wgtest::AppDir(), audio::OutputMode::Offline, {}};
  app::Form1 form(platform);
  form.D3D.InitD3D(nullptr);
  form.Gen.InitFont(*form.D3D.D3DDevice);
  Device& dev = *form.D3D.D3DDevice;
  dev.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, render::modD3D::kSkyColor, 1.0f, 0);
  dev.BeginScene();
  try {
    form.Gen.PrintText(400, 20, kGreeting, 0xFFFF0000u);
  } catch (const platform::Error& e) {
    if (std::string(e.what()).find("does not draw yet") != std::string::npos) GTEST_SKIP() << e.what();
    throw;
  }
  dev.EndScene();
  dev.Present(nullptr, nullptr, nullptr, nullptr);
  DWORD w = 0, h = 0;
  const auto img = dev.GetBackend().readBack(w, h);
  ASSERT_EQ(w, 1024u);

  std::vector<int> expected(1024 * 768 * 3);
  for (std::size_t i = 0; i < 1024 * 768; ++i) {
    expected[i * 3] = 127;
    expected[i * 3 + 1] = 127;
    expected[i * 3 + 2] = 180;
  }
  for (const Quad& q : quads) {
    const int tx = static_cast<int>(q.u0 * static_cast<float>(atlas.width) - 0.5f);
    const int ty = static_cast<int>(q.v0 * static_cast<float>(atlas.height) - 0.5f);
    for (int y = static_cast<int>(q.y0); y < static_cast<int>(q.y1); ++y)
      for (int x = static_cast<int>(q.x0); x < static_cast<int>(q.x1); ++x) {
        const double a = atlas.rgba[(static_cast<std::size_t>(ty + y - static_cast<int>(q.y0)) * atlas.width +
                                     static_cast<std::size_t>(tx + x - static_cast<int>(q.x0))) *
                                        4 +
                                    3] /
                         255.0;
        int* p = &expected[(static_cast<std::size_t>(y) * 1024 + static_cast<std::size_t>(x)) * 3];
        p[0] = static_cast<int>(std::lround(255 * a + p[0] * (1 - a)));
        p[1] = static_cast<int>(std::lround(p[1] * (1 - a)));
        p[2] = static_cast<int>(std::lround(p[2] * (1 - a)));
      }
  }
  int worst = 0, reddish = 0;
  std::size_t worstAt = 0;
  for (std::size_t i = 0; i < 1024 * 768; ++i) {
    for (std::size_t c = 0; c < 3; ++c) {
      const int diff = std::abs(img[i * 4 + c] - expected[i * 3 + c]);
      if (diff > worst) worst = diff, worstAt = i;
    }
    reddish += img[i * 4] > 200 && img[i * 4 + 1] < 40;
  }
  const std::string shot = wgtest::ScratchDir("text-pixels") + "/greeting.png";
  stbi_write_png(shot.c_str(), 1024, 768, 4, img.data(), 1024 * 4);
  EXPECT_LE(worst, 2) << "at (" << worstAt % 1024 << ", " << worstAt / 1024 << "): red "
                      << int{img[worstAt * 4]} << " where " << expected[worstAt * 3]
                      << " was expected; the frame is " << shot;
  EXPECT_GT(reddish, 300);
}

}  // namespace
