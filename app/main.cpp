// Winter Greeting: the program's entry point. It builds the platform the window asks for, runs the
// window's load handler, and reports an uncaught failure.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "app/Capture.h"
#include "app/Card.h"
#include "app/Form1.h"
#include "app/LinkCommand.h"
#include "app/Options.h"
#include "app/WebExport.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"
#include "platform/process/Heap.h"

namespace {

// One frame of the headless clock: 1000/60 ms exactly, as counts of a 6 MHz counter.
constexpr std::int64_t kHeadlessFrequency = 6'000'000;
constexpr std::int64_t kHeadlessFrameCounts = 100'000;

// The live scene at the screen's shape (--fill): the window's size, within the sizes a frame may
// have and even; what is left over is scaled away when the frame is shown.
render::Framing FillFraming(const platform::Window& window) {
  int w = 0, h = 0;
  window.DrawableSize(w, h);
  const auto side = [](int v) { return std::clamp(v, render::kMinFrameSide, render::kMaxFrameSide) / 2 * 2; };
  return w > 0 && h > 0 ? render::FrameFor(side(w), side(h)) : render::Framing{};
}

int run(const app::Options& o) {
  using app::RunCapture;
  const std::string appPath = platform::ApplicationFolder();
  // A link names the page's media and carries texts: nothing is loaded, drawn or played for it.
  if (!o.shareLink.empty()) return app::RunShareLink(o, appPath, std::cout);
  // Everything the user supplied is checked here, before a window opens or a file is written.
  const app::Card card = app::ResolveCard(o, appPath, std::cerr);
  if (!o.exportWeb.empty()) {
    app::ExportWebPage({card, o.exportWeb, appPath, o.bundles, o.pageUrl, o.lang}, std::cout);
    return 0;
  }
  if (o.Capture()) {
    RunCapture(o, card, appPath);
    if (!o.record.empty())
      std::cout << "Wrote " << o.record << "\n";
    else if (!o.framesDir.empty())
      std::cout << "Wrote " << std::llround(o.seconds * o.fps) << " frames to " << o.framesDir << "\n";
    if (!o.poster.empty())
      std::cout << "Wrote the still of frame " << app::PosterFrame(o.seconds, o.fps) + 1 << " to " << o.poster << "\n";
    std::cout.flush();
    std::_Exit(0);
  }
  if (o.headless) {
    app::CheckCaptureTarget(o);
    platform::VirtualPerformanceCounter counter(kHeadlessFrequency);
    gl::GlDirect3D8 direct3d(/*headless=*/true);
    app::Platform p{nullptr, &counter, &direct3d, appPath, audio::OutputMode::Offline, {}};
    if (o.Sized()) p.framing = render::FrameFor(o.width, o.height);
    app::Form1 form(p, card);
    form.Startup();
    // The display would wait for the retrace here; the virtual clock moves one frame instead.
    form.D3D.D3DDevice->onPresent = [&counter] { counter.Advance(kHeadlessFrameCounts); };
    form.MainLoop(o.frames);
    if (!o.screenshot.empty()) {
      d3d::DWORD w = 0, h = 0;
      const auto pixels = form.D3D.D3DDevice->GetBackend().readBack(w, h);
      d3dx::WritePng(o.screenshot, pixels, static_cast<int>(w), static_cast<int>(h));
      std::cout << "Wrote frame " << o.frames << " to " << o.screenshot << "\n";
    }
    std::cout.flush();
    // As in the live program, no graphics object is released: the process simply ends.
    std::_Exit(0);
  }
  platform::SdlPerformanceCounter counter;
  platform::Window window(o.windowed ? platform::WindowMode::Windowed : platform::WindowMode::Fullscreen);
  gl::GlDirect3D8 direct3d(/*headless=*/false);
  app::Platform p{&window, &counter, &direct3d, appPath,
                  o.mute ? audio::OutputMode::Offline : audio::OutputMode::Device, {}};
  if (o.fill) p.framing = FillFraming(window);
  app::Form1 form(p, card);
  form.Form_Load();
  std::cout.flush();
  std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  // Before the GL driver fills the heap: fewer page faults on the way to the first frame.
  platform::ReserveHeapInLargePages();
  return app::RunProgram(argc, argv, "winter-greeting", app::UsageText, run);
}
