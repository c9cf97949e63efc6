// Recording the greeting: an MP4 that players open, the same frames every run, and nothing left
// behind by a bad request.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <fstream>
#include <iterator>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/Capture.h"
#include "platform/video/Mp4Writer.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

int run(const std::string& args, const std::string& log) {
  const std::string cmd = wgtest::AppDir() + "/winter-greeting " + args + " >" + log + " 2>&1";
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

TEST(Capture, ThreeSecondsBecomeAnH264VideoWithItsMusic) {
  const std::string dir = wgtest::ScratchDir("capture-mp4");
  const std::string mp4 = dir + "/greeting.mp4";
  ASSERT_EQ(run("--record " + mp4 + " --seconds 3 --fps 30", dir + "/log"), 0);
  ASSERT_TRUE(fs::exists(mp4));
  EXPECT_FALSE(fs::exists(app::PartialName(mp4)));
  const video::Mp4Info info = video::ProbeMp4(mp4, false);
  EXPECT_EQ(info.videoCodec, "h264");
  EXPECT_EQ(info.width, 1024);
  EXPECT_EQ(info.height, 768);
  EXPECT_DOUBLE_EQ(info.fps, 30.0);
  EXPECT_EQ(info.videoFrames, 90);
  EXPECT_NEAR(info.videoSeconds, 3.0, 1.0 / 30 + 1e-9);
  EXPECT_EQ(info.audioCodec, "aac");
  EXPECT_NEAR(info.audioSeconds, info.videoSeconds, 1.0 / 30 + 0.03);  // within a frame (and one AAC frame)
  EXPECT_GT(info.audioRms, 0.003);                                     // the tune, not silence
  // Its output went to a file, not a terminal: no progress line, only the closing word.
  std::ifstream in(dir + "/log");
  const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(log, "Wrote " + mp4 + "\n");
}

TEST(Capture, TwoRunsGiveTheSameFrames) {
  const std::string dir = wgtest::ScratchDir("capture-twice");
  ASSERT_EQ(run("--record " + dir + "/a.mp4 --seconds 1 --fps 20", dir + "/log"), 0);
  ASSERT_EQ(run("--record " + dir + "/b.mp4 --seconds 1 --fps 20", dir + "/log"), 0);
  const auto a = video::ProbeMp4(dir + "/a.mp4", true);
  const auto b = video::ProbeMp4(dir + "/b.mp4", true);
  ASSERT_EQ(a.frameHashes.size(), 20u);
  EXPECT_EQ(a.frameHashes, b.frameHashes);
  EXPECT_NE(a.frameHashes.front(), a.frameHashes.back());  // the scene moves
}

TEST(Capture, FramesDirGetsNumberedPngs) {
  const std::string dir = wgtest::ScratchDir("capture-frames");
  ASSERT_EQ(run("--frames-dir " + dir + "/frames --seconds 0.5 --fps 10", dir + "/log"), 0);
  for (int i = 1; i <= 5; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frames/frame-%05d.png", i);
    EXPECT_TRUE(fs::exists(dir + name)) << name;
  }
  EXPECT_FALSE(fs::exists(dir + "/frames/frame-00006.png"));
  // Opaque, as the picture on screen is.
  int w = 0, h = 0, c = 0;
  unsigned char* px = stbi_load((dir + "/frames/frame-00001.png").c_str(), &w, &h, &c, 4);
  ASSERT_NE(px, nullptr);
  std::size_t translucent = 0;
  for (std::size_t i = 3; i < static_cast<std::size_t>(w) * h * 4; i += 4) translucent += px[i] != 255;
  stbi_image_free(px);
  EXPECT_EQ(translucent, 0u);
}

TEST(Capture, BadRequestsFailBeforeRenderingAndLeaveNothing) {
  const std::string dir = wgtest::ScratchDir("capture-bad");
  EXPECT_NE(run("--record " + dir + "/missing/folder/x.mp4 --seconds 1", dir + "/log"), 0);
  EXPECT_FALSE(fs::exists(dir + "/missing"));
  EXPECT_NE(run("--record " + dir + " --seconds 1", dir + "/log"), 0);  // a folder, not a file
  EXPECT_EQ(run("--record " + dir + "/x.mp4 --seconds 0", dir + "/log"), 2);
  EXPECT_EQ(run("--record " + dir + "/x.mp4 --seconds -3", dir + "/log"), 2);
  EXPECT_EQ(run("--record " + dir + "/x.mp4 --seconds 1e9", dir + "/log"), 2);
  EXPECT_EQ(run("--record " + dir + "/x.mp4 --fps 0", dir + "/log"), 2);
  EXPECT_EQ(run("--record " + dir + "/x.mp4 --fps 100000", dir + "/log"), 2);
  EXPECT_EQ(run("--seconds 3", dir + "/log"), 2);
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.path().filename() != "log";
  EXPECT_EQ(entries, 0u);
}

}  // namespace
