// The exported page in a real browser: headless Chromium with its software WebGL2, served from
// 127.0.0.1. Its fixed-step frames against the desktop's, what it asks the network for, the open,
// Escape and watch-again cycle with the tune, and a browser without WebGL2.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/Form1.h"
#include "platform/d3d/d3d8types.h"
#include "platform/gl/GlApi.h"
#include "tests/support/Browser.h"
#include "tests/support/FrameDiff.h"
#include "tests/web/WebExported.h"
#include "tests/web/WebFrameLimits.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using wgtest::Chromium;
using wgtest::ExportedPage;
using wgtest::FrameDiff;
using wgtest::Picture;

Picture Reference(int frame) {
  return wgtest::LoadPng(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-" + std::to_string(frame) +
                         ".png");
}

// The page's frame `frames` at the fixed step, as the page itself encodes its canvas; kept as `png`.
// The frames before it fill no pixels (show=last), which spares the software rasteriser most of the
// run and leaves frame `frames` as it is. `more` goes on the end of the address (parameters, a link's
// fragment).
Picture PageFrame(Chromium& browser, const wgtest::StaticServer& server, int frames, const std::string& png,
                  double* ms = nullptr, const std::string& more = "") {
  browser.Navigate(server.Url("/index.html?frames=" + std::to_string(frames) + "&show=last" + more));
  EXPECT_TRUE(
      browser.WaitFor("document.title.startsWith('done') || document.title.startsWith('failed')", 300s));
  EXPECT_EQ(browser.Evaluate("document.title").str(), "done: frame " + std::to_string(frames));
  if (ms) *ms = browser.Evaluate("window.wgResult ? wgResult.ms : 0").num();
  const std::string bytes =
      wgtest::DecodeDataUrl(browser.Evaluate("window.wgResult ? wgResult.png : ''").str());
  std::ofstream(png, std::ios::binary) << bytes;
  return wgtest::PngFromMemory(bytes);
}

class WebFrames : public testing::TestWithParam<int> {};

TEST_P(WebFrames, TheFixedStepFrameMatchesTheDesktopsHeadlessFrame) {
  SKIP_WITHOUT_BROWSER();
  const int frame = GetParam();
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  double ms = 0;
  const std::string png = wgtest::ScratchDir("web-frame-" + std::to_string(frame)) + "/page.png";
  const Picture got = PageFrame(browser, server, frame, png, &ms);
  ASSERT_EQ(got.w, 1024);
  ASSERT_EQ(got.h, 768);
  std::string measured;
  const std::string violations = wgtest::LimitViolations(got, Reference(frame), frame, &measured);
  std::printf("%s; %d frames in %.0f ms\n", measured.c_str(), frame, ms);
  EXPECT_EQ(violations, "") << "the page's frame: " << png;
}

INSTANTIATE_TEST_SUITE_P(Frames, WebFrames, testing::Values(1, 130, 600));

// The card `card` (command-line options) exported into `dir`/page and drawn by the desktop at frame
// 130 into `dir`/desktop.png, which is returned.
Picture ExportAndDrawCard(const std::string& dir, const std::string& card) {
  EXPECT_EQ(wgtest::RunProgram("--export-web " + dir + "/page " + card, dir + "/export.log"), 0)
      << wgtest::Slurp(dir + "/export.log");
  EXPECT_EQ(wgtest::RunProgram("--headless --frames 130 --screenshot " + dir + "/desktop.png " + card,
                               dir + "/desktop.log"),
            0)
      << wgtest::Slurp(dir + "/desktop.log");
  return wgtest::LoadPng(dir + "/desktop.png");
}

// The page exported into `dir`/page shows frame 130 as the desktop's frame `desktop` within the
// limits the default greeting's frames are held to; returns the page's frame.
Picture ExpectPageFrameAsOnTheDesktop(const std::string& dir, const Picture& desktop, const char* what) {
  wgtest::StaticServer server(dir + "/page");
  Chromium browser;
  const Picture page = PageFrame(browser, server, 130, dir + "/page.png");
  std::string measured;
  const std::string violations = wgtest::LimitViolations(page, desktop, 130, &measured);
  std::printf("%s: %s\n", what, measured.c_str());
  EXPECT_EQ(violations, "") << "the page's frame: " << dir << "/page.png";
  return page;
}

