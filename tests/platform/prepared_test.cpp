// Media prepared for the browser: the texels, the model and the glyphs come back exactly as the
// desktop's decoders, X file reader and rasteriser made them, and damaged files are refused with the
// file named.
#include "platform/d3dx/Prepared.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3d/Direct3D8.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/Mesh.h"
#include "platform/d3dx/Texture.h"
#include "tests/support/Harness.h"
#include "tests/support/RecordingBackend.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Media(const std::string& relative) {
  return d3dx::ReadFile("test", wgtest::AppDir() + "/" + relative);
}

// Every shortened copy of `full` is refused with an error naming the file; none is read past its end.
template <class Read>
void ExpectEveryTruncationRefused(const Bytes& full, Read read) {
  const std::size_t step = std::max<std::size_t>(1, full.size() / 200);
  for (std::size_t n = 0; n < full.size(); n += (n < 64 ? 1 : step)) {
    const Bytes cut(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n));
    try {
      read(cut);
      ADD_FAILURE() << "a copy cut to " << n << " of " << full.size() << " bytes was accepted";
    } catch (const platform::Error& e) {
      EXPECT_NE(std::string(e.what()).find("cut.bin"), std::string::npos) << e.what();
    }
  }
}

TEST(PreparedTexture, TheGroundTexturesTexelsAndMipChainComeBackExactly) {
  const Bytes jpeg = Media("tex/snow.jpg");
  const auto levels = d3dx::DecodeImageWithMips(jpeg.data(), jpeg.size(), "snow.jpg");
  const Bytes prepared = d3dx::WritePreparedTexture(levels);
  const auto back = d3dx::ReadPreparedTexture(prepared.data(), prepared.size(), "snow.jpg", "test");
  ASSERT_EQ(back.size(), levels.size());
  EXPECT_EQ(back.back().width, 1);
  for (std::size_t i = 0; i < levels.size(); ++i) {
    EXPECT_EQ(back[i].width, levels[i].width);
    EXPECT_EQ(back[i].height, levels[i].height);
    EXPECT_EQ(back[i].rgba, levels[i].rgba) << "level " << i;
  }
}

TEST(PreparedTexture, DamagedOrForeignDataIsRefused) {
  std::vector<d3d::Texture::Level> levels(2);
  levels[0] = {2, 1, {1, 2, 3, 4, 5, 6, 7, 8}};
  levels[1] = {1, 1, {3, 4, 5, 6}};
  const Bytes good = d3dx::WritePreparedTexture(levels);
  ExpectEveryTruncationRefused(
      good, [](const Bytes& b) { d3dx::ReadPreparedTexture(b.data(), b.size(), "cut.bin", "test"); });
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_THROW(d3dx::ReadPreparedTexture(longer.data(), longer.size(), "x", "test"), platform::Error);
  // A JPEG is not a prepared texture: the browser cannot decode it and says so.
  const Bytes jpeg = Media("tex/snow.jpg");
  try {
    d3dx::ReadPreparedTexture(jpeg.data(), jpeg.size(), "snow.jpg", "D3DXCreateTextureFromFile");
    ADD_FAILURE() << "a JPEG was read as prepared texels";
  } catch (const platform::Error& e) {
    EXPECT_STREQ(e.what(), "D3DXCreateTextureFromFile: not a prepared texture (snow.jpg)");
  }
  // A level claiming 16385 texels a side is refused before anything is allocated for it.
  Bytes huge = d3dx::WritePreparedTexture({{1, 1, {0, 0, 0, 0}}});
  huge[12] = 0x01;
  huge[13] = 0x40;
  EXPECT_THROW(d3dx::ReadPreparedTexture(huge.data(), huge.size(), "x", "test"), platform::Error);
  // 16384 a side is allowed, but the 4 bytes that follow cannot hold it (the reader checks that
  // before sizing the level; prepared_fuzz's memory limit is what notices a gigabyte asked for).
  huge[12] = 0x00;  // width 0x4000
  huge[16] = 0x00;  // height 0x4000
  huge[17] = 0x40;
  EXPECT_THROW(d3dx::ReadPreparedTexture(huge.data(), huge.size(), "x", "test"), platform::Error);
  d3dx::PreparedFace face;
  face.glyphs.push_back({d3dx::GlyphId{0, 36}, d3dx::GlyphImage{0, 0, 1, 1, {7}}});
  Bytes glyph = d3dx::WritePreparedFace(face);
  glyph[52] = 0x00;  // the glyph's width, 0x4000
  glyph[53] = 0x40;
  glyph[56] = 0x00;  // and its height
  glyph[57] = 0x40;
  EXPECT_THROW(d3dx::ReadPreparedFace(glyph.data(), glyph.size(), "x", "test"), platform::Error);
}

