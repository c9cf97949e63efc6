// The greeting line in the world's scripts, end to end: the real program's headless frame against an
// independent rendering of the same words by Pango (HarfBuzz shaping, its own bidi) in the face the
// program chose. The comparison passes for each script and fails for the classic shaping faults
// (Hebrew left to right, Arabic letters unjoined, the Devanagari i-sign left after its consonant).
// Colour emoji keep their colours; right-to-left lines start where left-to-right ones do.
#include <ft2build.h>
#include <gtest/gtest.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "platform/d3dx/Font.h"
#include "render/modGen.h"
#include "tests/support/Files.h"
#include "tests/support/FrameDiff.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"

namespace {

using wgtest::Picture;

// Where the greeting's line starts, and the rows of the top band that hold it (its room grows
// downwards for marks above the cell).
constexpr int kGreetingX = 400;
constexpr int kBandRows = 80;
// The sky's green behind the greeting, and the white page behind Pango's line.
constexpr int kSkyGreen = 127;
constexpr int kWhiteGreen = 255;
// The least overlap, window by window, of the program's ink with Pango's that a correctly shaped line
// reaches. Measured (worst window, whole line): 1.000 and 1.000 for every script but Japanese,
// 0.854 and 0.822 there (Noto Sans CJK's kerning rounds one pixel apart from Pango's after the fifth
// kana). The faulty lines' worst windows: Hebrew left to right 0.160, Arabic unjoined 0.000, the
// Devanagari i-sign after its consonant 0.495.
constexpr double kMinWindowIoU = 0.75;

// The pixels of a red line over a plain background whose coverage is at least one half: red clearly
// above green, and green down to half the background's.
struct Mask {
  int w = 0, h = 0;
  std::vector<std::uint8_t> on;
  bool at(int x, int y) const { return x >= 0 && y >= 0 && x < w && y < h && on[y * w + x]; }
};

struct Box {
  int x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // [x0, x1) x [y0, y1); empty when x0 == x1
  int width() const { return x1 - x0; }
  int height() const { return y1 - y0; }
};

Mask RedInk(const Picture& p, int rows, int backgroundGreen) {
  Mask m{p.w, std::min(rows, p.h), {}};
  m.on.resize(static_cast<std::size_t>(m.w) * m.h);
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x) {
      const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
      m.on[static_cast<std::size_t>(y) * m.w + x] = c[0] >= c[1] + 40 && 2 * c[1] <= backgroundGreen;
    }
  return m;
}

Box InkBox(const Mask& m) {
  Box b{m.w, m.h, 0, 0};
  for (int y = 0; y < m.h; ++y)
    for (int x = 0; x < m.w; ++x)
      if (m.at(x, y))
        b = {std::min(b.x0, x), std::min(b.y0, y), std::max(b.x1, x + 1), std::max(b.y1, y + 1)};
  return b.x0 < b.x1 ? b : Box{};
}

// How well two inks agree, with their ink boxes' top-left corners put together: the intersection over
// union of the whole line, and the least one of the windows an em wide (24 px, every 8 px) along it,
// each at the best of the shifts up to two pixels each way. The windows catch one misplaced mark in
// a long line, and forgive a pixel of drift that rounding the pen puts between two shapers.
struct Match {
  double whole = 0, worstWindow = 1;
};

Match CompareInk(const Mask& a, const Mask& b) {
  const Box ba = InkBox(a), bb = InkBox(b);
  const int w = std::max(ba.width(), bb.width()) + 2, h = std::max(ba.height(), bb.height()) + 2;
  // The best overlap in the columns [x0, x1) of the aligned boxes, and how many pixels either
  // unshifted ink has there.
  const auto best = [&](int x0, int x1, int* inked) {
    double iou = 0;
    for (int dy = -2; dy <= 2; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        int both = 0, either = 0;
        for (int y = -2; y < h; ++y)
          for (int x = x0; x < x1; ++x) {
            const bool p = a.at(ba.x0 + x, ba.y0 + y), q = b.at(bb.x0 + x + dx, bb.y0 + y + dy);
            both += p && q;
            either += p || q;
          }
        if (dx == 0 && dy == 0 && inked) *inked = either;
        if (either > 0) iou = std::max(iou, static_cast<double>(both) / either);
      }
    return iou;
  };
  Match m;
  m.whole = best(-2, w, nullptr);
  for (int x = -2; x < w; x += 8) {
    int inked = 0;
    const double iou = best(x, x + 24, &inked);
    if (inked >= 30) m.worstWindow = std::min(m.worstWindow, iou);
  }
  return m;
}