// A card's own texts in the page, as the desktop draws them: a greeting too wide for its usual place
// (so moved left when the card was resolved) with letters the greeting's face lacks (drawn from a
// fallback face), and one credit line, which a table of one line shows at frame 130.
TEST(WebCard, TheCardsOwnTextsShowInThePageAsOnTheDesktop) {
  SKIP_WITHOUT_BROWSER();
  const std::string dir = wgtest::ScratchDir("web-card");
  const std::string card =
      "--greeting 'Շնորհավոր Նոր Տարի! С НОВЫМ ГОДОМ! HAPPY NEW YEAR!' --credit 'Από όλους εμάς: καλή "
      "χρονιά'";
  const Picture desktop = ExportAndDrawCard(dir, card);
  const std::string texts = wgtest::Slurp(dir + "/page/greeting/card.txt");
  EXPECT_LT(std::stof(texts.substr(0, texts.find('\t'))), 400.0f) << texts;
  // The card's lines are drawn, not the built-in ones: the text bands differ from the default frame.
  EXPECT_GT(wgtest::Compare(desktop, Reference(130), 15, 50).shareOver8, 0.02) << "the greeting's band";
  EXPECT_GT(wgtest::Compare(desktop, Reference(130), 195, 230).shareOver8, 0.02) << "the credit's band";
  ExpectPageFrameAsOnTheDesktop(dir, desktop, "card");
}

// A right-to-left greeting with joined Arabic letters, a colour emoji and a Latin word: the page draws
// the line the desktop shaped, in the same order and colours; and a credit line too long for the
// picture comes out wrapped onto the same lines (frame 130 shows the first credit line).
TEST(WebCard, AShapedRightToLeftGreetingWithAnEmojiShowsAsOnTheDesktop) {
  SKIP_WITHOUT_BROWSER();
  const std::string dir = wgtest::ScratchDir("web-card-arabic");
  const Picture desktop = ExportAndDrawCard(
      dir,
      "--greeting 'عام سعيد 🎄 Happy' --credit 'Dear Anna and Mark, thank you for a wonderful year full of "
      "laughter, long walks in the snow and kind words. May the coming year bring you health! 🎆'");
  EXPECT_GT(wgtest::Compare(desktop, Reference(130), 15, 50).shareOver8, 0.02) << "the greeting's band";
  const Picture page = ExpectPageFrameAsOnTheDesktop(dir, desktop, "arabic card");
  // The greeting's band itself, glyph by glyph: no pixel more than 8 levels off (measured: none
  // more than 1).
  EXPECT_EQ(wgtest::Compare(page, desktop, 0, 80).shareOver8, 0.0) << dir << "/page.png";
  // The wrapped credit line's two lines, between 200 and 260.
  EXPECT_GT(wgtest::Compare(desktop, Reference(130), 230, 260).shareOver8, 0.02) << "the second line";
  EXPECT_LT(wgtest::Compare(page, desktop, 200, 260).shareOver8, 0.002) << dir << "/page.png";
}

// A sender's GLB tree, taller than the application's tree by the card's word: the page draws it where
// the desktop does, at that height, lit, its glass bauble blended and its texture from inside the GLB.
TEST(WebCard, ASendersGlbTreeStandsFittedAndLitAsOnTheDesktop) {
  SKIP_WITHOUT_BROWSER();
  const std::string dir = wgtest::ScratchDir("web-card-glb");
  const Picture desktop =
      ExportAndDrawCard(dir, "--model " + wgtest::AppDir() + "/examples-models/tree.glb --model-height 3");
  EXPECT_EQ(wgtest::Slurp(dir + "/page/greeting/choices/tree/card/tree-fit.txt"), "3\n");
  // Rows 290..420 hold the tree at frame 130 (measured: 5.5 % of them differ from the built-in tree's).
  EXPECT_GT(wgtest::Compare(desktop, Reference(130), 290, 420).shareOver8, 0.03) << "another tree is drawn";
  const Picture page = ExpectPageFrameAsOnTheDesktop(dir, desktop, "GLB tree");
  // Where the tree stands, nearly every pixel as the desktop's (measured: 0.01 % off).
  EXPECT_LT(wgtest::Compare(page, desktop, 290, 420).shareOver8, 0.002) << dir << "/page.png";
}

