// File names as Windows sees them: the exact path first, then each component matched without regard
// to case, backslashes as separators, and a documented choice when two entries match.
#include "platform/files/FileName.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

class FileNames : public ::testing::Test {
 protected:
  void SetUp() override {
    // One folder per test: ctest runs them side by side.
    dir = wgtest::ScratchDir(std::string("filenames-") +
                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir + "/Textures/Sub");
    for (const char* f :
         {"bark.JPG", "Textures/Rock.bmp", "Textures/Sub/leaf.png", "Tex.bmp", "tex.BMP", "TEX.bmp"})
      std::ofstream(dir + "/" + f) << f;
  }
  std::string dir;
};

TEST_F(FileNames, AnExactPathIsTakenAsItIs) {
  const auto f = platform::FindFile(dir + "/tex.BMP");
  EXPECT_EQ(f.path, dir + "/tex.BMP");
  EXPECT_EQ(f.note, "");
  EXPECT_EQ(platform::FindFileIn(dir, "TEX.bmp").path, dir + "/TEX.bmp");
}

TEST_F(FileNames, EachComponentMatchesWithoutRegardToCaseAndBackslashesSeparate) {
  auto f = platform::FindFileIn(dir, "BARK.jpg");
  EXPECT_EQ(f.path, dir + "/bark.JPG");
  EXPECT_EQ(f.note, "\"BARK.jpg\" matched \"bark.JPG\" ignoring case");
  // Folders too, with backslashes, doubled ones and forward slashes alike.
  EXPECT_EQ(platform::FindFileIn(dir, "textures\\ROCK.BMP").path, dir + "/Textures/Rock.bmp");
  EXPECT_EQ(platform::FindFileIn(dir, "TEXTURES\\\\sub/LEAF.PNG").path, dir + "/Textures/Sub/leaf.png");
  EXPECT_EQ(platform::FindFileIn(dir, ".\\Textures\\.\\Rock.bmp").path, dir + "/Textures/Rock.bmp");
  // A leading separator still means the folder given.
  EXPECT_EQ(platform::FindFileIn(dir, "\\textures\\rock.bmp").path, dir + "/Textures/Rock.bmp");
  // A whole path the same way.
  EXPECT_EQ(platform::FindFile(dir + "\\TEXTURES\\rock.BMP").path, dir + "/Textures/Rock.bmp");
}

TEST_F(FileNames, OfSeveralMatchesTheFirstInByteOrderIsTakenAndNamed) {
  // "TEX.bmp" < "Tex.bmp" < "tex.BMP": capitals go first.
  const auto f = platform::FindFileIn(dir, "tEX.Bmp");
  EXPECT_EQ(f.path, dir + "/TEX.bmp");
  EXPECT_EQ(
      f.note,
      "\"tEX.Bmp\" matched \"TEX.bmp\" ignoring case (the first in byte order of 3: \"TEX.bmp\" \"Tex.bmp\" "
      "\"tex.BMP\")");
}

TEST_F(FileNames, WhatIsMissingIsNamedWithItsFolder) {
  auto f = platform::FindFileIn(dir, "Textures\\Moss.bmp");
  EXPECT_FALSE(f.found());
  EXPECT_EQ(f.note, "no file named \"Moss.bmp\" in " + dir + "/Textures, in any case");
  f = platform::FindFileIn(dir, "Maps\\Rock.bmp");
  EXPECT_EQ(f.note, "no folder named \"Maps\" in " + dir + ", in any case");
  // A file is no folder to look into.
  EXPECT_FALSE(platform::FindFileIn(dir, "bark.jpg\\x.png").found());
  EXPECT_EQ(platform::FindFileIn(dir + "/none", "a.bmp").note, "no folder " + dir + "/none");
  EXPECT_EQ(platform::FindFileIn(dir, "").note, "no file name");
}

}  // namespace
