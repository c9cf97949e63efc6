// Text no one types on purpose, laid out by the greeting's font: marks without a letter or piled
// a thousand high, direction controls left open or nested past FriBidi's depth, selectors with
// nothing to select, private-use characters, twenty scripts, a word longer than the picture. Each is
// measured, wrapped and drawn whole inside the box its measure gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "platform/d3dx/Font.h"
#include "render/modGen.h"
#include "tests/support/BadTexts.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using d3dx::FontVertex;

// Pixel rectangle and atlas texel of one glyph quad.
struct Placed {
  float x0, y0, x1, y1;
  int tx, ty;
};

std::vector<Placed> placedOf(const RecordingBackend::Draw& d, const Texture::Level& atlas) {
  std::vector<Placed> out;
  const auto* v = reinterpret_cast<const FontVertex*>(d.vertexData.data());
  for (std::size_t i = 0; i + 6 <= d.vertexData.size() / sizeof(FontVertex); i += 6)
    out.push_back(Placed{v[i].x, v[i].y, v[i + 4].x, v[i + 4].y,
                         static_cast<int>(std::lround(v[i].u * static_cast<float>(atlas.width) - 0.5f)),
                         static_cast<int>(std::lround(v[i].v * static_cast<float>(atlas.height) - 0.5f))});
  return out;
}

// Whether the atlas texel at (x, y) is clear: outside the atlas counts as clear.
bool clear(const Texture::Level& atlas, int x, int y) {
  if (x < 0 || y < 0 || x >= static_cast<int>(atlas.width) || y >= static_cast<int>(atlas.height))
    return true;
  return atlas.rgba[(static_cast<std::size_t>(y) * atlas.width + static_cast<std::size_t>(x)) * 4 + 3] == 0;
}

// A glyph drawn whole shows its bitmap up to the clear texels the atlas keeps around it; one cut by
// the rectangle stops inside its bitmap, where the texels beyond the cut still have ink.
bool drawnWhole(const Placed& q, const Texture::Level& atlas) {
  const int w = static_cast<int>(q.x1 - q.x0), h = static_cast<int>(q.y1 - q.y0);
  for (int y = q.ty; y < q.ty + h; ++y)
    if (!clear(atlas, q.tx - 1, y) || !clear(atlas, q.tx + w, y)) return false;
  for (int x = q.tx; x < q.tx + w; ++x)
    if (!clear(atlas, x, q.ty - 1) || !clear(atlas, x, q.ty + h)) return false;
  return true;
}

struct BadInput : testing::TestWithParam<wgtest::BadText> {
  BadInput() {
    demo.form.D3D.InitD3D(nullptr);
    demo.form.Gen.InitFont(demo.device());
  }
  d3dx::Font& font() { return *demo.form.Gen.TextFont(); }
  wgtest::RecordingDemo demo;
  d3dx::TextMeasure measure{render::TextFontSource().hFont()};
};

// Measured, the text has a finite box; drawn in exactly that box, every glyph lies inside it and
// none is cut, on the left or anywhere else.
TEST_P(BadInput, IsDrawnWholeInsideTheBoxItsMeasureGives) {
  const std::string& text = GetParam().utf8;
  int width = -1, height = -1;
  ASSERT_NO_THROW(width = measure.Width(text));
  ASSERT_NO_THROW(height = measure.Height(text));
  EXPECT_GE(width, 0);
  EXPECT_LT(width, 1 << 16);
  EXPECT_GE(height, font().LineHeight());
  EXPECT_LT(height, 1 << 16);

  const D3DRECT box{100, 50, 100 + width, 50 + height};
  demo.device().BeginScene();
  EXPECT_EQ(font().DrawText(text, box, 0, 0xFFFF0000u), height);
  demo.device().EndScene();
  if (width == 0) return;
  ASSERT_EQ(demo.backend().draws.size(), 1u);
  const auto& d = demo.backend().draws.back();
  const Texture::Level& atlas = font().Atlas()->levels[0];
  float right = 0;
  for (const Placed& q : placedOf(d, atlas)) {
    EXPECT_GE(q.x0, 100.0f);
    EXPECT_GE(q.y0, 50.0f);
    EXPECT_LE(q.x1, static_cast<float>(100 + width));
    EXPECT_LE(q.y1, static_cast<float>(50 + height));
    EXPECT_TRUE(drawnWhole(q, atlas)) << "the glyph at (" << q.x0 << ", " << q.y0 << ") is cut";
    right = std::max(right, q.x1);
  }
  EXPECT_EQ(right, static_cast<float>(100 + width));
}

