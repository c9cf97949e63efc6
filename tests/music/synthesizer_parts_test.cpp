// The synthesizer's parts on their own: where FluidSynth's messages go, the hook the preload thread
// runs first, and SoundFont loads that leave the audio device playing.
#include <fcntl.h>
#include <fluidsynth.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "music/modMusic.h"
#include "platform/audio/DirectMusic.h"
#include "platform/audio/LibraryLog.h"
#include "platform/audio/SoundFont.h"
#include "platform/audio/Synthesizer.h"
#include "tests/music/TestEnv.h"
#include "tests/support/Harness.h"

namespace {

using wgtest::ErrorOf;
using wgtest::ScopedEnv;

// Whatever the process writes on fd 2 while this lives lands in a file of its own, read by Text().
class CapturedStderr {
 public:
  explicit CapturedStderr(const std::string& name) : path_(wgtest::ScratchDir(name) + "/stderr") {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int fd = open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~CapturedStderr() { Restore(); }
  CapturedStderr(const CapturedStderr&) = delete;
  CapturedStderr& operator=(const CapturedStderr&) = delete;

  std::string Text() {
    Restore();
    std::ifstream f(path_);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

struct Collected {
  std::vector<std::pair<int, std::string>> messages;
};

TEST(LibraryLog, EveryMessageButDebugReachesTheSinkAndNothingReachesStderr) {
  audio::RouteLibraryLog();
  Collected got;
  audio::SetLibraryMessageSink(
      [&got](int level, const std::string& m) { got.messages.emplace_back(level, m); });
  CapturedStderr err("library-log-sink");
  fluid_log(FLUID_ERR, "broken %d", 1);
  fluid_log(FLUID_WARN, "odd %s", "preset");
  fluid_log(FLUID_INFO, "note");
  fluid_log(FLUID_DBG, "detail");
  audio::SetLibraryMessageSink({});
  EXPECT_EQ(err.Text(), "");
  const std::vector<std::pair<int, std::string>> want{
      {FLUID_ERR, "broken 1"}, {FLUID_WARN, "odd preset"}, {FLUID_INFO, "note"}};
  EXPECT_EQ(got.messages, want);
}

TEST(LibraryLog, WithoutASinkOnlyErrorsArePrintedAndAThreadCanDropItsOwn) {
  audio::RouteLibraryLog();
  CapturedStderr err("library-log-default");
  fluid_log(FLUID_WARN, "unseen warning");
  fluid_log(FLUID_INFO, "unseen note");
  fluid_log(FLUID_ERR, "seen");
  std::thread([] {
    audio::DropThisThreadsLibraryMessages(true);
    fluid_log(FLUID_ERR, "dropped");
  }).join();
  fluid_log(FLUID_PANIC, "also seen");
  EXPECT_EQ(err.Text(), "fluidsynth: error: seen\nfluidsynth: panic: also seen\n");
}

TEST(Preload, TheHookRunsFirstOnThePreloadThreadBeforeInitMusicTakesIt) {
  std::thread::id hookThread;
  audio::PreloadSynthesizer(128, [&] { hookThread = std::this_thread::get_id(); });
  music::modMusic m(wgtest::AppDir() + "/music/main.mid", audio::OutputMode::Offline);
  m.InitMusic(nullptr);
  EXPECT_NE(hookThread, std::thread::id{});
  EXPECT_NE(hookThread, std::this_thread::get_id());
  EXPECT_TRUE(m.MusicPerformance->InstrumentsLoaded());
}

// The system call a thread of this process is blocked in (as /proc tells it), -1 where it runs.
long BlockedIn(long tid) {
  std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/syscall");
  std::string first;
  f >> first;
  return first.empty() || first == "running" ? -1 : std::stol(first);
}

template <typename Done>
bool WaitFor(Done done) {
  for (int i = 0; i < 2000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

TEST(AudioDevice, TheDeviceKeepsPlayingWhileASoundFontLoads) {
  ScopedEnv driver("SDL_AUDIODRIVER", "dummy");
  const std::string dir = wgtest::ScratchDir("load-outside-the-lock");
  const std::string font = dir + "/font.sf2";
  const std::string installed = audio::FindSoundFont("test");
  std::filesystem::remove(font);
  std::filesystem::create_symlink(installed, font);
  ScopedEnv chosen("WG_SOUNDFONT", font.c_str());
  audio::Synthesizer synth(audio::OutputMode::Device, 16, "InitAudio");
  synth.Start();
  synth.UnloadInstruments("Unload");

  // The next load meets a pipe where the file was: it stays blocked opening it until a writer comes.
  std::filesystem::remove(font);
  ASSERT_EQ(mkfifo(font.c_str(), 0600), 0);
  Collected said;
  audio::SetLibraryMessageSink(
      [&said](int level, const std::string& m) { said.messages.emplace_back(level, m); });
  std::promise<long> loaderTid;
  auto load = std::async(std::launch::async, [&] {
    loaderTid.set_value(syscall(SYS_gettid));
    return ErrorOf([&] { synth.LoadInstruments("Download"); });
  });
  const long tid = loaderTid.get_future().get();
  ASSERT_TRUE(WaitFor([&] { return BlockedIn(tid) == SYS_openat; })) << "the load never opened the file";

  // Mid-load, the device's callback still runs and the device's lock is free.
  const std::uint64_t before = synth.Stats().blocks;
  EXPECT_TRUE(WaitFor([&] { return synth.Stats().blocks >= before + 3; }));
  auto setActive = std::async(std::launch::async, [&] { synth.SetActive(true); });
  EXPECT_EQ(setActive.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  EXPECT_EQ(BlockedIn(tid), SYS_openat);

  // A writer that writes nothing ends the load: not a SoundFont.
  while (load.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
    const int w = open(font.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (w >= 0) close(w);
  }
  setActive.wait();
  EXPECT_EQ(load.get(), "Download: fluid_synth_sfload failed (" + font + ")");
  audio::SetLibraryMessageSink({});
  EXPECT_FALSE(said.messages.empty());
  EXPECT_FALSE(synth.InstrumentsLoaded());

  // With the file back, the font loads and joins the playing synthesizer.
  std::filesystem::remove(font);
  std::filesystem::create_symlink(installed, font);
  synth.LoadInstruments("Download");
  EXPECT_TRUE(synth.InstrumentsLoaded());
}

TEST(AudioDevice, OpeningThroughAlsaPrintsNothingOfAlsasOwn) {
  ScopedEnv driver("SDL_AUDIODRIVER", "alsa");
  CapturedStderr err("alsa-quiet");
  const std::string message =
      ErrorOf([] { audio::Synthesizer synth(audio::OutputMode::Device, 16, "InitAudio"); });
  const std::string printed = err.Text();
  // Where this machine has a sound card, the device opens; where not, the error says so, alone.
  if (message != "no error") {
    EXPECT_EQ(message.rfind("InitAudio: no usable audio device: ", 0), 0u) << message;
  }
  EXPECT_EQ(printed, "");
}

}  // namespace
