// The greeting in frames of other shapes (--size): portrait, square, wide and a very narrow one, each
// a real headless frame, read back and looked at as a person would: the tree whole and in the
// middle, the text inside the frame and large enough to read on a phone, sky and ground to every
// edge.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/FrameDiff.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

using wgtest::RunProgram;

struct Box {
  int x0 = 1 << 30, y0 = 1 << 30, x1 = -1, y1 = -1;
  int count = 0;
  void add(int x, int y) {
    x0 = std::min(x0, x);
    x1 = std::max(x1, x);
    y0 = std::min(y0, y);
    y1 = std::max(y1, y);
    ++count;
  }
  int width() const { return x1 - x0 + 1; }
  int height() const { return y1 - y0 + 1; }
};

// The pixels of a picture that pass `test`, within rows [top, bottom).
template <class Test>
Box find(const wgtest::Picture& p, Test test, int top = 0, int bottom = -1) {
  Box b;
  if (bottom < 0) bottom = p.h;
  for (int y = top; y < bottom; ++y)
    for (int x = 0; x < p.w; ++x) {
      const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
      if (test(c[0], c[1], c[2])) b.add(x, y);
    }
  return b;
}

// The tree's needles and trunk: darker than sky and snow, and greener than red.
bool treePixel(int r, int g, int b) {
  return r < 110 && g < 140 && b < 140 && g > r + 8;
}
// The greeting's red letters.
bool greetingPixel(int r, int g, int b) {
  return r > 200 && g < 60 && b < 60;
}

// The picture's edges, all four, are sky or snow: nothing darker than the sky (127, 127, 180), so no
// bar of any colour.
int darkestEdge(const wgtest::Picture& p) {
  int darkest = 255 * 3;
  auto at = [&](int x, int y) {
    const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
    darkest = std::min(darkest, c[0] + c[1] + c[2]);
  };
  for (int x = 0; x < p.w; ++x) at(x, 0), at(x, p.h - 1);
  for (int y = 0; y < p.h; ++y) at(0, y), at(p.w - 1, y);
  return darkest;
}

// The height of the first letter of the greeting: in its first line (the red rows from its top to
// the first row without red), the red columns from its left edge up to the first column without red.
int firstLetterHeight(const wgtest::Picture& p, const Box& text) {
  const auto red = [&](int x, int y) {
    const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
    return greetingPixel(c[0], c[1], c[2]);
  };
  int lineEnd = text.y0;
  while (lineEnd <= text.y1) {
    bool any = false;
    for (int x = text.x0; x <= text.x1 && !any; ++x) any = red(x, lineEnd);
    if (!any) break;
    ++lineEnd;
  }
  Box letter;
  for (int x = text.x0; x <= text.x1; ++x) {
    bool any = false;
    for (int y = text.y0; y < lineEnd; ++y) {
      const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
      if (greetingPixel(c[0], c[1], c[2])) {
        letter.add(x, y);
        any = true;
      }
    }
    if (!any && letter.count > 0) break;
  }
  return letter.height();
}

wgtest::Picture frame(const std::string& dir, const std::string& name, const std::string& args) {
  const std::string png = dir + "/" + name + ".png";
  EXPECT_EQ(RunProgram("--headless --frames 30 --screenshot " + png + " " + args, dir + "/" + name + ".log"), 0)
      << wgtest::Slurp(dir + "/" + name + ".log");
  return wgtest::LoadPng(png);
}

struct Shape {
  const char* size;
  int w, h;
};

TEST(FrameShape, TheTreeIsWholeAndCentralTheTextReadableAndNothingIsBarred) {
  const std::string dir = wgtest::ScratchDir("frame-shape");
  const wgtest::Picture picture = frame(dir, "picture", "");
  ASSERT_EQ(picture.w, 1024);
  const Box pictureTree = find(picture, treePixel);
  ASSERT_GT(pictureTree.count, 1000);
  const double pictureShare = static_cast<double>(pictureTree.width()) / picture.w;

  for (const Shape s : {Shape{"1080x1920", 1080, 1920}, Shape{"1080x1080", 1080, 1080},
                        Shape{"1920x1080", 1920, 1080}, Shape{"320x1080", 320, 1080}}) {
    SCOPED_TRACE(s.size);
    const wgtest::Picture p = frame(dir, s.size, std::string("--size ") + s.size);
    ASSERT_EQ(p.w, s.w);
    ASSERT_EQ(p.h, s.h);
    EXPECT_GE(darkestEdge(p), 127 + 127 + 180);

    const Box tree = find(p, treePixel);
    ASSERT_GT(tree.count, 500);
    // Whole: clear of every edge. Central: its middle within 2 % of the frame's.
    EXPECT_GT(tree.x0, p.w / 20);
    EXPECT_LT(tree.x1, p.w - p.w / 20);
    EXPECT_GT(tree.y0, p.h / 20);
    EXPECT_LT(tree.y1, p.h - p.h / 20);
    EXPECT_NEAR((tree.x0 + tree.x1) / 2.0, p.w / 2.0, p.w * 0.02);
    EXPECT_NEAR((tree.y0 + tree.y1) / 2.0, p.h / 2.0, p.h * 0.04);
    // An upright or square frame shows the tree at least as wide a share as the picture does, and
    // never more than about half the width.
    const double share = static_cast<double>(tree.width()) / p.w;
    if (p.w <= p.h) {
      EXPECT_GE(share, pictureShare);
    }
    EXPECT_LT(share, 0.55);
    // The scene keeps the picture's look: the tree as tall a share of the height, and as wide for its
    // height, except where a very narrow frame stops narrowing the view to keep the tree whole.
    EXPECT_NEAR(static_cast<double>(tree.height()) / p.h, static_cast<double>(pictureTree.height()) / 768, 0.01);
    if (p.w * 3 >= p.h) {
      EXPECT_NEAR(static_cast<double>(tree.width()) / tree.height(),
                  static_cast<double>(pictureTree.width()) / pictureTree.height(), 0.1);
    }

    // The greeting, above the credit line's place, inside the frame, its capitals at least 2.5 %
    // of the frame's height.
    const Box text = find(p, greetingPixel, 0, p.h * 200 / 768);
    ASSERT_GT(text.count, 200);
    EXPECT_GE(text.x0, 1);
    EXPECT_LE(text.x1, p.w - 2);
    EXPECT_GE(firstLetterHeight(p, text), 0.025 * p.h);
  }
}

