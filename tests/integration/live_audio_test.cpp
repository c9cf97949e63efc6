// The live scene on a machine without a sound card, in a window on a virtual X display: without
// --mute start-up stops with one message that names --mute and --headless, and none of the audio
// back end's own complaints; with --mute the scene runs silently until Escape is held.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/Harness.h"
#include "tests/support/Process.h"

namespace {

namespace fs = std::filesystem;

bool onPath(const std::string& program) {
  return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

using wgtest::Spawn;
using wgtest::WaitFor;

std::string slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// An X server of our own for the length of a test, on a display number it picks itself, so tests
// that run side by side never meet on one. It does not reset when its last client leaves: xdotool
// comes and goes while the greeting connects.
class VirtualDisplay {
 public:
  VirtualDisplay() {
    int fds[2];
    if (pipe(fds) != 0) return;
    const std::string log =
        wgtest::ScratchDir(std::string("xvfb-") +
                           testing::UnitTest::GetInstance()->current_test_info()->name()) +
        "/log";
    pid_ = wgtest::Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-noreset", "-screen", "0",
                          "1280x1024x24", "-nolisten", "tcp"},
                         log);
    close(fds[1]);
    // Xvfb writes the display number once it accepts clients.
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c = 0;
    while (poll(&p, 1, 20'000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (!number.empty() && c == '\n') display_ = ":" + number;
  }
  ~VirtualDisplay() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Ready() const { return !display_.empty(); }
  const std::string& Name() const { return display_; }

 private:
  std::string display_;
  pid_t pid_ = -1;
};

class LiveAudio : public testing::Test {
 protected:
  void SetUp() override {
    if (!onPath("Xvfb") || !onPath("xdotool"))
      GTEST_SKIP() << "needs Xvfb and xdotool (scripts/install-deps.sh --test)";
    display_ = std::make_unique<VirtualDisplay>();
    ASSERT_TRUE(display_->Ready()) << "Xvfb did not start";
  }
  // ALSA is asked for the device: on a machine without a sound card it fails, and talks about it.
  // In the sanitizer build the leak check stays off for the program: the D-Bus library that SDL's
  // window brings in keeps memory to the end, and the report would bury the one line looked for.
  std::vector<std::string> program(const std::vector<std::string>& options) const {
    std::vector<std::string> args{"env", "DISPLAY=" + display_->Name(), "SDL_AUDIODRIVER=alsa",
                                  "ASAN_OPTIONS=detect_leaks=0", wgtest::AppDir() + "/winter-greeting"};
    args.insert(args.end(), options.begin(), options.end());
    return args;
  }
  std::unique_ptr<VirtualDisplay> display_;
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
  const std::string out = slurp(log);
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
  const std::string xdotool = "DISPLAY=" + display_->Name() + " xdotool ";
  const bool shown = WaitFor(
      [&] { return std::system((xdotool + "search --name '^Form1$' >/dev/null 2>&1").c_str()) == 0; }, 60);
  int status = 0;
  bool ended = false;
  if (shown) {
    // A few frames drawn, then Escape held across the next pass of the loop.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(waitpid(pid, &status, WNOHANG), 0) << slurp(log);
    std::system((xdotool + "search --name '^Form1$' windowfocus --sync keydown Escape").c_str());
    ended = WaitFor([&] { return waitpid(pid, &status, WNOHANG) == pid; }, 30);
    std::system((xdotool + "keyup Escape").c_str());
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  EXPECT_TRUE(shown) << slurp(log);
  ASSERT_TRUE(ended) << slurp(log);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(slurp(log), "");
}

}  // namespace