// The page in a window of `w` x `h` CSS pixels of `scale` device pixels each, a phone's (mobile
// viewport rules), at frame 130: the canvas's frame and the window as shown.
struct Filled {
  Picture frame, screen;
  double left = -1, top = -1, width = 0, height = 0;  // the canvas on the window, CSS pixels
};
Filled ShowInWindow(int w, int h, double scale, const std::string& name) {
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  browser.Emulate(w, h, scale, true);
  Filled out;
  out.frame = PageFrame(browser, server, 130, wgtest::ScratchDir(name) + "/frame.png");
  out.screen = wgtest::PngFromMemory(browser.Screenshot());
  const wgtest::Json box = browser.Evaluate(
      "(() => { const b = document.getElementById('scene').getBoundingClientRect(); "
      "return [b.left, b.top, b.width, b.height]; })()");
  out.left = box[0].num();
  out.top = box[1].num();
  out.width = box[2].num();
  out.height = box[3].num();
  return out;
}

// The tallest unbroken run of the greeting's red in a column of the top fifth: a capital's stem, the
// capitals' height (a descender of Д adds to it).
int RedStem(const Picture& p) {
  int tallest = 0;
  for (int x = 0; x < p.w; ++x)
    for (int y = 0, run = 0; y < p.h / 5; ++y) {
      const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
      run = c[0] > 150 && c[1] < 80 && c[2] < 80 ? run + 1 : 0;
      tallest = std::max(tallest, run);
    }
  return tallest;
}

