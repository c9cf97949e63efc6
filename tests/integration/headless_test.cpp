// The program itself, run headless as a user would.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/Harness.h"

namespace {

std::string exe() {
  return wgtest::AppDir() + "/winter-greeting";
}

int runProgram(const std::string& args, const std::string& log) {
  const std::string cmd = exe() + " " + args + " >" + log + " 2>&1";
  const int rc = std::system(cmd.c_str());
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string slurp(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return {};
  std::string s;
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

TEST(Headless, HelpListsTheOptions) {
  const std::string dir = wgtest::ScratchDir("help");
  EXPECT_EQ(runProgram("--help", dir + "/log"), 0);
  const std::string out = slurp(dir + "/log");
  for (const char* opt : {"--headless", "--frames", "--screenshot", "--window", "--mute", "--card",
                          "--greeting", "--credit", "--no-credits", "--tune", "--model", "--ground"})
    EXPECT_NE(out.find(opt), std::string::npos) << opt;
}

TEST(Headless, UnknownOptionFailsWithAMessage) {
  const std::string dir = wgtest::ScratchDir("bad-option");
  EXPECT_EQ(runProgram("--frobnicate", dir + "/log"), 2);
  EXPECT_NE(slurp(dir + "/log").find("unknown option '--frobnicate'"), std::string::npos);
}

TEST(Headless, WritesTheScreenshotOfTheLastFrame) {
  const std::string dir = wgtest::ScratchDir("screenshot");
  const std::string png = dir + "/out.png";
  ASSERT_EQ(runProgram("--headless --frames 3 --screenshot " + png, dir + "/log"), 0) << slurp(dir + "/log");
  int w = 0, h = 0, c = 0;
  unsigned char* px = stbi_load(png.c_str(), &w, &h, &c, 4);
  ASSERT_NE(px, nullptr);
  EXPECT_EQ(w, 1024);
  EXPECT_EQ(h, 768);
  // The top-right corner is open sky, whatever the scene draws below and in front.
  const unsigned char* p = px + (10 * 1024 + 1000) * 4;
  EXPECT_EQ(p[0], 127);
  EXPECT_EQ(p[1], 127);
  EXPECT_EQ(p[2], 180);
  stbi_image_free(px);
  EXPECT_FALSE(std::filesystem::exists(png + ".tmp"));
}

TEST(Headless, AMissingGroundTextureEndsStartupNamingTheFile) {
  const std::string dir = wgtest::AppDirWithout("headless-no-snow", {"tex/snow.jpg"});
  std::filesystem::copy_file(exe(), dir + "/winter-greeting");
  const std::string cmd = dir + "/winter-greeting --headless --frames 1 >" + dir + "/log 2>&1";
  const int rc = std::system(cmd.c_str());
  EXPECT_NE(WEXITSTATUS(rc), 0);
  EXPECT_NE(slurp(dir + "/log").find(dir + "/tex/snow.jpg"), std::string::npos) << slurp(dir + "/log");
}

TEST(Headless, WithoutADisplayTheProgramSaysToUseHeadless) {
  const std::string dir = wgtest::ScratchDir("no-display");
  const std::string cmd =
      "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER " + exe() + " --window >" + dir + "/log 2>&1";
  const int rc = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  const std::string log = slurp(dir + "/log");
  EXPECT_NE(log.find("no display is available: run with --headless"), std::string::npos) << log;
  // It stops at the window, before the device or the music are set up.
  EXPECT_EQ(log.find("InitAudio"), std::string::npos) << log;
}

}  // namespace
