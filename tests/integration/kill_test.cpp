// A run killed in the middle leaves nothing behind: no half-written video, no stray files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "app/Capture.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"

namespace {

namespace fs = std::filesystem;

void killMidRecord(int sig) {
  const std::string dir = wgtest::ScratchDir("kill-record-" + std::to_string(sig));
  const std::string mp4 = dir + "/greeting.mp4";
  const pid_t pid = wgtest::Spawn(
      {wgtest::AppDir() + "/winter-greeting", "--record", mp4, "--seconds", "120"}, dir + "/../kill.log");
  ASSERT_GT(pid, 0);
  // Mid-record: the temporary file exists and is growing.
  ASSERT_TRUE(wgtest::WaitFor(
      [&] { return fs::exists(app::PartialName(mp4)) && fs::file_size(app::PartialName(mp4)) > 0; }, 60));
  kill(pid, sig);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_FALSE(fs::exists(mp4));
  EXPECT_TRUE(fs::is_empty(dir)) << "left behind in " << dir;
}

TEST(Kill, TerminatedMidRecordLeavesNothing) { killMidRecord(SIGTERM); }
TEST(Kill, InterruptedMidRecordLeavesNothing) { killMidRecord(SIGINT); }

TEST(Kill, KilledHeadlessRunLeavesNoScreenshotBehind) {
  const std::string dir = wgtest::ScratchDir("kill-headless");
  const pid_t pid = wgtest::Spawn({wgtest::AppDir() + "/winter-greeting", "--headless", "--frames",
                                   "100000000", "--screenshot", dir + "/shot.png"},
                                  dir + "/../kill-headless.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