// Wrapped to the picture's width, either every line fits or the answer says it does not.
TEST_P(BadInput, WrapsIntoLinesThatFitOrSaysTheyDoNot) {
  d3dx::TextMeasure::Wrapped w;
  ASSERT_NO_THROW(w = measure.Wrap(GetParam().utf8, 1024, 3));
  if (w.fits) {
    EXPECT_LE(w.lines, 3);
    EXPECT_LE(w.width, 1024);
    EXPECT_LE(measure.Width(w.text), 1024);
  }
}

// Only characters that no installed face has are named; selectors, marks and controls draw nothing
// of their own and are not.
TEST_P(BadInput, NamesOnlyPrivateUseCharactersAsMissing) {
  measure.Width(GetParam().utf8);
  const std::vector<char32_t> expected = std::string(GetParam().name) == "PrivateUseCharacters"
                                             ? std::vector<char32_t>{0xE000, 0xF0000}
                                             : std::vector<char32_t>{};
  EXPECT_EQ(measure.Missing(), expected);
}

INSTANTIATE_TEST_SUITE_P(Text, BadInput, testing::ValuesIn(wgtest::BadTexts()),
                         [](const testing::TestParamInfo<wgtest::BadText>& info) { return info.param.name; });

wgtest::BadText badText(const std::string& name) {
  for (const wgtest::BadText& t : wgtest::BadTexts())
    if (name == t.name) return t;
  ADD_FAILURE() << name;
  return {};
}

// A selector is a mark: with no letter before it, HarfBuzz shows the dotted circle it puts under any
// mark that has none (as Pango does); after a letter it adds nothing.
TEST(BadInputLayout, ASelectorWithNothingToSelectIsADottedCircle) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const int circle = measure.Width("\u25CC");
  EXPECT_GT(circle, 0);
  for (const char* name : {"LoneEmojiPresentationSelector", "LoneIdeographicVariationSelector"}) {
    const std::string selector = badText(name).utf8;
    EXPECT_EQ(measure.Width(selector), circle) << name;
    EXPECT_EQ(measure.Height(selector), 27) << name;
    EXPECT_EQ(measure.Width("x" + selector), measure.Width("x")) << name;
  }
}

// The face puts every mark above a letter in one place and every mark below it in another, so a
// thousand of them take the room of two (a pixel wider where the pen's rounding differs, as in Pango).
TEST(BadInputLayout, PiledMarksTakeTheRoomOfOneAboveAndOneBelow) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const std::string piled = badText("AThousandMarksOnOneLetter").utf8;
  EXPECT_EQ(measure.Height(piled), 27);
  EXPECT_GE(measure.Width(piled), measure.Width("a\u0301\u0323"));
  EXPECT_LE(measure.Width(piled), measure.Width("a\u0301\u0323") + 1);
}

TEST(BadInputLayout, AWordWiderThanThePictureStaysWholeAndDoesNotFit) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const std::string word = badText("TwoThousandCharacterWord").utf8;
  const d3dx::TextMeasure::Wrapped w = measure.Wrap(word, 1024, 3);
  EXPECT_FALSE(w.fits);
  EXPECT_EQ(w.lines, 1);
  EXPECT_EQ(w.text, word);
  EXPECT_EQ(w.width, measure.Width(word));
  EXPECT_GT(w.width, 400 * 60);
}

