// A tree someone chose, in each format people have, drawn by the program as a user runs it: it
// stands where the application's tree stands, as tall, upright, in its own colours.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "tests/support/DenseConeGlb.h"
#include "tests/support/Files.h"
#include "tests/support/FrameDiff.h"
#include "tests/support/Harness.h"

namespace {

using wgtest::Picture;

struct Box {
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
  int reds = 0;  // bauble-red pixels inside
};

// The tree against the sky, between the credit line and the horizon: every pixel far from the sky's
// colour.
Box TreeBox(const Picture& p) {
  Box b;
  for (int y = 250; y < 412; ++y)
    for (int x = 0; x < p.w; ++x) {
      const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
      if (std::abs(c[0] - 127) + std::abs(c[1] - 127) + std::abs(c[2] - 180) < 60) continue;
      b.left = std::min(b.left, x);
      b.right = std::max(b.right, x);
      b.top = std::min(b.top, y);
      b.bottom = std::max(b.bottom, y);
      if (c[0] > c[1] + 50 && c[0] > c[2] + 30) ++b.reds;
    }
  return b;
}

// Each frame in a folder of its own: ScratchDir empties the folder it names, and the tests of this file
// may run side by side.
Picture Frame(const std::string& name, const std::string& model) {
  const std::string dir = wgtest::ScratchDir("model-formats-" + name);
  const std::string png = dir + "/" + name + ".png";
  const int status = wgtest::RunProgram("--headless --frames 130 --model " + model + " --screenshot " + png,
                                        dir + "/" + name + ".log");
  EXPECT_EQ(status, 0) << wgtest::Slurp(dir + "/" + name + ".log");
  return wgtest::LoadPng(png);
}

TEST(ModelFormats, EachFormatStandsWhereTheTreeStandsInItsOwnColours) {
  const Box tree =
      TreeBox(wgtest::LoadPng(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-130.png"));
  ASSERT_GT(tree.right - tree.left, 40);
  const std::string models = wgtest::AppDir() + "/examples-models/";
  const Picture glb = Frame("glb", models + "tree.glb");
  for (const char* file :
       {"tree.glb", "tree.gltf", "tree-embedded.gltf", "tree.obj", "tree-no-normals.glb"}) {
    SCOPED_TRACE(file);
    const Picture p = std::string(file) == "tree.glb" ? glb : Frame(file, models + file);
    const Box b = TreeBox(p);
    // Its base on the ground where the tree's is, centred on the tree's axis, as tall (the
    // application's tree carries a star the example has not: its top is a few rows lower).
    EXPECT_NEAR(b.bottom, tree.bottom, 3);
    EXPECT_NEAR((b.left + b.right) / 2.0, (tree.left + tree.right) / 2.0, 4);
    EXPECT_NEAR(b.bottom - b.top, tree.bottom - tree.top, 0.12 * (tree.bottom - tree.top));
    // Upright: wider at the foot of the crown than near its top.
    int nearTop = 0, lower = 0;
    for (int x = 0; x < p.w; ++x) {
      const auto off = [&](int y) {
        const std::uint8_t* c = &p.rgb[(static_cast<std::size_t>(y) * p.w + x) * 3];
        return std::abs(c[0] - 127) + std::abs(c[1] - 127) + std::abs(c[2] - 180) >= 60;
      };
      nearTop += off(b.top + (b.bottom - b.top) / 6);
      lower += off(b.top + (b.bottom - b.top) * 3 / 4);
    }
    EXPECT_GT(lower, 2 * nearTop);
    // Its red baubles show red: a model's material colours are drawn.
    EXPECT_GE(b.reds, 6);
  }
  // The same model whether its image and data lie inside it, beside it, or in data URIs.
  const Picture gltf = Frame("gltf", models + "tree.gltf");
  const Picture embedded = Frame("embedded", models + "tree-embedded.gltf");
  EXPECT_EQ(wgtest::Compare(gltf, glb, 0, glb.h).max, 0);
  EXPECT_EQ(wgtest::Compare(embedded, glb, 0, glb.h).max, 0);
}

TEST(ModelFormats, AChosenHeightIsStoodAsToldAndNeedsAChosenTree) {
  const std::string models = wgtest::AppDir() + "/examples-models/";
  const Box full = TreeBox(Frame("full", models + "tree.glb"));
  const Box half = TreeBox(Frame("half", models + "tree.glb --model-height 1.1925"));
  EXPECT_NEAR(half.bottom, full.bottom, 2);
  EXPECT_NEAR(half.bottom - half.top, (full.bottom - full.top) / 2.0, 5);
  const std::string dir = wgtest::ScratchDir("model-formats-alone");
  EXPECT_EQ(wgtest::RunProgram("--headless --frames 1 --model-height 2", dir + "/alone.log"), 2);
  EXPECT_NE(
      wgtest::Slurp(dir + "/alone.log").find("--model-height sets the height of a tree given with --model"),
      std::string::npos);
}

// A tree of 100 000 triangles is drawn with the picture's budget, and says so.
TEST(ModelFormats, ADenseTreeIsDrawnSimplifiedAndSaysSo) {
  const std::string dir = wgtest::ScratchDir("model-formats-dense");
  wgtest::WriteFile(dir + "/tree.glb", wgtest::DenseConeGlb(250, 200));
  ASSERT_EQ(wgtest::RunProgram("--headless --frames 1 --model " + dir + "/tree.glb --screenshot " + dir +
                                   "/f.png",
                               dir + "/run.log"),
            0)
      << wgtest::Slurp(dir + "/run.log");
  const std::string log = wgtest::Slurp(dir + "/run.log");
  const std::string said = "note: the tree's 100000 triangles are drawn simplified to ";
  const std::size_t at = log.find(said);
  ASSERT_NE(at, std::string::npos) << log;
  const long drawn = std::strtol(log.c_str() + at + said.size(), nullptr, 10);
  EXPECT_LE(drawn, 8192);
  EXPECT_GT(drawn, 6000);
}

}  // namespace
