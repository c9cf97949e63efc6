// The font's glyph atlas when the glyphs are whole lines of text (the browser's text stack gives a
// line as one image): a full atlas starts again with the text being drawn, which then draws from the
// right texels; a measure keeps no atlas at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3d/Direct3D8.h"
#include "platform/d3dx/Font.h"
#include "tests/support/RecordingBackend.h"

namespace {

// Each character of a line is one glyph 500 x 200 texels wide and tall (about twenty fill the atlas),
// its coverage the character's value, 100 pixels of advance apart.
class WideGlyphs : public d3dx::GlyphSource {
 public:
  d3dx::FaceMetrics Metrics() const override { return {20, 5, 1, 1}; }
  d3dx::ShapedLine Shape(std::u32string_view line) override {
    d3dx::ShapedLine shaped;
    for (const char32_t c : line) {
      shaped.glyphs.push_back({{0, static_cast<std::uint32_t>(c)}, shaped.advance, 0});
      shaped.advance += 100;
    }
    return shaped;
  }
  d3dx::GlyphImage Rasterise(d3dx::GlyphId id) override {
    ++rasterised;
    d3dx::GlyphImage image;
    image.top = 200;
    image.width = 500;
    image.height = 200;
    image.coverage.assign(500 * 200, static_cast<std::uint8_t>(id.index));
    return image;
  }
  std::vector<std::size_t> BreakOpportunities(std::u32string_view) override { return {}; }
  std::vector<std::string> FaceFiles() const override { return {"wide"}; }
  int rasterised = 0;
};

d3dx::GdiFont Wide() {
  d3dx::GdiFont font;
  font.file = "wide";
  font.pixelHeight = 24;
  return font;
}

// The atlas alpha under the first vertex of the last draw: the texel its quad starts at.
int FirstTexel(const d3d::RecordingBackend& rec, const d3dx::Font& font) {
  d3dx::FontVertex v{};
  std::memcpy(&v, rec.draws.back().vertexData.data(), sizeof v);
  const auto& level = font.Atlas()->levels[0];
  const int x = static_cast<int>(v.u * static_cast<float>(level.width));
  const int y = static_cast<int>(v.v * static_cast<float>(level.height));
  return level.rgba[(static_cast<std::size_t>(y) * level.width + x) * 4 + 3];
}

TEST(GlyphAtlas, AFullAtlasStartsAgainWithTheTextBeingDrawn) {
  d3d::RecordingDirect3D8 d3d;
  const auto device = d3d.CreateDevice(0, d3d::D3DDEVTYPE_HAL, nullptr, 0x20,
                                       d3d::D3DPRESENT_PARAMETERS{1024, 768, d3d::D3DFMT_X8R8G8B8, 1, 0, 2, 0,
                                                                  0, 1, d3d::D3DFMT_D16, 0, 0, 0});
  auto source = std::make_unique<WideGlyphs>();
  WideGlyphs& glyphs = *source;
  d3dx::Font font(*device, Wide(), std::move(source));
  const d3d::D3DRECT rect{0, 0, 1280, 1280};
  device->BeginScene();
  // Forty texts of one glyph each: twice what the atlas holds.
  const std::string letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn";
  for (const char c : letters) {
    // Its room: the glyph's 200 rows above the baseline and the face's descent of 5 below.
    ASSERT_EQ(font.DrawText(std::string(1, c), rect, 0, 0xFFFFFFFFu), 205) << c;
    EXPECT_EQ(FirstTexel(*d3d.last, font), c) << "text " << c;
  }
  // Twenty glyphs fill the atlas: the twenty-first found it full and was rasterised again into the
  // empty one, which holds the twenty-first to the fortieth.
  EXPECT_EQ(glyphs.rasterised, 41);
  font.DrawText("n", rect, 0, 0xFFFFFFFFu);
  EXPECT_EQ(glyphs.rasterised, 41);
  // The first text again: it went with the full atlas, and meets a full one again.
  font.DrawText("A", rect, 0, 0xFFFFFFFFu);
  EXPECT_EQ(FirstTexel(*d3d.last, font), 'A');
  EXPECT_EQ(glyphs.rasterised, 43);
  // One text larger than the whole atlas stays an error.
  EXPECT_THROW(font.DrawText("0123456789opqrstuvwxyz!#$%&*+-/", rect, 0, 0xFFFFFFFFu), platform::Error);
  device->EndScene();
}

// Texts preloaded before the first draw are in the atlas the first draw makes: its size fits them
// all, and a later draw of any of them neither rasterises nor makes the atlas again.
TEST(GlyphAtlas, PreloadedTextsGiveTheAtlasItsSizeAndContentsAtOnce) {
  d3d::RecordingDirect3D8 d3d;
  const auto device = d3d.CreateDevice(0, d3d::D3DDEVTYPE_HAL, nullptr, 0x20,
                                       d3d::D3DPRESENT_PARAMETERS{1024, 768, d3d::D3DFMT_X8R8G8B8, 1, 0, 2, 0,
                                                                  0, 1, d3d::D3DFMT_D16, 0, 0, 0});
  auto source = std::make_unique<WideGlyphs>();
  WideGlyphs& glyphs = *source;
  d3dx::Font font(*device, Wide(), std::move(source));
  // Five glyphs of 200 rows: more than the atlas's first 256 rows hold.
  font.PreloadText("AB");
  font.PreloadText("CDE");
  font.PreloadText("");
  EXPECT_EQ(glyphs.rasterised, 5);
  EXPECT_FALSE(font.Atlas()) << "preloading draws nothing";
  const d3d::D3DRECT rect{0, 0, 1280, 1280};
  device->BeginScene();
  font.DrawText("AB", rect, 0, 0xFFFFFFFFu);
  ASSERT_TRUE(font.Atlas());
  const std::shared_ptr<d3d::Texture> atlas = font.Atlas();
  EXPECT_EQ(atlas->Height(), 1024);
  font.DrawText("CDE", rect, 0, 0xFFFFFFFFu);
  EXPECT_EQ(FirstTexel(*d3d.last, font), 'C');
  EXPECT_EQ(font.Atlas(), atlas);
  EXPECT_EQ(glyphs.rasterised, 5);
  const auto names = d3d.last->callNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "CreateTexture"), 1);
  device->EndScene();
}

TEST(GlyphAtlas, AMeasureKeepsNoAtlas) {
  d3dx::TextMeasure measure(Wide(), std::make_unique<WideGlyphs>());
  // Sixty glyphs of 500 x 200 texels would fill three atlases.
  EXPECT_EQ(measure.Width("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ01234567"), 5900 + 500);
}

}  // namespace