int Run(const std::vector<std::string>& args, const std::string& log) {
  const pid_t pid = wgtest::Spawn(args, log);
  const auto status = wgtest::WaitExit(pid, 60);
  if (!status) wgtest::Stop(pid);
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// The program's first headless frame with `greeting` as its greeting line.
Picture ProgramFrame(const std::string& greeting, const std::string& dir) {
  const std::string png = dir + "/program.png";
  EXPECT_EQ(
      Run({wgtest::AppDir() + "/winter-greeting", "--headless", "--greeting", greeting, "--screenshot", png},
          dir + "/program.log"),
      0)
      << wgtest::Slurp(dir + "/program.log");
  return wgtest::LoadPng(png);
}

// `text` drawn by Pango at the greeting's size (18 pt at 96 dpi), red on white, in `font` (a Pango
// font description: families, then style and size). `markup`: `text` is Pango markup.
Picture PangoLine(const std::string& text, const std::string& font, const std::string& png, bool markup) {
  std::vector<std::string> args{"pango-view",           "--no-display", "--output=" + png,
                                "--font=" + font,       "--dpi=96",     "--foreground=#ff0000",
                                "--background=#ffffff", "--margin=8",   "--antialias=gray",
                                "--hinting=full"};
  if (markup) args.push_back("--markup");
  args.insert(args.end(), {"--text", text});
  EXPECT_EQ(Run(args, png + ".log"), 0) << wgtest::Slurp(png + ".log");
  return wgtest::LoadPng(png);
}

// A face file's family, and whether that face is bold, read with FreeType.
struct Family {
  std::string name;
  bool bold = false;
};

Family FamilyOf(const std::string& file) {
  FT_Library lib = nullptr;
  FT_Face face = nullptr;
  Family f;
  if (FT_Init_FreeType(&lib) == 0 && FT_New_Face(lib, file.c_str(), 0, &face) == 0) {
    f.name = face->family_name ? face->family_name : "";
    f.bold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    FT_Done_Face(face);
  }
  if (lib) FT_Done_FreeType(lib);
  return f;
}

// The Pango font description of the faces the program draws `text` from: the greeting's own face
// first, then the fallback face it chose for the script, bold as the greeting is, at 18 pt.
std::string ReferenceFont(const std::string& text) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  measure.Width(text);
  const std::vector<std::string> files = measure.FaceFiles();
  std::string families;
  bool bold = true;
  for (std::size_t i = 0; i < std::min<std::size_t>(files.size(), 2); ++i) {
    const Family f = FamilyOf(files[i]);
    families += (i ? "," : "") + f.name;
    bold = bold && f.bold;
  }
  return families + (bold ? " Bold" : "") + " 18";
}

// Why the Pango comparisons cannot run here; empty when they can.
std::string PangoMissing() {
  if (!wgtest::OnPath("pango-view")) return "pango-view is not installed (package pango1.0-tools)";
  for (const char* face : {"/usr/share/fonts/truetype/noto/NotoSansDevanagari-Bold.ttf",
                           "/usr/share/fonts/truetype/noto/NotoSansThai-Bold.ttf",
                           "/usr/share/fonts/opentype/noto/NotoSansCJK-Bold.ttc"})
    if (!std::filesystem::exists(face))
      return std::string(face) + " is not installed (fonts-noto-core, -cjk)";
  return {};
}

#define SKIP_WITHOUT_PANGO()                                  \
  if (const std::string why = PangoMissing(); !why.empty()) { \
    GTEST_SKIP() << why;                                      \
  }

// One greeting: the program's ink in the top band, and how it compares with Pango's lines.
struct Greeting {
  explicit Greeting(const std::string& text, const std::string& name)
      : text(text),
        dir(wgtest::ScratchDir("world-text-" + name)),
        frame(ProgramFrame(text, dir)),
        ink(RedInk(frame, kBandRows, kSkyGreen)),
        font(ReferenceFont(text)) {}
  // The overlap with Pango's drawing of `drawn` (by default the greeting itself) in the same faces.
  Match Against(const std::string& drawn, const std::string& name = "pango", bool markup = false) const {
    const Picture p = PangoLine(drawn, font, dir + "/" + name + ".png", markup);
    const Match m = CompareInk(ink, RedInk(p, p.h, kWhiteGreen));
    std::printf("%s: IoU %.3f, worst window %.3f against %s/%s.png (%s)\n", text.c_str(), m.whole,
                m.worstWindow, dir.c_str(), name.c_str(), font.c_str());
    std::fflush(stdout);  // not copied into the next child's output when it is forked
    return m;
  }
  std::string text, dir;
  Picture frame;
  Mask ink;
  std::string font;
};

