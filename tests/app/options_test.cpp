#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "app/Options.h"

namespace {

app::Options parse(std::vector<std::string> args) {
  std::vector<char*> argv;
  static std::string prog = "winter-greeting";
  argv.push_back(prog.data());
  for (auto& a : args) argv.push_back(a.data());
  return app::ParseOptions(static_cast<int>(argv.size()), argv.data());
}

TEST(Options, NoArgumentsIsTheFullscreenDemo) {
  const auto o = parse({});
  EXPECT_FALSE(o.headless);
  EXPECT_FALSE(o.windowed);
  EXPECT_FALSE(o.help);
}

TEST(Options, HeadlessWithFramesAndScreenshot) {
  const auto o = parse({"--headless", "--frames", "3", "--screenshot", "out.png"});
  EXPECT_TRUE(o.headless);
  EXPECT_EQ(o.frames, 3);
  EXPECT_EQ(o.screenshot, "out.png");
  EXPECT_EQ(parse({"--headless"}).frames, 1);
}

TEST(Options, BadInputIsRefused) {
  EXPECT_THROW(parse({"--frames", "3"}), std::invalid_argument);  // needs --headless
  EXPECT_THROW(parse({"--headless", "--frames", "0"}), std::invalid_argument);
  EXPECT_THROW(parse({"--headless", "--frames", "-4"}), std::invalid_argument);
  EXPECT_THROW(parse({"--headless", "--frames", "3x"}), std::invalid_argument);
  EXPECT_THROW(parse({"--headless", "--frames"}), std::invalid_argument);
  EXPECT_THROW(parse({"--bogus"}), std::invalid_argument);
  EXPECT_THROW(parse({"--headless", "--window"}), std::invalid_argument);
}

TEST(Options, RecordingDefaultsToThirtySecondsAtThirtyFrames) {
  const auto o = parse({"--record", "greeting.mp4"});
  EXPECT_EQ(o.record, "greeting.mp4");
  EXPECT_TRUE(o.Capture());
  EXPECT_DOUBLE_EQ(o.seconds, 30.0);
  EXPECT_EQ(o.fps, 30);
  const auto f = parse({"--frames-dir", "frames", "--seconds", "2.5", "--fps", "24"});
  EXPECT_EQ(f.framesDir, "frames");
  EXPECT_DOUBLE_EQ(f.seconds, 2.5);
  EXPECT_EQ(f.fps, 24);
  EXPECT_THROW(parse({"--record", "a.mp4", "--frames-dir", "frames"}), std::invalid_argument);
}

}  // namespace
