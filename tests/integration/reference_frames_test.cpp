// The default run, as a user starts it headless, must keep drawing exactly the frames it always has:
// frames 1, 130 and 600 are compared, colour channel by colour channel, with the pictures kept in
// tests/data/reference.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/support/FrameDiff.h"
#include "tests/support/Harness.h"

namespace {

class ReferenceFrames : public testing::TestWithParam<int> {};

TEST_P(ReferenceFrames, TheDefaultRunDrawsTheReferencePicture) {
  const int frame = GetParam();
  const std::string dir = wgtest::ScratchDir("reference-" + std::to_string(frame));
  const std::string png = dir + "/frame.png";
  const std::string cmd = wgtest::AppDir() + "/winter-greeting --headless --frames " + std::to_string(frame) +
                          " --screenshot " + png + " >" + dir + "/log 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  const wgtest::Picture got = wgtest::LoadPng(png);
  const wgtest::Picture want = wgtest::LoadPng(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-" +
                                               std::to_string(frame) + ".png");
  ASSERT_EQ(want.w, 1024);
  ASSERT_EQ(want.h, 768);
  ASSERT_EQ(got.w, want.w);
  ASSERT_EQ(got.h, want.h);
  std::size_t differing = 0, first = 0;
  for (std::size_t i = 0; i < want.rgb.size(); i += 3) {
    if (got.rgb[i] != want.rgb[i] || got.rgb[i + 1] != want.rgb[i + 1] || got.rgb[i + 2] != want.rgb[i + 2]) {
      if (differing++ == 0) first = i / 3;
    }
  }
  EXPECT_EQ(differing, 0u) << "first differing pixel at (" << first % 1024 << ", " << first / 1024
                           << "); the picture is kept in " << png;
}

INSTANTIATE_TEST_SUITE_P(Frames, ReferenceFrames, testing::Values(1, 130, 600));

}  // namespace
