// The greeting in the browser. The page's script (page.js) creates it, hands it one call per
// animation frame and holds the pointer; nothing lives in globals. Each call is one pass of the
// desktop's main loop: the event pump, the Escape check and RenderFrame.
//
// The clock. On the desktop Present waits for the display, so the stopwatch's span from the start
// of RenderFrame to the end of Present is the frame's time on screen. In the browser Present returns
// at once and the frame reaches the screen at the next animation frame, so the stopwatch is stopped
// again there, at the browser's frame time, before the next pass reads FrameTime. The orbit, the snow
// and the 2000 ms credit timer (whose missed ticks merge into one) then run on the browser's clock.
// With a fixed step, each Present moves the clock 1000/60 ms exactly as the desktop's --headless runs
// do, so the frames are those of `winter-greeting --headless --frames N`.
//
// A frame the page will not show (on the way to frame N, when only frame N is wanted) makes every
// call as any frame does, but the device draws it without filling pixels: the browser's software
// rasteriser would spend most of the run filling pixels nobody sees.
#include <emscripten.h>

#include <cmath>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "app/Form1.h"
#include "app/WebExport.h"
#include "platform/d3dx/Texture.h"
#include "platform/web/WebGl.h"
#include "platform/window/PerformanceCounter.h"
#include "platform/window/Window.h"

namespace {

// 6 MHz and 100 000 counts a frame: 1000/60 ms a frame, as the desktop's headless runs count.
constexpr std::int64_t kFrequency = 6'000'000;
constexpr std::int64_t kFixedStepCounts = 100'000;

class WebGreeting {
 public:
  explicit WebGreeting(bool fixedStep) : fixedStep_(fixedStep) {}

  // Start-up and the first frame, drawn while the page waits for the visitor.
  void Start() {
    form_.reset();
    counter_.Set(0);
    framesDrawn_ = 0;
    const std::string appFolder = platform::ApplicationFolder();
    app::Platform p{&window_, &counter_, &direct3d_, appFolder, audio::OutputMode::Device, {}};
    // The card as the exporter resolved it: the texts at their places; the media lie where the
    // application folder keeps them.
    const std::string cardFile = appFolder + "/" + app::kWebCardTexts;
    const auto bytes = d3dx::ReadFile("ReadCardTexts", cardFile);
    form_ = std::make_unique<app::Form1>(
        p, app::ReadCardTexts(std::string(bytes.begin(), bytes.end()), appFolder, cardFile));
    form_->Startup();
    if (fixedStep_) form_->D3D.D3DDevice->onPresent = [this] { counter_.Advance(kFixedStepCounts); };
    Pass(0, true);
  }

  // One pass of the main loop at `sceneMs` milliseconds of the scene's clock (ignored with a fixed
  // step); `shown` false: a frame the page will not show. Returns false once the window has been
  // unloaded (Escape held).
  bool Pass(double sceneMs, bool shown) {
    if (!fixedStep_) {
      counter_.Set(std::llround(sceneMs * static_cast<double>(kFrequency) / 1000.0));
      // The frame before reached the screen now.
      if (framesDrawn_ > 0) form_->API.FrameTimer(0);
    }
    if (!shown) form_->D3D.D3DDevice->DrawNextFrameUnseen();
    form_->MainLoop(1);
    if (form_->Unloaded()) return false;
    ++framesDrawn_;
    return true;
  }

  std::int64_t FramesDrawn() const { return framesDrawn_; }
  std::string error;

 private:
  bool fixedStep_;
  platform::VirtualPerformanceCounter counter_{kFrequency};
  platform::Window window_{platform::WindowMode::Fullscreen};
  web::WebDirect3D8 direct3d_;
  std::unique_ptr<app::Form1> form_;
  std::int64_t framesDrawn_ = 0;
};

// Runs `f`, keeping a failure's message for the page: 1 on success, 0 when it failed.
template <class F>
int Guarded(WebGreeting* g, F&& f) {
  try {
    g->error.clear();
    return f() ? 1 : 0;
  } catch (const std::exception& e) {
    g->error = e.what();
  } catch (...) {
    g->error = "an unknown failure";
  }
  return -1;
}

}  // namespace

extern "C" {

// The greeting, started up, its first frame drawn; null when even the canvas's WebGL2 context could
// not be made (the page then reports that no WebGL2 is available). `wg_error` tells of a failed
// start.
EMSCRIPTEN_KEEPALIVE WebGreeting* wg_create(int fixedStep) {
  WebGreeting* g = nullptr;
  try {
    g = new WebGreeting(fixedStep != 0);
  } catch (...) {
    return nullptr;
  }
  Guarded(g, [g] {
    g->Start();
    return true;
  });
  return g;
}

// One frame: 1 drawn, 0 the greeting has ended (Escape), -1 failed (see wg_error). `shown` 0: a
// frame the page will not show, whose pixels are not filled.
EMSCRIPTEN_KEEPALIVE int wg_frame(WebGreeting* g, double sceneMs, int shown) {
  return Guarded(g, [g, sceneMs, shown] { return g->Pass(sceneMs, shown != 0); });
}

// From the start again, first frame drawn: 1, or -1 failed.
EMSCRIPTEN_KEEPALIVE int wg_restart(WebGreeting* g) {
  return Guarded(g, [g] {
    g->Start();
    return true;
  });
}

EMSCRIPTEN_KEEPALIVE double wg_frames_drawn(WebGreeting* g) {
  return static_cast<double>(g->FramesDrawn());
}

EMSCRIPTEN_KEEPALIVE const char* wg_error(WebGreeting* g) {
  return g->error.c_str();
}

EMSCRIPTEN_KEEPALIVE void wg_destroy(WebGreeting* g) {
  delete g;
}

}  // extern "C"