// The columns that hold the tree, left and right, below the greeting: its pixels are the frame's
// only dark ones there (the sky, the snow and the credit line are light).
std::pair<int, int> TreeColumns(const Picture& p) {
  int left = p.w, right = -1;
  for (int y = p.h / 5; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) {
      const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
      if (c[0] + c[1] + c[2] < 330) {
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  return {left, right};
}

// The picture covers the window: the canvas lies over all of it, with the window's shape to within
// a pixel, and no pixel of the window's edges is black (there are no bars). The greeting is
// readable (its red capitals at least 2.5 % of the height) and the tree whole and central.
void ExpectFilledWindow(const Filled& f, int w, int h, double scale) {
  EXPECT_EQ(f.left, 0);
  EXPECT_EQ(f.top, 0);
  EXPECT_EQ(f.width, w);
  EXPECT_EQ(f.height, h);
  ASSERT_GT(f.frame.h, 0);
  EXPECT_EQ(f.frame.w % 2, 0);
  EXPECT_EQ(f.frame.h % 2, 0);
  EXPECT_NEAR(static_cast<double>(f.frame.w) / f.frame.h, static_cast<double>(w) / h, 2.0 / f.frame.h);
  // The pixel count is held to twice the desktop's picture.
  EXPECT_LE(f.frame.w * f.frame.h, 2 * 1024 * 768 + 2 * (f.frame.w + f.frame.h));
  EXPECT_GT(f.frame.w * f.frame.h, 1024 * 768);
  ASSERT_EQ(f.screen.w, static_cast<int>(w * scale));
  ASSERT_EQ(f.screen.h, static_cast<int>(h * scale));
  int black = 0;
  auto edge = [&](int x, int y) {
    const std::uint8_t* c = &f.screen.rgb[(static_cast<std::size_t>(y) * f.screen.w + x) * 3];
    black += c[0] + c[1] + c[2] < 60;
  };
  for (int x = 0; x < f.screen.w; ++x) {
    edge(x, 0);
    edge(x, f.screen.h - 1);
  }
  for (int y = 0; y < f.screen.h; ++y) {
    edge(0, y);
    edge(f.screen.w - 1, y);
  }
  EXPECT_EQ(black, 0) << "black pixels on the window's edges";
  const int red = RedStem(f.frame);
  std::printf("frame %dx%d: the greeting's capitals %d pixels (%.1f %% of the height)\n", f.frame.w,
              f.frame.h, red, 100.0 * red / f.frame.h);
  EXPECT_GE(red, 0.025 * f.frame.h);
  EXPECT_LE(red, 0.05 * f.frame.h);
  const auto [left, right] = TreeColumns(f.frame);
  std::printf("the tree's columns %d..%d of %d\n", left, right, f.frame.w);
  // Whole: away from both edges, and not a sliver either.
  EXPECT_GT(left, f.frame.w / 20) << "the tree is cut at the left";
  EXPECT_LT(right, f.frame.w - f.frame.w / 20) << "the tree is cut at the right";
  EXPECT_GT(right - left, f.frame.w / 20);
  EXPECT_NEAR((left + right) / 2.0, f.frame.w / 2.0, 0.1 * f.frame.w) << "the tree is not central";
}

// A phone held upright: 390 x 844 CSS pixels at 3 device pixels each.
TEST(WebFill, APhoneHeldUprightIsFilledAndTheGreetingReadable) {
  SKIP_WITHOUT_BROWSER();
  ExpectFilledWindow(ShowInWindow(390, 844, 3, "web-fill-portrait"), 390, 844, 3);
}

// The same phone turned on its side.
TEST(WebFill, APhoneOnItsSideIsFilledAndTheGreetingReadable) {
  SKIP_WITHOUT_BROWSER();
  ExpectFilledWindow(ShowInWindow(844, 390, 3, "web-fill-landscape"), 844, 390, 3);
}

// A word too long for a phone held upright at the size the frame's height asks for (72 pixels): the
// page fetches the smaller faces too and the greeting is drawn at the largest that fits (50 pixels),
// whole, rather than not at all.
TEST(WebFill, AWordTooLongForThePhoneIsDrawnAtTheLargestSizeThatFits) {
  SKIP_WITHOUT_BROWSER();
  const std::string dir = wgtest::ScratchDir("web-fill-long-word");
  ASSERT_EQ(wgtest::RunProgram("--export-web " + dir + "/page --greeting Supercalifragilisticexpialidocious",
                               dir + "/export.log"),
            0)
      << wgtest::Slurp(dir + "/export.log");
  wgtest::StaticServer server(dir + "/page");
  Chromium browser;
  browser.Emulate(390, 844, 3, true);
  const Picture frame = PageFrame(browser, server, 2, dir + "/frame.png");
  ASSERT_EQ(frame.h, 1844);
  const int red = RedStem(frame);
  std::printf("the long word's capitals: %d pixels\n", red);
  // Bold Arial's S is about 0.73 em tall: 36 pixels at 50, 52 at 72.
  EXPECT_GE(red, 34);
  EXPECT_LE(red, 40);
  std::vector<std::string> faces;
  for (const std::string& path : server.Requests())
    if (path.find("/fonts/") != std::string::npos) faces.push_back(path);
  EXPECT_EQ(faces.size(), 11u) << "the 72 pixel face first, then every smaller one";
  EXPECT_EQ(faces.empty() ? "" : faces[0], "/greeting/fonts/Arial-72px-bold.glyphs");
}

// A phone turned while the greeting plays: once the new shape has stood still, the greeting goes on
// from its start at that shape, its canvas the window's new shape, and keeps playing.
TEST(WebFill, TurningThePhoneStartsTheGreetingAgainAtItsNewShape) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  browser.Emulate(390, 844, 3, true);
  browser.Navigate(server.Url("/"));
  ASSERT_TRUE(browser.WaitFor("!document.getElementById('open').hidden", 120s)) << "no open control appeared";
  const char* size = "(() => { const c = document.getElementById('scene'); return [c.width, c.height]; })()";
  const wgtest::Json upright = browser.Evaluate(size);
  EXPECT_LT(upright[0].num(), upright[1].num());
  browser.Evaluate("document.getElementById('open').click(), true");
  ASSERT_TRUE(browser.WaitFor("document.getElementById('overlay').hidden", 10s));
  browser.Emulate(844, 390, 3, true);
  ASSERT_TRUE(browser.WaitFor(
      "document.getElementById('scene').width > document.getElementById('scene').height", 30s))
      << "the canvas kept its upright shape";
  const wgtest::Json turned = browser.Evaluate(size);
  EXPECT_EQ(turned[0].num(), upright[1].num());
  EXPECT_EQ(turned[1].num(), upright[0].num());
  EXPECT_TRUE(browser.Evaluate("document.getElementById('overlay').hidden").boolean())
      << "the greeting stopped";
  const std::string first = browser.Screenshot();
  std::this_thread::sleep_for(1000ms);
  EXPECT_NE(browser.Screenshot(), first) << "the picture stands still after the turn";
  for (const std::string& line : browser.Console()) ADD_FAILURE() << "console: " << line;
}

// A greeting link's fragment carrying `greeting` and `credits`: "#1." and the records, base64url.
std::string LinkFragment(const std::string& greeting, const std::vector<std::string>& credits) {
  std::string records = "g\t" + greeting;
  for (const std::string& c : credits) records += "\nc\t" + c;
  static const char* const kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out = "#1.";
  for (std::size_t i = 0; i < records.size(); i += 3) {
    std::uint32_t v = 0;
    const std::size_t n = std::min<std::size_t>(3, records.size() - i);
    for (std::size_t k = 0; k < 3; ++k)
      v = v << 8 | (k < n ? static_cast<unsigned char>(records[i + k]) : 0u);
    for (std::size_t k = 0; k <= n; ++k) out += kAlphabet[(v >> (18 - 6 * k)) & 63];
  }
  return out;
}

// The pixels of `p` in rows [y0, y1) that are the greeting's red, and those of a colour glyph's green
// (the fir tree emoji's), with the red ones' bounding box.
struct TextInk {
  int red = 0, green = 0;
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  std::vector<bool> redMask;
};
TextInk InkIn(const Picture& p, int y0, int y1) {
  TextInk ink;
  for (int y = y0; y < y1; ++y)
    for (int x = 0; x < p.w; ++x) {
      const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
      const bool red = c[0] > 200 && c[1] < 40 && c[2] < 40;
      ink.redMask.push_back(red);
      if (red) {
        ++ink.red;
        ink.left = std::min(ink.left, x);
        ink.right = std::max(ink.right, x);
        ink.top = std::min(ink.top, y);
        ink.bottom = std::max(ink.bottom, y);
      }
      ink.green += c[1] > c[0] + 40 && c[1] > c[2] + 20;
    }
  return ink;
}

const std::string kLinkGreeting = "С Новым годом! 🎄 عام سعيد";

// A link's greeting in Cyrillic, an emoji and Arabic, drawn by the browser's text stack: red where
// the desktop's greeting is, the emoji in its own colours, and the scene outside the two text lines
// as the built-in card's frame.
// The fragment of the link `winter-greeting --share-link` prints for `greeting` and `credits`.
std::string ShareLinkFragment(const std::string& greeting, const std::vector<std::string>& credits) {
  const auto quoted = [](const std::string& text) {
    std::string out = "'";
    for (const char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  };
  std::string args = "--share-link https://example.org/greeting/ --greeting " + quoted(greeting);
  for (const std::string& c : credits) args += " --credit " + quoted(c);
  const std::string log = wgtest::ScratchDir("web-share-link") + "/link.txt";
  EXPECT_EQ(wgtest::RunProgram(args, log), 0) << wgtest::Slurp(log);
  std::string link = wgtest::Slurp(log);
  while (!link.empty() && link.back() == '\n') link.pop_back();
  const std::size_t hash = link.find('#');
  return hash == std::string::npos ? link : link.substr(hash);
}

TEST(WebLink, ALinksGreetingIsDrawnByTheBrowserWhereTheDesktopsIs) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  // The link the command line prints for the same card is the one drawn here.
  const std::string fragment = LinkFragment(kLinkGreeting, {"Мама и папа"});
  EXPECT_EQ(ShareLinkFragment(kLinkGreeting, {"Мама и папа"}), fragment);
  const Picture page =
      PageFrame(browser, server, 130, wgtest::ScratchDir("web-link") + "/page.png", nullptr, fragment);
  ASSERT_EQ(page.h, 768);
  EXPECT_EQ(browser.Evaluate("window.wgNotes").str(), "");
  const Picture builtIn = Reference(130);
  EXPECT_GT(wgtest::Compare(page, builtIn, 15, 60).shareOver8, 0.02) << "the built-in greeting is drawn";
  const TextInk ink = InkIn(page, 0, 80);
  std::printf("the greeting's red: %d pixels in %d..%d x %d..%d; the emoji's green: %d pixels\n", ink.red,
              ink.left, ink.right, ink.top, ink.bottom, ink.green);
  EXPECT_GT(ink.red, 800);
  EXPECT_GT(ink.green, 60) << "the emoji took the text's colour";
  // At the greeting's usual place, (400, 20), its capitals' tops a cell's ascent less their height
  // below it.
  EXPECT_GE(ink.left, 400);
  EXPECT_LE(ink.left, 406);
  EXPECT_GE(ink.top, 22);
  EXPECT_LE(ink.top, 28);
  EXPECT_LT(ink.bottom, 60);
  // The credit line is drawn in its place: its band differs from the built-in credit's.
  EXPECT_GT(wgtest::Compare(page, builtIn, 195, 230).shareOver8, 0.01) << "the credit's band";
  // Between and below the two lines the scene is the built-in card's, within the page's usual limits.
  const wgtest::WebFrameLimits limits = wgtest::LimitsFor(130);
  EXPECT_LE(wgtest::Compare(page, builtIn, 80, 190).shareOver8, limits.aboveShare);
  EXPECT_LE(wgtest::Compare(page, builtIn, 240, wgtest::kHorizonRow).shareOver8, limits.aboveShare);
  EXPECT_LE(wgtest::Compare(page, builtIn, wgtest::kHorizonRow, 768).mean, limits.groundMean);
}

// A credit line that takes more than three lines at the frame's width is left out, and the page hears
// why; the greeting and the other credit line are drawn.
TEST(WebLink, ACreditLineTooLongForThreeLinesIsLeftOutWithANote) {
  SKIP_WITHOUT_BROWSER();
  std::string tooLong;
  // Under the link's 400 characters, so that the page hands it over and the runtime finds it too long.
  for (int i = 0; i < 35; ++i) tooLong += "snowflakes ";
  tooLong += "fall";
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  const Picture page = PageFrame(browser, server, 2, wgtest::ScratchDir("web-link-long") + "/page.png",
                                 nullptr, LinkFragment("Happy New Year", {"Anna", tooLong}));
  const std::string notes = browser.Evaluate("window.wgNotes").str();
  EXPECT_EQ(notes.rfind("credit line 2 is left out: the line ", 0), 0u) << notes;
  EXPECT_NE(notes.find("a line may take at most 3"), std::string::npos) << notes;
  EXPECT_EQ(std::count(notes.begin(), notes.end(), '\n'), 1) << notes;
  EXPECT_GT(InkIn(page, 0, 80).red, 200) << "the greeting is missing";
  // The browser's text helper itself: where a wrapped line may start, and an emoji kept apart.
  EXPECT_EQ(browser.Evaluate("JSON.stringify(WGText.breaks('ab  cd 漢字かな。x'))").str(), "[4,7,8,9,10,12]");
  EXPECT_TRUE(
      browser
          .Evaluate("(() => { const r = WGText.line('A🎄', 40, true); "
                    "return r.colour !== null && r.coverage.some((v) => v === 255) && r.rtl === false; })()")
          .boolean());
  EXPECT_TRUE(browser.Evaluate("WGText.line('سعيد A', 40, true).rtl").boolean());
}

// On a phone held upright the link's greeting is laid out for the frame as the desktop's --size lays
// out a line: at the frame's text size (72 pixels), wrapped at a space onto a second line where it is
// too wide, nothing left out.
TEST(WebLink, OnAPhoneTheGreetingIsWrappedAtTheFramesTextSize) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  browser.Emulate(390, 844, 3, true);
  const Picture page = PageFrame(browser, server, 2, wgtest::ScratchDir("web-link-phone") + "/page.png",
                                 nullptr, LinkFragment(kLinkGreeting, {}));
  ASSERT_EQ(page.h, 1844);
  EXPECT_EQ(browser.Evaluate("window.wgNotes").str(), "");
  const int stem = RedStem(page);
  const TextInk ink = InkIn(page, 0, page.h / 5);
  std::printf("the greeting's capitals %d pixels; its red rows %d..%d, columns %d..%d of %d\n", stem, ink.top,
              ink.bottom, ink.left, ink.right, page.w);
  // Bold capitals about 0.72 em tall at 72 pixels, and two lines of them.
  EXPECT_GE(stem, 48);
  EXPECT_LE(stem, 60);
  EXPECT_GT(ink.bottom - ink.top, 2 * stem);
  EXPECT_GT(ink.green, 400) << "the emoji is missing";
  EXPECT_GE(ink.left, 0);
  EXPECT_LT(ink.right, page.w);
}

