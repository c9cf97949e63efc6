// `--export-web DIR`: what the folder holds, the tune in it, and the folders it refuses, replaces or
// never leaves half-written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>

#include "app/WebExport.h"
#include "platform/audio/StandardMidiFile.h"
#include "platform/d3dx/Texture.h"
#include "render/Framing.h"
#include "tests/support/AudioProbe.h"
#include "tests/support/Browser.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"
#include "tests/web/WebExported.h"

namespace {

namespace fs = std::filesystem;
using wgtest::ExportedPage;
using wgtest::RunProgram;
using wgtest::Slurp;

#define SKIP_WITHOUT_RUNTIME()                                             \
  if (const std::string why = wgtest::WebRuntimeMissing(); !why.empty()) { \
    GTEST_SKIP() << why;                                                   \
  }

std::uintmax_t FolderBytes(const fs::path& dir) {
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) bytes += e.file_size();
  return bytes;
}

TEST(WebExport, TheFolderHoldsThePageTheRuntimeAndEveryFileItLoadsInUnder8MB) {
  SKIP_WITHOUT_RUNTIME();
  const fs::path page = ExportedPage();
  for (const char* f : {"index.html", "page.css", "page.js", "link.js", "text.js", "words.js", "maker.js",
                        "runtime.js", "runtime.wasm", "greeting/manifest.json"})
    EXPECT_TRUE(fs::is_regular_file(page / f)) << f;
  const wgtest::Json manifest = wgtest::Json::Parse(Slurp((page / "greeting/manifest.json").string()));
  EXPECT_EQ(manifest["format"].str(), "winter-greeting-web 1");
  EXPECT_EQ(manifest["title"].str(), "С НОВЫМ 2007 ГОДОМ!");
  ASSERT_EQ(manifest["files"].size(), 7u);
  for (std::size_t i = 0; i < manifest["files"].size(); ++i)
    EXPECT_TRUE(fs::is_regular_file(page / manifest["files"][i][0].str())) << manifest["files"][i][0].str();
  // A face at each prepared size, listed apart (the page fetches the one its window needs).
  ASSERT_EQ(manifest["faces"].size(), std::size(app::kWebTextPixels));
  for (std::size_t i = 0; i < manifest["faces"].size(); ++i) {
    const wgtest::Json& face = manifest["faces"][i];
    const int px = app::kWebTextPixels[i];
    EXPECT_EQ(face[0].num(), px);
    EXPECT_EQ(face[1].str(), "greeting/fonts/Arial-" + std::to_string(px) + "px-bold.glyphs");
    EXPECT_EQ(face[2].str(), "/fonts/Arial-" + std::to_string(px) + "px-bold.glyphs");
    EXPECT_TRUE(fs::is_regular_file(page / face[1].str())) << face[1].str();
  }
  EXPECT_TRUE(fs::is_regular_file(page / manifest["tunes"][0]["url"].str()));
  // The tab shows the greeting.
  EXPECT_NE(Slurp((page / "index.html").string()).find("<title>С НОВЫМ 2007 ГОДОМ!</title>"),
            std::string::npos);
  const std::uintmax_t bytes = FolderBytes(page);
  EXPECT_LT(bytes, 8u * 1000 * 1000) << bytes << " bytes";
  std::printf("exported folder: %.2f MB\n", static_cast<double>(bytes) / 1e6);
}

// The prepared sizes cover every frame the page makes: a frame's text draws at the next size up,
// never below the size its height asks for, up to the tallest canvas the page keeps.
TEST(WebTextPixels, EveryFrameTheCanvasMayHaveDrawsItsTextAtLeastAsLargeAsItsHeightAsks) {
  EXPECT_EQ(app::WebTextPixels(24), 24);
  EXPECT_EQ(app::WebTextPixels(25), 29);
  EXPECT_EQ(app::WebTextPixels(1), 12);
  EXPECT_EQ(app::WebTextPixels(500), 86);
  for (int h = render::kMinFrameSide; h <= app::kWebMaxCanvasHeight; h += 2) {
    const render::Framing f = render::FrameFor(320, h);
    const int px = app::WebTextPixels(f.textPixels);
    EXPECT_GE(px, f.textPixels) << h;
    // At most about a fifth larger than asked.
    EXPECT_LE(px, f.textPixels * 6 / 5 + 1) << h;
  }
}

TEST(WebExport, TheTuneIsOpusThatDecodesAndLastsAsLongAsTheTuneAndItsReverb) {
  SKIP_WITHOUT_RUNTIME();
  const fs::path page = ExportedPage();
  const auto midi = d3dx::ReadFile("test", (page / "greeting/music/main.mid").string());
  const audio::StandardMidiFile tune = audio::ReadStandardMidiFile(midi, "main.mid");
  const wgtest::AudioInfo a = wgtest::ProbeAudio((page / "greeting/music/main.ogg").string());
  EXPECT_EQ(a.container, "ogg");
  EXPECT_EQ(a.codec, "opus");
  EXPECT_EQ(a.sampleRate, 48000);
  EXPECT_EQ(a.channels, 2);
  // The whole tune, then its reverb dying away; not a second of it cut.
  EXPECT_GE(a.seconds, tune.lengthSeconds);
  EXPECT_LE(a.seconds, tune.lengthSeconds + 15.0);
  EXPECT_GT(a.rms, 0.01);
  const wgtest::Json manifest = wgtest::Json::Parse(Slurp((page / "greeting/manifest.json").string()));
  EXPECT_NEAR(manifest["tunes"][0]["seconds"].num(), a.seconds, 0.05);
  std::printf("tune %.1f s, recording %.2f s, RMS %.3f\n", tune.lengthSeconds, a.seconds, a.rms);
}

