// The live scene on a machine without a sound card, in a window on a virtual X display: without
// --mute start-up stops with one message that names --mute and --headless, and none of the audio
// back end's own complaints; with --mute the scene runs silently until Escape is held.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"
#include "tests/support/XServer.h"

namespace {

using wgtest::Spawn;
using wgtest::WaitFor;

class LiveAudio : public testing::Test {
 protected:
  void SetUp() override {
    if (!wgtest::XServer::Installed(false) || !wgtest::OnPath("xdotool"))
      GTEST_SKIP() << "needs Xvfb and xdotool (scripts/install-deps.sh --test)";
    const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
    display_ = std::make_unique<wgtest::XServer>(
        wgtest::XServerOptions{1280, 1024, false, wgtest::ScratchDir("xvfb-" + name) + "/log"});
    ASSERT_TRUE(display_->Ready()) << "Xvfb did not start";
  }
  // ALSA is asked for the device: on a machine without a sound card it fails, and talks about it.
  // In the sanitizer build the leak check stays off for the program: the D-Bus library that SDL's
  // window brings in keeps memory to the end, and the report would bury the one line looked for.
  std::vector<std::string> program(const std::vector<std::string>& options) const {
    std::vector<std::string> args{"env", "DISPLAY=" + display_->DisplayName(), "SDL_AUDIODRIVER=alsa",
                                  "ASAN_OPTIONS=detect_leaks=0", wgtest::AppDir() + "/winter-greeting"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
  }
  std::unique_ptr<wgtest::XServer> display_;
};

TEST_F(LiveAudio, WithoutASoundCardStartUpStopsNamingMuteAndHeadlessAndNothingElse) {
  const std::string log = wgtest::ScratchDir("live-no-audio") + "/log";
  const pid_t pid = Spawn(program({"--window"}), log);
  int status = 0;
  if (!WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 60)) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    GTEST_SKIP() << "this machine has an audio device: the scene started";
  }
  const std::string out = wgtest::Slurp(log);
  EXPECT_EQ(WEXITSTATUS(status), 1) << out;
  EXPECT_EQ(out.rfind("winter-greeting: InitAudio: no usable audio device: ", 0), 0u) << out;
  EXPECT_NE(out.find("run with --mute"), std::string::npos) << out;
  EXPECT_NE(out.find("--headless"), std::string::npos) << out;
  EXPECT_EQ(out.find("ALSA lib"), std::string::npos) << out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
}

TEST_F(LiveAudio, WithMuteTheSceneRunsUntilEscapeIsHeld) {
  const std::string log = wgtest::ScratchDir("live-mute") + "/log";
  const pid_t pid = Spawn(program({"--window", "--mute"}), log);
  const std::string xdotool = "DISPLAY=" + display_->DisplayName() + " xdotool ";
  const bool shown = WaitFor(
      [&] { return std::system((xdotool + "search --name '^Form1$' >/dev/null 2>&1").c_str()) == 0; }, 60);
  int status = 0;
  bool ended = false;
  if (shown) {
    // A few frames drawn, then Escape held across the next pass of the loop.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << wgtest::Slurp(log);
    std::system((xdotool + "search --name '^Form1$' windowfocus --sync keydown Escape").c_str());
    ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30);
    std::system((xdotool + "keyup Escape").c_str());
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(shown) << wgtest::Slurp(log);
  ASSERT_TRUE(ended) << wgtest::Slurp(log);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(wgtest::Slurp(log), "");
}

}  // namespace
