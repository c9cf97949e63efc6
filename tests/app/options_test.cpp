#include "app/Options.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "tests/support/Harness.h"

namespace {

app::Options parse(std::vector<std::string> args) {
  return wgtest::ParseArgs(std::move(args));
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

TEST(Options, TheCardOptionsParseAndExcludeWhatMakesNoSense) {
  const auto o = parse({"--card", "c", "--greeting", "", "--credit", "a", "--credit", "b", "--tune", "t.mid",
                        "--model", "m.x", "--ground", "g.png", "--mute"});
  EXPECT_EQ(o.card, "c");
  ASSERT_TRUE(o.greeting);
  EXPECT_EQ(*o.greeting, "");
  EXPECT_EQ(o.credits, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(o.tune, "t.mid");
  EXPECT_EQ(o.model, "m.x");
  EXPECT_EQ(o.ground, "g.png");
  EXPECT_TRUE(o.mute);
  EXPECT_FALSE(parse({}).greeting);
  EXPECT_TRUE(parse({"--headless", "--mute"}).mute);  // nothing to silence, and no harm
  EXPECT_THROW(parse({"--credit", ""}), std::invalid_argument);
  EXPECT_THROW(parse({"--credit", "a", "--no-credits"}), std::invalid_argument);
  EXPECT_THROW(parse({"--card", ""}), std::invalid_argument);
  EXPECT_THROW(parse({"--tune"}), std::invalid_argument);
  EXPECT_THROW(parse({"--record", "x.mp4", "--mute"}), std::invalid_argument);
}

}  // namespace