TEST(PreparedModel, TheTreeComesBackAsTheReaderMadeItAndDrawsTheSameSubsets) {
  const Bytes x = Media("models/tree.x");
  const d3dx::XModel model = d3dx::ParseXFile(x.data(), x.size(), "tree.x");
  const Bytes prepared = d3dx::WritePreparedModel(model);
  const d3dx::XModel back = d3dx::ReadPreparedModel(prepared.data(), prepared.size(), "tree.x", "test");
  ASSERT_EQ(back.vertices.size(), model.vertices.size());
  EXPECT_EQ(back.indices, model.indices);
  EXPECT_EQ(back.attributes, model.attributes);
  EXPECT_EQ(back.hasNormals, model.hasNormals);
  EXPECT_EQ(back.hasColors, model.hasColors);
  EXPECT_EQ(back.hasTexCoords, model.hasTexCoords);
  ASSERT_EQ(back.materials.size(), model.materials.size());
  for (std::size_t i = 0; i < model.materials.size(); ++i) {
    EXPECT_EQ(back.materials[i].textureFilename, model.materials[i].textureFilename);
    EXPECT_EQ(
        std::memcmp(&back.materials[i].material, &model.materials[i].material, sizeof(d3d::D3DMATERIAL8)), 0);
  }
  d3d::RecordingDirect3D8 d3d;
  const auto device = d3d.CreateDevice(0, d3d::D3DDEVTYPE_HAL, nullptr, 0x20,
                                       d3d::D3DPRESENT_PARAMETERS{1024, 768, d3d::D3DFMT_X8R8G8B8, 1, 0, 2, 0,
                                                                  0, 1, d3d::D3DFMT_D16, 0, 0, 0});
  const d3dx::D3DXMesh a(*device, model, d3dx::D3DXMESH_MANAGED), b(*device, back, d3dx::D3DXMESH_MANAGED);
  EXPECT_EQ(a.GetFVF(), b.GetFVF());
  EXPECT_EQ(a.VertexData(), b.VertexData());
}