TEST(WebExport, AFolderWithOtherFilesIsRefusedAndKeptAsItWas) {
  SKIP_WITHOUT_RUNTIME();
  const std::string dir = wgtest::ScratchDir("web-export-refused");
  const std::string target = dir + "/photos";
  fs::create_directories(target);
  { std::ofstream(target + "/holiday.jpg") << "not ours"; }
  EXPECT_EQ(RunProgram("--export-web " + target, dir + "/log"), 1);
  EXPECT_NE(Slurp(dir + "/log").find("not empty and holds no earlier export"), std::string::npos)
      << Slurp(dir + "/log");
  EXPECT_EQ(Slurp(target + "/holiday.jpg"), "not ours");
  EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
  // A file in the way is refused too.
  EXPECT_EQ(RunProgram("--export-web " + target + "/holiday.jpg", dir + "/log"), 1);
  EXPECT_NE(Slurp(dir + "/log").find("it is a file"), std::string::npos) << Slurp(dir + "/log");
}

TEST(WebExport, AnEarlierExportIsReplacedWholeAndAnEmptyFolderFilled) {
  SKIP_WITHOUT_RUNTIME();
  const std::string dir = wgtest::ScratchDir("web-export-again");
  const std::string target = dir + "/page";
  fs::copy(ExportedPage(), target, fs::copy_options::recursive);
  { std::ofstream(target + "/left-over.txt") << "from before"; }
  ASSERT_EQ(RunProgram("--export-web " + target, dir + "/log"), 0) << Slurp(dir + "/log");
  EXPECT_FALSE(fs::exists(target + "/left-over.txt"));
  EXPECT_TRUE(fs::is_regular_file(target + "/runtime.wasm"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
      << "only page/ and the log";
}

// An application folder whose snow sprite is missing: start-up would stop there, and so does the
// export, leaving nothing behind.
TEST(WebExport, AFailedExportLeavesNoFolder) {
  SKIP_WITHOUT_RUNTIME();
  const std::string app = wgtest::AppDirWithout("web-export-failing", {"tex/snow.png"});
  fs::copy(wgtest::AppDir() + "/web", app + "/web", fs::copy_options::recursive);
  fs::copy_file(wgtest::AppDir() + "/winter-greeting", app + "/winter-greeting");
  // The tune's encoder comes with the codec module beside the program.
  fs::copy_file(wgtest::AppDir() + "/winter-greeting-video.so", app + "/winter-greeting-video.so");
  const std::string out = wgtest::ScratchDir("web-export-failing-out");
  const std::string log = app + "/export.log";
  EXPECT_EQ(RunProgram("--export-web " + out + "/page", log, app + "/winter-greeting"), 1);
  EXPECT_NE(Slurp(log).find("snow.png"), std::string::npos) << Slurp(log);
  EXPECT_TRUE(fs::is_empty(out)) << "something was left in " << out;
}

// Ctrl-C while the tune renders, a step of seconds: the export ends by the signal without waiting for
// the step to finish, and its temporary folder goes with it.
TEST(WebExport, CtrlCWhileTheTuneRendersEndsAtOnceAndLeavesNoFolder) {
  SKIP_WITHOUT_RUNTIME();
  const std::string out = wgtest::ScratchDir("web-export-interrupted");
  const std::string log = out + "/../web-export-interrupted.log";
  fs::remove(log);  // an earlier run's, which already says the tune renders
  const pid_t pid =
      wgtest::Spawn({wgtest::AppDir() + "/winter-greeting", "--export-web", out + "/page"}, log);
  ASSERT_TRUE(wgtest::WaitFor(
      [&] { return wgtest::Slurp(log).find("Rendering the tune") != std::string::npos; }, 120))
      << wgtest::Slurp(log);
  ASSERT_FALSE(fs::is_empty(out)) << "the temporary folder is being written";
  const auto interrupted = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  // The tune takes several seconds to render; this bound only tells a prompt end from one that waits.
  const auto status = wgtest::WaitExit(pid, 3);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
  wgtest::Stop(pid);
  ASSERT_TRUE(status.has_value()) << "still running 3 s after Ctrl-C";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGINT) << "status " << *status;
  EXPECT_TRUE(fs::is_empty(out)) << "something was left in " << out;
  std::printf("ended %.3f s after Ctrl-C\n", seconds);
}

}  // namespace