// ---- every script against Pango ----------------------------------------------------------------

struct Script {
  const char* name;
  const char* text;
};

// Named in test lists by its script.
void PrintTo(const Script& s, std::ostream* os) {
  *os << s.name;
}

class WorldGreeting : public testing::TestWithParam<Script> {};

TEST_P(WorldGreeting, TheProgramsLineMatchesPangosShaping) {
  SKIP_WITHOUT_PANGO();
  const Greeting g(GetParam().text, GetParam().name);
  ASSERT_EQ(g.frame.w, 1024);
  const Box box = InkBox(g.ink);
  ASSERT_GT(box.width(), 0) << "no red greeting in " << g.dir;
  const Match m = g.Against(g.text);
  EXPECT_GE(m.worstWindow, kMinWindowIoU);
  // Nothing is cut off at the top: the ink is as tall as Pango's, marks above the letters included.
  const Picture p = wgtest::LoadPng(g.dir + "/pango.png");
  EXPECT_NEAR(box.height(), InkBox(RedInk(p, p.h, kWhiteGreen)).height(), 1);
  EXPECT_GE(box.y0, 20) << "the ink stays below the top of the greeting's room";
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, WorldGreeting,
    testing::Values(Script{"Hebrew", "שנה טובה ומתוקה"}, Script{"Arabic", "عام سعيد"},
                    Script{"Devanagari", "हार्दिक शुभकामनाएँ"}, Script{"Bengali", "শুভ নববর্ষ"},
                    Script{"Thai", "สวัสดีปีใหม่"}, Script{"Chinese", "新年快乐"},
                    Script{"Japanese", "あけましておめでとう"}, Script{"Korean", "새해 복 많이 받으세요"},
                    Script{"HebrewInsideLatin", "Happy שנה טובה 2027"}),
    [](const testing::TestParamInfo<Script>& info) { return std::string(info.param.name); });

// ---- the faults the comparison catches ---------------------------------------------------------
// The program's line against Pango's drawing of a faulty one: the comparison the scripts pass must
// fail, by a clear margin.

// The Hebrew drawn in the order it is stored, left to right (a left-to-right override around it).
TEST(WorldGreetingFaults, HebrewLeftToRightFallsBelowTheThreshold) {
  SKIP_WITHOUT_PANGO();
  const Greeting g("שנה טובה ומתוקה", "fault-hebrew");
  EXPECT_LT(g.Against("\u202D" + g.text + "\u202C", "left-to-right").worstWindow, kMinWindowIoU - 0.1);
}

// Each Arabic letter in its isolated form: a zero-width non-joiner between every two letters.
TEST(WorldGreetingFaults, UnjoinedArabicFallsBelowTheThreshold) {
  SKIP_WITHOUT_PANGO();
  const Greeting g("عام سعيد", "fault-arabic");
  const std::string zwnj = "\u200C";
  const std::string unjoined = "ع" + zwnj + "ا" + zwnj + "م س" + zwnj + "ع" + zwnj + "ي" + zwnj + "د";
  EXPECT_LT(g.Against(unjoined, "unjoined").worstWindow, kMinWindowIoU - 0.1);
}

// The i-sign (U+093F) left after its consonant द instead of moved before it. A no-break space stands
// in as the sign's base, so HarfBuzz keeps the sign to the right of द; the space's width is taken
// back with negative letter spacing (5 pt), so the line is as wide as the right one.
TEST(WorldGreetingFaults, DevanagariISignAfterItsConsonantFallsBelowTheThreshold) {
  SKIP_WITHOUT_PANGO();
  const Greeting g("हार्दिक शुभकामनाएँ", "fault-devanagari");
  const std::string signAfter = "हार्द<span letter_spacing=\"-5120\">\u00A0ि</span>क शुभकामनाएँ";
  EXPECT_LT(g.Against(signAfter, "sign-after", true).worstWindow, kMinWindowIoU - 0.1);
}

// ---- colour emoji ------------------------------------------------------------------------------

constexpr const char* kEmojiFace = "/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf";

#define SKIP_WITHOUT_EMOJI()                                                    \
  if (!std::filesystem::exists(kEmojiFace)) {                                   \
    GTEST_SKIP() << kEmojiFace << " is not installed (fonts-noto-color-emoji)"; \
  }

// Pixels in columns [x0, x1) of the top band: those clearly green (a fir tree's needles) and those
// of the red line.
struct Tally {
  int green = 0, red = 0;
};

