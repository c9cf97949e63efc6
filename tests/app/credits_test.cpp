#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/d3dx/Font.h"
#include "platform/window/IntervalTimer.h"
#include "tests/support/Harness.h"

namespace {

TEST(CreditTimer, CyclesZeroToEightAndBack) {
  wgtest::RecordingDemo demo;
  std::vector<int> seen;
  for (int i = 0; i < 10; ++i) {
    demo.form.tmrTitle_Timer();
    seen.push_back(demo.form.Titles.TitleIndex);
  }
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 0, 1}));
}

TEST(CreditTimer, TheBuiltInLinesAreFilledAtTheOddIndicesOfElevenEntries) {
  render::Credits c;
  const app::Card card = app::DefaultCard("/opt/wg");
  c.Fill(card.greeting, card.credits);
  ASSERT_EQ(c.TitleLines.size(), 11u);
  EXPECT_EQ(c.Steps, 9);
  EXPECT_EQ(c.TitleLines[1].text, "Автор демки: Morvelan");
  EXPECT_EQ(c.TitleLines[3].text, "А также спасибо Ilkar за идею");
  EXPECT_EQ(c.TitleLines[5].text, "Тексуры подготовил Tovrak");
  EXPECT_EQ(c.TitleLines[7].text, "С Новым 2007 годом!");
  for (int i : {0, 2, 4, 6, 8, 9, 10}) EXPECT_TRUE(c.TitleLines[static_cast<std::size_t>(i)].text.empty());
  for (const auto& line : c.TitleLines) EXPECT_EQ(line.x, 300.0f);
  EXPECT_EQ(c.Greeting.text, "С НОВЫМ 2007 ГОДОМ!");
  EXPECT_EQ(c.Greeting.x, 400.0f);
}

// Which credit line each 2-second step shows, over 40 s of 60 fps frames.
TEST(CreditTimer, TicksEveryTwoSecondsWithAFourSecondGapAfterTheLastLine) {
  wgtest::RecordingDemo demo;
  demo.startup();
  std::vector<int> indexAtStep;
  for (int frame = 0; frame < 60 * 40; ++frame) {
    demo.frames(1);
    if (frame % 120 == 60) indexAtStep.push_back(demo.form.Titles.TitleIndex);
  }
  ASSERT_GE(indexAtStep.size(), 19u);
  const std::vector<int> expected{0, 1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2, 3, 4, 5, 6, 7, 8, 0};
  EXPECT_EQ(std::vector<int>(indexAtStep.begin(), indexAtStep.begin() + 19), expected);
  // Line 4 (index 7) is followed by indices 8 and 0: two empty steps, four seconds.
  const auto& lines = demo.form.Titles.TitleLines;
  EXPECT_TRUE(lines[8].text.empty());
  EXPECT_TRUE(lines[0].text.empty());
}

// Start-up puts the greeting and every credit line in the glyph atlas: the first frame makes it, and a
// whole cycle of credit lines (18 s) rasterises no glyph and makes no atlas again.
TEST(CreditTimer, EveryLineDrawsFromTheAtlasTheFirstFrameMade) {
  wgtest::RecordingDemo demo;
  demo.direct3d.recordCalls = false;
  demo.startup();
  demo.backend().keepDraws = false;
  demo.frames(1);
  const d3dx::Font& font = *demo.form.Gen.TextFont();
  const std::shared_ptr<d3d::Texture> atlas = font.Atlas();
  ASSERT_TRUE(atlas);
  const std::uint64_t rasterised = font.GlyphsRasterised();
  demo.frames(60 * 19);
  EXPECT_EQ(font.Atlas().get(), atlas.get()) << "the atlas was made again";
  EXPECT_EQ(font.GlyphsRasterised(), rasterised);
}

// N credit lines take turns with empty steps, 2 s each, in a cycle of 2N + 1 steps: at 60 frames a
// second line k first shows at frame 120 (2k - 1), and line 1 comes back after the cycle. Zero
// lines never draw a credit.
TEST(CreditRhythm, NLinesCycleThroughTwoNPlusOneStepsOfTwoSeconds) {
  for (const std::size_t n : {0u, 1u, 4u, 7u}) {
    SCOPED_TRACE(std::to_string(n) + " lines");
    app::Card card = app::DefaultCard(wgtest::AppDir());
    card.credits.clear();
    for (std::size_t k = 1; k <= n; ++k) card.credits.push_back({"line " + std::to_string(k), 300});
    wgtest::RecordingDemo demo(card);
    demo.startup();
    const auto& titles = demo.form.Titles;
    EXPECT_EQ(titles.Steps, static_cast<int>(2 * n + 1));
    EXPECT_EQ(titles.TitleLines.size(), 2 * n + 3);

    const std::int64_t cycle = 120 * static_cast<std::int64_t>(2 * n + 1);
    std::vector<std::int64_t> firstShown(n + 1, -1), secondShown(n + 1, -1);
    std::int64_t creditDraws = 0;
    for (std::int64_t frame = 0; frame < cycle + 240; ++frame) {
      demo.backend().draws.clear();
      demo.frames(1);
      // The greeting is one text draw; a second one is the credit line.
      std::size_t textDraws = 0;
      for (const auto& d : demo.backend().draws) textDraws += d.call.fvf == d3dx::kFontFVF;
      const std::string& shown = titles.TitleLines.at(static_cast<std::size_t>(titles.TitleIndex)).text;
      ASSERT_EQ(textDraws, shown.empty() ? 1u : 2u) << "frame " << frame;
      if (shown.empty()) continue;
      ++creditDraws;
      const std::size_t k = std::stoul(shown.substr(5));
      auto& seen = firstShown[k] < 0 || frame < firstShown[k] + 120 ? firstShown : secondShown;
      if (seen[k] < 0) seen[k] = frame;
    }
    for (std::size_t k = 1; k <= n; ++k)
      EXPECT_EQ(firstShown[k], 120 * static_cast<std::int64_t>(2 * k - 1)) << k;
    if (n == 0) {
      EXPECT_EQ(creditDraws, 0);
    } else {
      EXPECT_EQ(secondShown[1], cycle + 120);
      // Line N is followed by two empty steps: 4 s without a credit line before line 1 again.
      EXPECT_EQ(secondShown[1] - (firstShown[n] + 120), 240);
    }
  }
}

TEST(IntervalTimer, ALongStartupGivesOneTickNotSeveral) {
  platform::VirtualPerformanceCounter counter(1000);
  platform::IntervalTimer timer(counter, 2000);
  counter.Advance(9500);  // 4.75 intervals pass before the first pump
  EXPECT_TRUE(timer.Poll());
  EXPECT_FALSE(timer.Poll());
  counter.Advance(400);  // 9900: the boundary at 10000 is not reached
  EXPECT_FALSE(timer.Poll());
  counter.Advance(100);
  EXPECT_TRUE(timer.Poll());
}

TEST(IntervalTimer, DoesNotTickBeforeItsInterval) {
  platform::VirtualPerformanceCounter counter(1000);
  platform::IntervalTimer timer(counter, 2000);
  counter.Advance(1999);
  EXPECT_FALSE(timer.Poll());
  counter.Advance(1);
  EXPECT_TRUE(timer.Poll());
}

}  // namespace
