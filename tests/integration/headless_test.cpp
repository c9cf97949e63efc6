// The program itself, run headless as a user would.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

#include "tests/support/Files.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"

namespace {

std::string exe() {
  return wgtest::AppDir() + "/winter-greeting";
}

using wgtest::RunProgram;

TEST(Headless, HelpListsTheOptions) {
  const std::string dir = wgtest::ScratchDir("help");
  EXPECT_EQ(RunProgram("--help", dir + "/log"), 0);
  const std::string out = wgtest::Slurp(dir + "/log");
  for (const char* opt : {"--headless", "--frames", "--screenshot", "--window", "--mute", "--card",
                          "--greeting", "--credit", "--no-credits", "--tune", "--model", "--ground"})
    EXPECT_NE(out.find(opt), std::string::npos) << opt;
}

TEST(Headless, UnknownOptionFailsWithAMessage) {
  const std::string dir = wgtest::ScratchDir("bad-option");
  EXPECT_EQ(RunProgram("--frobnicate", dir + "/log"), 2);
  EXPECT_NE(wgtest::Slurp(dir + "/log").find("unknown option '--frobnicate'"), std::string::npos);
}

TEST(Headless, WritesTheScreenshotOfTheLastFrame) {
  const std::string dir = wgtest::ScratchDir("screenshot");
  const std::string png = dir + "/out.png";
  ASSERT_EQ(RunProgram("--headless --frames 3 --screenshot " + png, dir + "/log"), 0)
      << wgtest::Slurp(dir + "/log");
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
  // The picture as a person sees it: opaque everywhere, around the greeting's letters too.
  std::size_t translucent = 0, red = 0;
  for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h * 4; i += 4) {
    translucent += px[i + 3] != 255;
    red += px[i] > 200 && px[i + 1] < 50 && px[i + 2] < 50;
  }
  EXPECT_EQ(translucent, 0u);
  EXPECT_GT(red, 200u);
  stbi_image_free(px);
  EXPECT_FALSE(std::filesystem::exists(png + ".tmp"));
}

// A screenshot that cannot be written fails at once, before a single frame: 100 million frames would
// take days.
TEST(Headless, AScreenshotNobodyCanWriteFailsBeforeRendering) {
  const std::string dir = wgtest::ScratchDir("screenshot-early");
  using Case = std::pair<std::string, std::string>;
  for (const auto& [file, why] :
       {Case{dir + "/missing/out.png", ": no folder " + dir + "/missing"}, Case{dir, ": it is a folder"}}) {
    SCOPED_TRACE(file);
    const pid_t pid = wgtest::Spawn({exe(), "--headless", "--frames", "100000000", "--screenshot", file},
                                    dir + "/../early.log");
    const auto status = wgtest::WaitExit(pid, 60);
    wgtest::Stop(pid);
    ASSERT_TRUE(status.has_value()) << "still rendering";
    EXPECT_EQ(WEXITSTATUS(*status), 2);
    EXPECT_EQ(wgtest::Slurp(dir + "/../early.log"), "winter-greeting: --screenshot: cannot write " + file + why + "\n");
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// Where fontconfig answers "Arial" with a face of other widths, one warning names the face drawn.
TEST(Headless, ASubstitutedFaceIsNamedInOneWarning) {
  const std::string fonts = "/usr/share/fonts/truetype/dejavu";
  if (!std::filesystem::exists(fonts + "/DejaVuSans-Bold.ttf"))
    GTEST_SKIP() << "fonts-dejavu-core is not installed";
  const std::string dir = wgtest::ScratchDir("font-substituted");
  std::ofstream(dir + "/fonts.conf") << "<?xml version=\"1.0\"?>\n<fontconfig><dir>" << fonts
                                     << "</dir><cachedir>" << dir << "</cachedir></fontconfig>\n";
  ASSERT_EQ(RunProgram("--headless --frames 2", dir + "/plain.log"), 0);
  EXPECT_EQ(wgtest::Slurp(dir + "/plain.log"), "");  // Liberation Sans: nothing to say
  const std::string cmd =
      "FONTCONFIG_FILE=" + dir + "/fonts.conf " + exe() + " --headless --frames 2 >" + dir + "/log 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << wgtest::Slurp(dir + "/log");
  const std::string log = wgtest::Slurp(dir + "/log");
  EXPECT_EQ(log.find("Warning: the font \"Arial\" is not installed: the text is drawn in \"DejaVu Sans\""),
            0u)
      << log;
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

TEST(Headless, AMissingGroundTextureEndsStartupNamingTheFile) {
  const std::string dir = wgtest::AppDirWithout("headless-no-snow", {"tex/snow.jpg"});
  std::filesystem::copy_file(exe(), dir + "/winter-greeting");
  const std::string cmd = dir + "/winter-greeting --headless --frames 1 >" + dir + "/log 2>&1";
  const int rc = std::system(cmd.c_str());
  EXPECT_NE(WEXITSTATUS(rc), 0);
  EXPECT_NE(wgtest::Slurp(dir + "/log").find(dir + "/tex/snow.jpg"), std::string::npos)
      << wgtest::Slurp(dir + "/log");
}

TEST(Headless, WithoutADisplayTheProgramSaysToUseHeadless) {
  const std::string dir = wgtest::ScratchDir("no-display");
  const std::string cmd =
      "env -u DISPLAY -u WAYLAND_DISPLAY -u SDL_VIDEODRIVER " + exe() + " --window >" + dir + "/log 2>&1";
  const int rc = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  const std::string log = wgtest::Slurp(dir + "/log");
  EXPECT_NE(log.find("no display is available: run with --headless"), std::string::npos) << log;
  // It stops at the window, before the device or the music are set up.
  EXPECT_EQ(log.find("InitAudio"), std::string::npos) << log;
}

}  // namespace
