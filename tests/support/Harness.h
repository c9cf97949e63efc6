// Test harness: the demo's window on the recording backend and a virtual clock, or a headless GL
// device for pixel tests.
#pragma once

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "app/Form1.h"
#include "app/Options.h"
#include "platform/d3d/Direct3D8.h"
#include "tests/support/RecordingBackend.h"
#include "platform/gl/GlDirect3D8.h"
#include "platform/window/PerformanceCounter.h"

namespace wgtest {

// 6 MHz and 100 000 counts a frame: 1000/60 ms per frame, exactly as the headless program runs.
constexpr std::int64_t kFrequency = 6'000'000;
constexpr std::int64_t kFrameCounts = 100'000;

inline std::string AppDir() {
  return WG_APP_DIR;
}

// Runs the program with `args`, its output into `log`; returns its exit status (or 128 + signal).
inline int RunProgram(const std::string& args, const std::string& log,
                      const std::string& exe = AppDir() + "/winter-greeting") {
  const int r = std::system((exe + " " + args + " >" + log + " 2>&1").c_str());
  return WIFEXITED(r) ? WEXITSTATUS(r) : 128 + WTERMSIG(r);
}

// The options of a command line `winter-greeting args...`.
inline app::Options ParseArgs(std::vector<std::string> args) {
  std::vector<char*> argv;
  std::string program = "winter-greeting";
  argv.push_back(program.data());
  for (auto& a : args) argv.push_back(a.data());
  return app::ParseOptions(static_cast<int>(argv.size()), argv.data());
}

// A fresh scratch folder under the build tree, emptied first.
inline std::string ScratchDir(const std::string& name) {
  const std::filesystem::path p = std::filesystem::path(WG_TEST_TMP) / name;
  std::filesystem::remove_all(p);
  std::filesystem::create_directories(p);
  return p.string();
}

// An application folder holding copies of the generated media, less the files named in `omit`
// (relative paths such as "tex/snow.jpg").
inline std::string AppDirWithout(const std::string& name, const std::vector<std::string>& omit) {
  const std::string dir = ScratchDir(name);
  for (const char* sub : {"tex", "models", "music"}) {
    const auto from = std::filesystem::path(AppDir()) / sub;
    if (std::filesystem::exists(from))
      std::filesystem::copy(from, std::filesystem::path(dir) / sub, std::filesystem::copy_options::recursive);
  }
  for (const auto& f : omit) std::filesystem::remove(std::filesystem::path(dir) / f);
  return dir;
}

struct RecordingDemo {
  explicit RecordingDemo(const std::string& appDir = AppDir())
      : counter(kFrequency), platform{nullptr, &counter, &direct3d, appDir, audio::OutputMode::Offline, {}}, form(platform) {}
  // The demo showing `card` instead of the built-in greeting.
  explicit RecordingDemo(const app::Card& card)
      : counter(kFrequency), platform{nullptr, &counter, &direct3d, AppDir(), audio::OutputMode::Offline, {}}, form(platform, card) {}

  d3d::RecordingBackend& backend() { return *direct3d.last; }
  d3d::Device& device() { return *form.D3D.D3DDevice; }
  // What RenderFrame would hand a module's draw now, for drawing one module on its own.
  render::FrameContext frame() { return form.D3D.Frame("frame"); }
  // After start-up: each Present moves the clock by one frame, as the headless program does.
  void tickEachPresent() {
    form.D3D.D3DDevice->onPresent = [this] { counter.Advance(kFrameCounts); };
  }
  void startup() {
    form.Startup();
    tickEachPresent();
  }
  void frames(std::int64_t n) { form.MainLoop(n); }

  platform::VirtualPerformanceCounter counter;
  d3d::RecordingDirect3D8 direct3d;
  app::Platform platform;
  app::Form1 form;
};

// The whole demo on the OpenGL backend, headless, started up, its clock moving one frame per Present
// as in the headless program. With the WebGL2 dialect it draws as the browser does.
struct GlDemo {
  explicit GlDemo(gl::GlDialect dialect = gl::GlDialect::Desktop33, render::Framing framing = {})
      : GlDemo(dialect, framing, app::DefaultCard(AppDir())) {}
  GlDemo(gl::GlDialect dialect, render::Framing framing, app::Card card)
      : counter(kFrequency),
        direct3d(true, true, dialect),
        platform{nullptr, &counter, &direct3d, AppDir(), audio::OutputMode::Offline, framing},
        form(platform, std::move(card)) {
    form.Startup();
    form.D3D.D3DDevice->onPresent = [this] { counter.Advance(kFrameCounts); };
  }
  platform::VirtualPerformanceCounter counter;
  gl::GlDirect3D8 direct3d;
  app::Platform platform;
  app::Form1 form;
};

}  // namespace wgtest
