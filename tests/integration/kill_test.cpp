// A run killed in the middle leaves nothing behind: no half-written video, no stray files.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "app/Capture.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

pid_t spawn(const std::vector<std::string>& args, const std::string& log) {
  const pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    FILE* f = std::freopen(log.c_str(), "w", stdout);
    (void)f;
    dup2(STDOUT_FILENO, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

bool waitFor(const std::function<bool()>& cond, int seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (cond()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

void killMidRecord(int sig) {
  const std::string dir = wgtest::ScratchDir("kill-record-" + std::to_string(sig));
  const std::string mp4 = dir + "/greeting.mp4";
  const pid_t pid =
      spawn({wgtest::AppDir() + "/winter-greeting", "--record", mp4, "--seconds", "120"}, dir + "/../kill.log");
  ASSERT_GT(pid, 0);
  // Mid-record: the temporary file exists and is growing.
  ASSERT_TRUE(waitFor([&] { return fs::exists(app::PartialName(mp4)) && fs::file_size(app::PartialName(mp4)) > 0; }, 60));
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
  const pid_t pid = spawn({wgtest::AppDir() + "/winter-greeting", "--headless", "--frames", "100000000",
                           "--screenshot", dir + "/shot.png"},
                          dir + "/../kill-headless.log");
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(fs::is_empty(dir));
}

}  // namespace