// Reduced motion: the orbit and the snow at a quarter of their speed change the frame, but not the
// greeting drawn over it.
TEST(WebLink, ASlowerMotionChangesTheSceneButNotTheText) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  const std::string dir = wgtest::ScratchDir("web-link-motion");
  const std::string link = LinkFragment(kLinkGreeting, {});
  const Picture full = PageFrame(browser, server, 130, dir + "/full.png", nullptr, link);
  const Picture slow = PageFrame(browser, server, 130, dir + "/slow.png", nullptr, "&motion=0.25" + link);
  EXPECT_GT(wgtest::Compare(slow, full, wgtest::kHorizonRow, 768).shareOver8, 0.05)
      << "the scene stood still";
  const TextInk a = InkIn(full, 0, 80), b = InkIn(slow, 0, 80);
  ASSERT_GT(a.red, 800);
  int differ = 0;
  for (std::size_t i = 0; i < a.redMask.size(); ++i) differ += a.redMask[i] != b.redMask[i];
  EXPECT_LT(differ, a.red / 50) << "the greeting's pixels moved";
  EXPECT_EQ(a.left, b.left);
  EXPECT_EQ(a.top, b.top);
}

}  // namespace

namespace {

// Served from a folder of a site that holds other things too: the page asks only for its own files.
TEST(WebPage, LoadsNothingFromOutsideItsFolder) {
  SKIP_WITHOUT_BROWSER();
  const std::string site = wgtest::ScratchDir("web-site");
  fs::copy(ExportedPage(), site + "/greeting-card", fs::copy_options::recursive);
  { std::ofstream(site + "/index.html") << "<p>the site's own page</p>"; }
  { std::ofstream(site + "/page.js") << "document.title = 'wrong script';"; }
  wgtest::StaticServer server(site);
  Chromium browser;
  browser.Navigate(server.Url("/greeting-card/index.html?frames=2"));
  ASSERT_TRUE(
      browser.WaitFor("document.title.startsWith('done') || document.title.startsWith('failed')", 120s));
  EXPECT_EQ(browser.Evaluate("document.title").str(), "done: frame 2");
  const std::string base = server.Url("/greeting-card/");
  const auto urls = browser.RequestedUrls();
  // The page, its style and script, the runtime's two files, the manifest, the start-up pack, a face.
  EXPECT_GE(urls.size(), 8u);
  for (const std::string& url : urls)
    if (url.rfind("data:", 0) != 0 && url.rfind("blob:" + server.Url("/greeting-card/"), 0) != 0) {
      EXPECT_EQ(url.rfind(base, 0), 0u) << url;
    }
  for (const std::string& path : server.Requests()) EXPECT_EQ(path.rfind("/greeting-card/", 0), 0u) << path;
}

TEST(WebPage, ABrowserWithoutWebGl2GetsAReadableMessage) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(ExportedPage());
  Chromium browser({"--disable-webgl", "--disable-3d-apis"});
  browser.Navigate(server.Url("/index.html"));
  ASSERT_TRUE(browser.WaitFor("document.getElementById('note').textContent.includes('WebGL')", 60s));
  EXPECT_EQ(
      browser.Evaluate("document.getElementById('note').textContent").str(),
      "This browser cannot show the greeting: it needs WebGL 2, which is missing or switched off here. A "
      "current Firefox, Chrome, Edge or Safari shows it.");
  EXPECT_TRUE(browser.Evaluate("document.getElementById('open').hidden").boolean());
  EXPECT_TRUE(browser.Evaluate("document.getElementById('overlay').hidden === false").boolean());
}