Tally CountColours(const Picture& p, int x0, int x1) {
  Tally t;
  for (int y = 0; y < kBandRows; ++y)
    for (int x = x0; x < x1; ++x) {
      const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
      t.green += c[1] >= c[0] + 40 && c[1] >= c[2];
      t.red += c[0] >= c[1] + 100 && c[0] >= c[2] + 100;
    }
  return t;
}

TEST(EmojiOnTheGreeting, TheTreeKeepsItsGreenAndTheLettersStayRed) {
  SKIP_WITHOUT_EMOJI();
  const std::string dir = wgtest::ScratchDir("world-text-emoji");
  const Picture frame = ProgramFrame("Happy 2027 🎄", dir);
  ASSERT_EQ(frame.w, 1024);
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const int letters = kGreetingX + measure.Width("Happy 2027");
  const int line = kGreetingX + measure.Width("Happy 2027 🎄");
  ASSERT_GT(line, letters + 15) << "the tree is an em wide";
  const Tally tree = CountColours(frame, letters + 1, line);
  const Tally text = CountColours(frame, kGreetingX, letters + 1);
  EXPECT_GT(tree.green, 60) << dir << "/program.png";
  EXPECT_GT(text.red, 150);
  EXPECT_EQ(text.green, 0);
  EXPECT_EQ(CountColours(frame, line + 1, frame.w).red + CountColours(frame, 0, kGreetingX).red, 0);
}

// A family joined with zero-width joiners and a flag of two regional indicators are each one
// picture from the colour face.
TEST(EmojiOnTheGreeting, AJoinedFamilyAndAFlagAreOneColourGlyphEach) {
  SKIP_WITHOUT_EMOJI();
  const auto source = d3dx::OpenGlyphSource(render::TextFontSource().hFont());
  for (const std::u32string& emoji : {std::u32string(U"\U0001F468\u200D\U0001F469\u200D\U0001F467"),
                                      std::u32string(U"\U0001F1E9\U0001F1EA")}) {
    SCOPED_TRACE(static_cast<int>(emoji.size()));
    const d3dx::ShapedLine line = source->Shape(emoji);
    ASSERT_EQ(line.glyphs.size(), 1u);
    EXPECT_TRUE(line.missing.empty());
    const d3dx::GlyphImage image = source->Rasterise(line.glyphs[0].id);
    EXPECT_TRUE(image.colour);
    EXPECT_GE(image.width, 20);
    EXPECT_EQ(source->FaceFiles().at(line.glyphs[0].id.face), kEmojiFace);
  }
}

// ---- where right-to-left lines go --------------------------------------------------------------

// A right-to-left greeting takes the place a left-to-right one of its width takes: its ink begins at
// the greeting's left edge and ends where the measured width says.
TEST(GreetingDirection, ARightToLeftLineStartsAtTheGreetingsLeftEdge) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  for (const char* text : {"שנה טובה ומתוקה", "عام سعيد"}) {
    SCOPED_TRACE(text);
    const std::string dir = wgtest::ScratchDir("world-text-rtl");
    const Box box = InkBox(RedInk(ProgramFrame(text, dir), kBandRows, kSkyGreen));
    EXPECT_GE(box.x0, kGreetingX);
    EXPECT_LE(box.x0, kGreetingX + 3);
    EXPECT_LE(box.x1, kGreetingX + measure.Width(text) + 1);
    EXPECT_GE(box.x1, kGreetingX + measure.Width(text) - 1);
  }
}

// Hebrew inside a left-to-right line: the Latin word that comes first stays first, on the left, each
// pixel as it is when the word is the whole greeting.
TEST(GreetingDirection, HebrewInsideALatinLineLeavesTheLatinWordFirst) {
  d3dx::TextMeasure measure(render::TextFontSource().hFont());
  const int happy = kGreetingX + measure.Width("Happy");
  const Picture alone = ProgramFrame("Happy", wgtest::ScratchDir("world-text-happy"));
  const Picture mixed = ProgramFrame("Happy שנה טובה 2027", wgtest::ScratchDir("world-text-mixed"));
  ASSERT_EQ(alone.w, 1024);
  ASSERT_EQ(mixed.w, 1024);
  int differ = 0;
  for (int y = 0; y < kBandRows; ++y)
    for (int x = kGreetingX - 2; x <= happy; ++x)
      for (int c = 0; c < 3; ++c) {
        const std::size_t i = (static_cast<std::size_t>(y) * 1024 + x) * 3 + c;
        differ += alone.rgb[i] != mixed.rgb[i];
      }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(CountColours(alone, kGreetingX, happy + 1).red, 100);
}

}  // namespace
