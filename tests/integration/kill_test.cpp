// A run killed in the middle leaves nothing behind: no half-written video or picture, no stray files.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files/AtomicOutput.h"
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
      [&] { return fs::exists(platform::PartialName(mp4)) && fs::file_size(platform::PartialName(mp4)) > 0; },
      60));
  kill(pid, sig);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_FALSE(fs::exists(mp4));
  EXPECT_TRUE(fs::is_empty(dir)) << "left behind in " << dir;
}

TEST(Kill, TerminatedMidRecordLeavesNothing) {
  killMidRecord(SIGTERM);
}
TEST(Kill, InterruptedMidRecordLeavesNothing) {
  killMidRecord(SIGINT);
}

std::string AsanOptionsWith(const std::string& option) {
  const char* set = std::getenv("ASAN_OPTIONS");
  return set && *set ? std::string(set) + ":" + option : option;
}

// A headless run stopped in the middle of writing its screenshot: the picture is in the temporary file,
// not yet flushed nor under its name. Returns the run's id, or -1 when it never got there.
pid_t StopWhileTheScreenshotIsWritten(const std::string& shot, const std::string& log) {
  const pid_t pid = wgtest::Spawn(
      {wgtest::AppDir() + "/winter-greeting", "--headless", "--frames", "3", "--screenshot", shot}, log,
      {{"LD_PRELOAD", WG_STOP_AT_FSYNC_LIB},
       {"WG_STOP_AT_FSYNC", platform::PartialName(shot)},
       // In the sanitizer build the preloaded library comes before the sanitizer's runtime, which
       // the runtime refuses unless told that the order is meant.
       {"ASAN_OPTIONS", AsanOptionsWith("verify_asan_link_order=0")}});
  int status = 0;
  if (wgtest::WaitFor([&] { return waitpid(pid, &status, WNOHANG | WUNTRACED) == pid; }, 120) &&
      WIFSTOPPED(status))
    return pid;
  wgtest::Stop(pid);
  return -1;
}

TEST(Kill, KilledHeadlessRunLeavesNoScreenshotBehind) {
  const std::string dir = wgtest::ScratchDir("kill-headless");
  const std::string shot = dir + "/shot.png";
  const pid_t pid = StopWhileTheScreenshotIsWritten(shot, dir + "/../kill-headless.log");
  ASSERT_GT(pid, 0) << "the screenshot was never flushed under a temporary name";
  EXPECT_GT(fs::file_size(platform::PartialName(shot)), 0u);
  EXPECT_FALSE(fs::exists(shot));
  kill(pid, SIGTERM);
  kill(pid, SIGCONT);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "status " << status;
  EXPECT_TRUE(fs::is_empty(dir)) << "left behind in " << dir;
}

// SIGKILL cannot be caught: it leaves the temporary, but never a partial picture under the name
// asked for, and the next run writes over the temporary.
TEST(Kill, AScreenshotKilledOutrightIsNeverSeenHalfWritten) {
  const std::string dir = wgtest::ScratchDir("kill-headless-hard");
  const std::string shot = dir + "/shot.png";
  const pid_t pid = StopWhileTheScreenshotIsWritten(shot, dir + "/../kill-headless-hard.log");
  ASSERT_GT(pid, 0) << "the screenshot was never flushed under a temporary name";
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  EXPECT_FALSE(fs::exists(shot));
  const pid_t again = wgtest::Spawn(
      {wgtest::AppDir() + "/winter-greeting", "--headless", "--frames", "3", "--screenshot", shot}, "");
  const auto status = wgtest::WaitExit(again, 120);
  wgtest::Stop(again);
  ASSERT_TRUE(status.has_value());
  EXPECT_EQ(WEXITSTATUS(*status), 0);
  EXPECT_TRUE(fs::is_regular_file(shot));
  EXPECT_FALSE(fs::exists(platform::PartialName(shot)));
}

}  // namespace