// A visitor's evening: the page opens on the first frame under one control; a click starts the scene
// and the tune together; Escape held ends both; the control offers the greeting again.
TEST(WebPage, OpenHoldEscapeAndWatchAgain) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(ExportedPage());
  Chromium browser;
  browser.Navigate(server.Url("/"));
  ASSERT_TRUE(browser.WaitFor("!document.getElementById('open').hidden", 120s)) << "no open control appeared";
  EXPECT_EQ(browser.Evaluate("document.getElementById('open').textContent").str(), "▶ Open the greeting");
  EXPECT_TRUE(browser.Evaluate("document.getElementById('tune').paused").boolean())
      << "the tune began unasked";
  // The recording is the tune with its reverb, as long as the manifest says.
  const double seconds =
      wgtest::Json::Parse(wgtest::Slurp(ExportedPage() + "/greeting/manifest.json"))["tunes"][0]["seconds"]
          .num();
  EXPECT_NEAR(
      browser
          .Evaluate("new Promise(r => { const a = document.getElementById('tune'); "
                    "if (a.readyState >= 1) r(a.duration); else a.onloadedmetadata = () => r(a.duration); })")
          .num(),
      seconds, 0.1);

  const wgtest::Json box = browser.Evaluate(
      "(() => { const b = document.getElementById('open').getBoundingClientRect(); return [b.x + b.width / "
      "2, "
      "b.y + b.height / 2]; })()");
  browser.Click(box[0].num(), box[1].num());
  ASSERT_TRUE(browser.WaitFor("document.getElementById('overlay').hidden", 10s));
  ASSERT_TRUE(browser.WaitFor("document.getElementById('tune').currentTime > 0.5", 60s))
      << "the tune does not play";
  // The scene moves: two pictures a moment apart differ.
  const std::string first = browser.Screenshot();
  std::this_thread::sleep_for(1500ms);
  EXPECT_NE(browser.Screenshot(), first) << "the picture stands still while the tune plays";

  // Escape held across frames: the tune stops at once, the picture stops, the control offers it again.
  browser.Key("rawKeyDown", "Escape", 27);
  ASSERT_TRUE(browser.WaitFor("!document.getElementById('open').hidden", 30s)) << "Escape did not end it";
  browser.Key("keyUp", "Escape", 27);
  EXPECT_TRUE(browser.Evaluate("document.getElementById('tune').paused").boolean());
  EXPECT_EQ(browser.Evaluate("document.getElementById('open').textContent").str(), "↻ Watch again");
  const std::string stopped = browser.Screenshot();
  std::this_thread::sleep_for(1000ms);
  const std::string still = browser.Screenshot();
  EXPECT_EQ(wgtest::Compare(wgtest::PngFromMemory(still), wgtest::PngFromMemory(stopped)).max, 0)
      << "the picture moved after the greeting ended";

  // Enter starts it again, from the beginning of the tune. Where the tune stood when it started again
  // is taken in the page itself: on a busy machine the question could reach the page seconds later.
  browser.Evaluate(
      "(() => { const a = document.getElementById('tune'); window.wgPlayedFrom = -1; "
      "a.addEventListener('play', () => { window.wgPlayedFrom = a.currentTime; }, {once: true}); "
      "return true; })()");
  browser.Key("rawKeyDown", "Enter", 13);
  browser.Key("keyUp", "Enter", 13);
  ASSERT_TRUE(browser.WaitFor("document.getElementById('overlay').hidden", 10s));
  ASSERT_TRUE(browser.WaitFor("!document.getElementById('tune').paused && window.wgPlayedFrom >= 0", 30s));
  EXPECT_LT(browser.Evaluate("window.wgPlayedFrom").num(), 1.0);
  for (const std::string& line : browser.Console()) ADD_FAILURE() << "console: " << line;
}

}  // namespace