TEST(PreparedModel, DamagedDataIsRefused) {
  d3dx::XModel m;
  m.vertices.resize(3);
  m.indices = {0, 1, 2};
  m.attributes = {0};
  m.materials.resize(1);
  m.materials[0].textureFilename = "bark.jpg";
  const Bytes good = d3dx::WritePreparedModel(m);
  ExpectEveryTruncationRefused(
      good, [](const Bytes& b) { d3dx::ReadPreparedModel(b.data(), b.size(), "cut.bin", "test"); });
  // An index past the last vertex.
  m.indices = {0, 1, 3};
  const Bytes bad = d3dx::WritePreparedModel(m);
  EXPECT_THROW(d3dx::ReadPreparedModel(bad.data(), bad.size(), "x", "test"), platform::Error);
  // The last material's alpha mode, cut-off and sides are the file's last twelve bytes: an unknown
  // mode, a cut-off outside 0..1 (or not a number) and a third kind of sides are refused.
  const auto refusedAt = [&good](std::size_t fromEnd, std::uint32_t value) {
    Bytes b = good;
    for (int i = 0; i < 4; ++i)
      b[b.size() - fromEnd + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    EXPECT_THROW(d3dx::ReadPreparedModel(b.data(), b.size(), "x", "test"), platform::Error)
        << fromEnd << " " << value;
  };
  refusedAt(12, 3);
  refusedAt(8, 0x3FC00000u);  // 1.5f
  refusedAt(8, 0xBF800000u);  // -1.0f
  refusedAt(8, 0x7FC00000u);  // NaN
  refusedAt(4, 2);
}

// What glTF and OBJ materials add to the X file's, as a sender's model brings it to the page.
TEST(PreparedModel, AlphaModesCutOffsAndSidesComeBack) {
  d3dx::XModel m;
  m.vertices.resize(3);
  m.indices = {0, 1, 2, 2, 1, 0, 0, 2, 1};
  m.attributes = {0, 1, 2};
  m.materials.resize(3);
  m.materials[0].alphaMode = d3dx::AlphaMode::Mask;
  m.materials[0].alphaCutoff = 0.25f;
  m.materials[1].alphaMode = d3dx::AlphaMode::Blend;
  m.materials[1].doubleSided = true;
  m.materials[2].alphaCutoff = 1.0f;
  const Bytes b = d3dx::WritePreparedModel(m);
  const d3dx::XModel back = d3dx::ReadPreparedModel(b.data(), b.size(), "tree.glb", "test");
  ASSERT_EQ(back.materials.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(back.materials[i].alphaMode, m.materials[i].alphaMode) << i;
    EXPECT_EQ(back.materials[i].alphaCutoff, m.materials[i].alphaCutoff) << i;
    EXPECT_EQ(back.materials[i].doubleSided, m.materials[i].doubleSided) << i;
  }
}

d3dx::GdiFont ArialBold18() {
  d3dx::StdFont s;
  s.Bold = true;
  s.Size = 18;
  s.Name = "Arial";
  return s.hFont();
}

// The greeting's font drawn from prepared glyphs lays out and fills its atlas exactly as the
// FreeType font does, the glyphs of its fallback faces included; a line nobody prepared draws
// nothing.
TEST(PreparedFace, TextDrawnFromPreparedGlyphsMatchesTheRasterisedFont) {
  const std::vector<std::string> texts = {"С НОВЫМ 2007 ГОДОМ!", "Автор демки: Morvelan",
                                          "line one\nline two", "HԱ"};
  const d3dx::GdiFont gdi = ArialBold18();
  const d3dx::PreparedFace face = d3dx::PrepareFace(gdi, texts);
  // Each line once, line breaks left out, and each glyph once.
  ASSERT_EQ(face.lines.size(), 5u);
  EXPECT_EQ(face.lines[2].first, U"line one");
  for (std::size_t i = 0; i < face.glyphs.size(); ++i)
    for (std::size_t k = 0; k < i; ++k) EXPECT_FALSE(face.glyphs[i].first == face.glyphs[k].first);
  // Armenian Ayb is not in the greeting's face: a fallback face drew it, not the missing-glyph box.
  const d3dx::ShapedLine& armenian = face.lines.back().second;
  ASSERT_EQ(armenian.glyphs.size(), 2u);
  EXPECT_EQ(armenian.glyphs[0].id.face, 0u);
  EXPECT_NE(armenian.glyphs[1].id.face, 0u);
  EXPECT_NE(armenian.glyphs[1].id.index, 0u);
  EXPECT_TRUE(armenian.missing.empty());
  EXPECT_GT(face.glyphs.back().second.width, 0);
  const Bytes file = d3dx::WritePreparedFace(face);
  d3dx::PreparedFace back = d3dx::ReadPreparedFace(file.data(), file.size(), "face", "test");
  EXPECT_EQ(d3dx::PreparedFaceName(gdi), "Arial-24px-bold.glyphs");

  d3d::RecordingDirect3D8 d3d;
  const auto device = d3d.CreateDevice(0, d3d::D3DDEVTYPE_HAL, nullptr, 0x20,
                                       d3d::D3DPRESENT_PARAMETERS{1024, 768, d3d::D3DFMT_X8R8G8B8, 1, 0, 2, 0,
                                                                  0, 1, d3d::D3DFMT_D16, 0, 0, 0});
  d3d::RecordingBackend& rec = *d3d.last;
  d3dx::Font desktop(*device, gdi);
  ASSERT_EQ(back.lines.size(), face.lines.size());
  EXPECT_EQ(back.lines[1].second.glyphs.size(), face.lines[1].second.glyphs.size());
  d3dx::Font browser(*device, gdi, d3dx::PreparedGlyphSource(std::move(back)));
  EXPECT_EQ(browser.Ascent(), desktop.Ascent());
  EXPECT_EQ(browser.LineHeight(), desktop.LineHeight());
  const d3d::D3DRECT rect{300, 200, 1280, 1280};
  device->BeginScene();
  for (const std::string& t : texts) {
    EXPECT_EQ(desktop.DrawText(t, rect, 0, 0xFF123456u), browser.DrawText(t, rect, 0, 0xFF123456u));
    ASSERT_GE(rec.draws.size(), 2u);
    EXPECT_EQ(rec.draws[rec.draws.size() - 1].vertexData, rec.draws[rec.draws.size() - 2].vertexData) << t;
  }
  EXPECT_EQ(browser.Atlas()->levels[0].rgba, desktop.Atlas()->levels[0].rgba);
  const std::size_t before = rec.draws.size();
  EXPECT_EQ(browser.DrawText("Ω", rect, 0, 0xFFFFFFFFu), browser.LineHeight());
  EXPECT_EQ(rec.draws.size(), before) << "an unprepared line drew something";
  device->EndScene();
}

// A face prepared to be wrapped wraps its texts in the browser exactly as the desktop does at any
// width: the break opportunities and every piece a wrap makes come with it; a text it did not keep
// has no break opportunities there.
TEST(PreparedFace, AWrappableFaceWrapsAsTheDesktopAtAnyWidth) {
  const std::vector<std::string> texts = {"Dear Anna and Mark, thank you for a wonderful year in the snow!",
                                          "HAPPY NEW YEAR 🎄 عام سعيد"};
  const d3dx::GdiFont gdi = ArialBold18();
  const d3dx::PreparedFace face = d3dx::PrepareFace(gdi, texts, true);
  ASSERT_EQ(face.breaks.size(), 2u);
  EXPECT_EQ(face.breaks[0].second.size(), 12u) << "a break before each word but the first";
  EXPECT_GT(face.lines.size(), 50u);
  EXPECT_TRUE(d3dx::PrepareFace(gdi, texts).breaks.empty());
  const Bytes file = d3dx::WritePreparedFace(face);
  d3dx::PreparedFace back = d3dx::ReadPreparedFace(file.data(), file.size(), "face", "test");
  ASSERT_EQ(back.breaks.size(), 2u);
  EXPECT_EQ(back.breaks[0], face.breaks[0]);
  d3dx::TextMeasure desktop(gdi);
  d3dx::TextMeasure browser(gdi, d3dx::PreparedGlyphSource(std::move(back)));
  for (const std::string& t : texts)
    for (const int width : {900, 500, 300, 200, 120, 60}) {
      const auto want = desktop.Wrap(t, width, 3), got = browser.Wrap(t, width, 3);
      EXPECT_EQ(got.text, want.text) << width;
      EXPECT_EQ(got.lines, want.lines) << width;
      EXPECT_EQ(got.width, want.width) << width;
      EXPECT_EQ(got.fits, want.fits) << width;
      EXPECT_EQ(browser.Height(got.text), desktop.Height(want.text)) << width;
    }
  EXPECT_EQ(browser.Wrap("Dear Anna and Mark", 60, 3).lines, 1) << "a text not kept has no breaks";
}

// Break positions out of order, at the text's start or past its end are refused.
TEST(PreparedFace, BreakPositionsOutsideTheirTextAreRefused) {
  d3dx::PreparedFace face;
  for (const std::vector<std::size_t>& at : {std::vector<std::size_t>{0}, {3, 2}, {5}, {2, 2}}) {
    face.breaks = {{U"ab cd", at}};
    const Bytes bytes = d3dx::WritePreparedFace(face);
    EXPECT_THROW(d3dx::ReadPreparedFace(bytes.data(), bytes.size(), "x", "test"), platform::Error);
  }
  face.breaks = {{U"ab cd", {3}}};
  const Bytes bytes = d3dx::WritePreparedFace(face);
  EXPECT_EQ(d3dx::ReadPreparedFace(bytes.data(), bytes.size(), "x", "test").breaks, face.breaks);
}

TEST(PreparedFace, DamagedDataIsRefused) {
  const Bytes good = d3dx::WritePreparedFace(d3dx::PrepareFace(ArialBold18(), {"Ab c"}, true));
  ExpectEveryTruncationRefused(
      good, [](const Bytes& b) { d3dx::ReadPreparedFace(b.data(), b.size(), "cut.bin", "test"); });
}

}  // namespace
