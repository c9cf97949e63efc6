// Recordings made to fit a messenger's limit (--max-size): under the limit with all their length, in
// a profile and level phones play, and a limit too small refused before anything is drawn.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/files/AtomicOutput.h"
#include "platform/video/Mp4Writer.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"

namespace {

namespace fs = std::filesystem;

// Runs the program with `args` and its output in `log`; the exit code, or -1 when it is still running
// after `seconds` (then it is stopped).
int record(const std::vector<std::string>& args, const std::string& log, double seconds) {
  std::vector<std::string> argv{wgtest::AppDir() + "/winter-greeting"};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = wgtest::Spawn(argv, log);
  const auto status = wgtest::WaitExit(pid, seconds);
  wgtest::Stop(pid);
  return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
}

// Thirty seconds upright for a story, under 8 MB: the whole length, sound and picture, in H.264's Main
// profile at a level phones decode (4.0: the frame is 8160 macroblocks, 30 times a second).
TEST(MaxSize, AThirtySecondPhoneVideoStaysUnderEightMegabytesAndPlaysWhole) {
  const std::string dir = wgtest::ScratchDir("max-size-mp4");
  const std::string mp4 = dir + "/story.mp4";
  ASSERT_EQ(record({"--record", mp4, "--max-size", "8M", "--seconds", "30", "--size", "1080x1920"},
                   dir + "/log", 900),
            0)
      << wgtest::Slurp(dir + "/log");
  EXPECT_FALSE(fs::exists(platform::PartialName(mp4)));
  const auto bytes = fs::file_size(mp4);
  EXPECT_LT(bytes, 8'000'000u);
  // The limit is spent on the picture, not left over: a constant quality would come to about 4 MB.
  EXPECT_GT(bytes, 6'500'000u);
  const video::Mp4Info info = video::ProbeMp4(mp4, false);
  EXPECT_EQ(info.width, 1080);
  EXPECT_EQ(info.height, 1920);
  EXPECT_EQ(info.videoFrames, 900);
  EXPECT_NEAR(info.videoSeconds, 30.0, 1.0 / 30 + 1e-9);
  EXPECT_NEAR(info.audioSeconds, 30.0, 0.05);
  EXPECT_EQ(info.profile, "Main");
  EXPECT_GT(info.level, 0);
  EXPECT_LE(info.level, 42);
}

// VP9's rate control keeps a WebM under its limit too, and the file still holds every frame.
TEST(MaxSize, AWebMStaysUnderItsLimit) {
  const std::string dir = wgtest::ScratchDir("max-size-webm");
  const std::string webm = dir + "/greeting.webm";
  ASSERT_EQ(record({"--record", webm, "--max-size", "600K", "--seconds", "3"}, dir + "/log", 300), 0)
      << wgtest::Slurp(dir + "/log");
  const auto bytes = fs::file_size(webm);
  EXPECT_LT(bytes, 600'000u);
  EXPECT_GT(bytes, 400'000u);
  const video::Mp4Info info = video::ProbeMp4(webm, true);
  EXPECT_EQ(info.videoCodec, "vp9");
  EXPECT_EQ(info.videoFrames, 90);
  EXPECT_NEAR(info.audioSeconds, 3.0, 0.05);
}

// A limit below the lowest quality is refused as a bad command line (before a frame is drawn) with
// the smallest size that would do.
TEST(MaxSize, ALimitTooSmallIsRefusedWithTheSmallestSizeAndLeavesNothing) {
  const std::string dir = wgtest::ScratchDir("max-size-small");
  const std::string log = dir + "/../max-size-small.log";
  EXPECT_EQ(record({"--record", dir + "/x.mp4", "--max-size", "10K", "--seconds", "30"}, log, 60), 2);
  EXPECT_EQ(
      wgtest::Slurp(log),
      "winter-greeting: --max-size 10K is too small for 30 s of 1024x768 at 30 fps: the smallest file is "
      "1.9M (1 900 000 bytes)\n");

  // A number without its unit, and a limit with nothing to record, are refused by the command line.
  EXPECT_EQ(record({"--record", dir + "/x.mp4", "--max-size", "8"}, log, 60), 2);
  EXPECT_EQ(wgtest::Slurp(log).find("winter-greeting: --max-size takes a size with its unit"), 0u)
      << wgtest::Slurp(log);
  EXPECT_EQ(record({"--headless", "--max-size", "8M"}, log, 60), 2);
  EXPECT_EQ(wgtest::Slurp(log).find("winter-greeting: --max-size needs --record"), 0u) << wgtest::Slurp(log);
  EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