TEST(FrameShape, ALongGreetingWrapsInsideANarrowFrame) {
  const std::string dir = wgtest::ScratchDir("frame-shape-card");
  const std::string greeting = "Happy New Year to all of you, with love from all of us in Tbilisi";
  const wgtest::Picture p = frame(dir, "portrait", "--size 1080x1920 --greeting '" + greeting + "'");
  ASSERT_EQ(p.w, 1080);
  const Box text = find(p, greetingPixel, 0, p.h * 200 / 768);
  ASSERT_GT(text.count, 500);
  // Kept off the edges by the frame's margin (2 % of its width), and on more than one line.
  EXPECT_GE(text.x0, 1080 / 50 - 1);
  EXPECT_LE(text.x1, 1080 - 1080 / 50);
  EXPECT_GT(text.height(), 2 * firstLetterHeight(p, text));
  EXPECT_GE(firstLetterHeight(p, text), 0.025 * p.h);

  // The same line in the picture keeps its one line there.
  const wgtest::Picture wide = frame(dir, "picture", "--greeting '" + greeting + "'");
  const Box one = find(wide, greetingPixel, 0, 200);
  EXPECT_LT(one.height(), 2 * firstLetterHeight(wide, one));
}

// 1024 x 768 asked for by name is the picture itself, byte for byte.
TEST(FrameShape, ThePicturesOwnSizeIsThePicture) {
  const std::string dir = wgtest::ScratchDir("frame-shape-same");
  ASSERT_EQ(RunProgram("--headless --frames 5 --screenshot " + dir + "/a.png", dir + "/a.log"), 0);
  ASSERT_EQ(RunProgram("--headless --frames 5 --size 1024x768 --screenshot " + dir + "/b.png", dir + "/b.log"), 0);
  EXPECT_EQ(wgtest::Slurp(dir + "/a.png"), wgtest::Slurp(dir + "/b.png"));
}

// A line that cannot fit the frame, even wrapped, is refused before anything is drawn.
TEST(FrameShape, AWordWiderThanTheFrameIsRefusedNamingTheSize) {
  const std::string dir = wgtest::ScratchDir("frame-shape-refused");
  const std::string word(40, 'W');
  EXPECT_EQ(RunProgram("--headless --size 320x1080 --screenshot " + dir + "/x.png --greeting " + word, dir + "/log"), 2);
  const std::string log = wgtest::Slurp(dir + "/log");
  EXPECT_EQ(log.find("winter-greeting: --size 320x1080: the line \"WWWW"), 0u) << log;
  EXPECT_NE(log.find("holds a word"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(dir + "/x.png"));
}

// --poster writes the still 3 seconds in as a JPEG of the frame's size; on its own it draws only
// the frames up to it.
TEST(FrameShape, ThePosterIsAJpegOfTheFrameThreeSecondsIn) {
  const std::string dir = wgtest::ScratchDir("frame-shape-poster");
  ASSERT_EQ(RunProgram("--poster " + dir + "/p.jpg --size 1080x1080", dir + "/log"), 0) << wgtest::Slurp(dir + "/log");
  EXPECT_EQ(wgtest::Slurp(dir + "/log"), "Wrote the still of frame 91 to " + dir + "/p.jpg\n");
  const std::string jpeg = wgtest::Slurp(dir + "/p.jpg");
  EXPECT_EQ(jpeg.substr(0, 3), "\xFF\xD8\xFF");
  // The baseline frame header (SOF0) holds the height, then the width.
  const std::size_t sof = jpeg.find("\xFF\xC0");
  ASSERT_NE(sof, std::string::npos);
  const auto u16 = [&](std::size_t at) {
    return static_cast<unsigned char>(jpeg[at]) * 256 + static_cast<unsigned char>(jpeg[at + 1]);
  };
  EXPECT_EQ(u16(sof + 5), 1080);
  EXPECT_EQ(u16(sof + 7), 1080);

  // Within a shorter recording's frames, the last one; the frames folder holds its frames only.
  ASSERT_EQ(RunProgram("--frames-dir " + dir + "/frames --seconds 1 --fps 10 --poster " + dir + "/short.jpg",
                dir + "/log2"),
            0)
      << wgtest::Slurp(dir + "/log2");
  EXPECT_NE(wgtest::Slurp(dir + "/log2").find("Wrote the still of frame 10 to"), std::string::npos);
  EXPECT_TRUE(fs::exists(dir + "/short.jpg"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/frames"), fs::directory_iterator{}), 10);

  // A folder that is not there: refused naming the option, nothing written.
  EXPECT_EQ(RunProgram("--poster " + dir + "/none/p.jpg", dir + "/log3"), 2);
  EXPECT_EQ(wgtest::Slurp(dir + "/log3"),
            "winter-greeting: --poster: cannot write " + dir + "/none/p.jpg: no folder " + dir + "/none\n");
}

}  // namespace