TEST(BadInputLayout, ATextOfMoreThanThreeLinesIsBrokenIntoLinesThatFitButDoesNot) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const std::string text = badText("MoreThanThreeWrappedLines").utf8;
  const d3dx::TextMeasure::Wrapped w = measure.Wrap(text, 1024, 3);
  EXPECT_FALSE(w.fits);
  EXPECT_GT(w.lines, 3);
  std::vector<std::string> lines;
  std::string rejoined;
  for (std::size_t start = 0;;) {
    const std::size_t end = w.text.find("\u2028", start);
    lines.push_back(w.text.substr(start, end - start));
    rejoined += lines.back() + (end == std::string::npos ? "" : " ");
    if (end == std::string::npos) break;
    start = end + std::string("\u2028").size();
  }
  EXPECT_EQ(static_cast<int>(lines.size()), w.lines);
  // Broken at spaces, the spaces before each break dropped, and nothing else changed.
  EXPECT_EQ(rejoined, text);
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(measure.Width(lines[i]), 1024) << lines[i];
    if (i + 1 == lines.size()) continue;
    const std::string nextWord = lines[i + 1].substr(0, lines[i + 1].find(' '));
    EXPECT_GT(measure.Width(lines[i] + " " + nextWord), 1024)
        << "the next word would have fitted on " << lines[i];
  }
}

// Line breaks the text already holds are lines too, whether or not it has to be wrapped.
TEST(BadInputLayout, TheTextsOwnLineBreaksCountAsLinesCarriageReturnLineFeedAsOne) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const d3dx::TextMeasure::Wrapped four = measure.Wrap("one\ntwo\r\nthree\u2028four", 1024, 3);
  EXPECT_EQ(four.text, "one\ntwo\r\nthree\u2028four");
  EXPECT_EQ(four.lines, 4);
  EXPECT_FALSE(four.fits);
  const d3dx::TextMeasure::Wrapped two = measure.Wrap("one\r\ntwo", 1024, 3);
  EXPECT_EQ(two.lines, 2);
  EXPECT_TRUE(two.fits);
  const d3dx::TextMeasure::Wrapped wrapped =
      measure.Wrap("x\r\n" + wgtest::Repeat("Happy New Year! ", 10), 1024, 9);
  std::size_t separators = 0;
  for (std::size_t at = wrapped.text.find("\u2028"); at != std::string::npos;
       at = wrapped.text.find("\u2028", at + 1))
    ++separators;
  EXPECT_GT(separators, 0u);
  EXPECT_EQ(wrapped.lines, static_cast<int>(separators) + 2);
  EXPECT_TRUE(wrapped.fits);
}

// Only the spaces before a break are dropped: the last line keeps a tab at its end, which no face
// has and so draws as a box, and its width counts.
TEST(BadInputLayout, ATabEndingTheLastLineCountsInItsWidth) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const int words = measure.Width("Happy New Year");
  ASSERT_GT(measure.Width("Happy New Year\t"), words);
  const d3dx::TextMeasure::Wrapped w = measure.Wrap("Happy New Year\t", words, 3);
  EXPECT_EQ(w.text, "Happy New\u2028Year\t");
  EXPECT_EQ(w.lines, 2);
  EXPECT_TRUE(w.fits);
  EXPECT_EQ(w.width, measure.Width("Happy New"));
  EXPECT_LE(measure.Width(w.text), words);
}

// A right-to-left text's lines end at the right edge of the widest line's pen travel, so a shorter
// line's ink can reach past the widest line's: the width that counts is that of the lines together.
TEST(BadInputLayout, TheWidthOfWrappedRightToLeftLinesIsThatOfTheLinesTogether) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const std::string text = "\u0639\u0627\u0645 \u0633\u0639\u064A\u062F Happy 2027";
  for (int maxWidth = 60; maxWidth < measure.Width(text); ++maxWidth) {
    const d3dx::TextMeasure::Wrapped w = measure.Wrap(text, maxWidth, 4);
    ASSERT_EQ(w.width, measure.Width(w.text)) << maxWidth;
    if (w.fits) {
      ASSERT_LE(w.width, maxWidth);
    }
  }
}

}  // namespace
