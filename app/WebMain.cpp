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
// The frame's shape is the canvas's: the page sizes its drawing buffer to the window (page.js) before
// each start, and the greeting starts with FrameFor that size, as the desktop's --size does: the
// projection, the back buffer and the text lines follow it. A 1024 x 768 canvas is the picture itself.
// The text is drawn at the prepared face size WebTextPixels gives (the browser cannot rasterise a
// face at any size); where a card's line cannot fit the frame at that size, smaller prepared sizes
// the page has loaded are tried before the start fails.
//
// A link's texts (the page writes them to link.txt before the start) are drawn by the browser's own
// text stack rather than the prepared faces, which hold only the exported card's lines: each line is
// laid out at the frame's text size with the desktop's rules and places, and a line that cannot fit
// is left out with a note for the page (wg_notes) rather than failing the start.
//
// A frame the page will not show (on the way to frame N, when only frame N is wanted) makes every
// call as any frame does, but the device draws it without filling pixels: the browser's software
// rasteriser would spend most of the run filling pixels nobody sees.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/Card.h"
#include "app/Form1.h"
#include "app/WebExport.h"
#include "platform/base/Error.h"
#include "platform/d3dx/Texture.h"
#include "platform/web/BrowserText.h"
#include "platform/web/WebGl.h"
#include "platform/window/PerformanceCounter.h"
#include "platform/window/Window.h"
#include "render/Framing.h"
#include "render/modGen.h"

namespace {

// 6 MHz and 100 000 counts a frame: 1000/60 ms a frame, as the desktop's headless runs count.
constexpr std::int64_t kFrequency = 6'000'000;
constexpr std::int64_t kFixedStepCounts = 100'000;

// `f` with a text size at which every line of `card` fits: its own, or the largest smaller prepared
// one the page loaded (a face it did not load fails like a line that does not fit). Throws why the
// lines fit at its own size when they fit at none.
render::Framing FitText(const app::Card& card, render::Framing f) {
  if (f.IsPicture()) return f;
  std::exception_ptr first;
  for (int i = static_cast<int>(std::size(app::kWebTextPixels)) - 1; i >= 0; --i) {
    const int px = app::kWebTextPixels[i];
    if (px > f.textPixels) continue;
    render::Framing tried = f;
    tried.textPixels = px;
    try {
      app::PlaceCardText(card, tried);
      return tried;
    } catch (const std::exception&) {
      if (!first) first = std::current_exception();
    }
  }
  std::rethrow_exception(first);
}

// Where the page puts a link's texts, in the application folder: the greeting, then the credit lines,
// one a line.
constexpr const char* kLinkTexts = "link.txt";

// The texts of `file`: its first line the greeting, the further ones the credit lines.
std::vector<std::string> ReadLinkTexts(const std::string& file) {
  const auto bytes = d3dx::ReadFile("ReadLinkTexts", file);
  std::vector<std::string> lines;
  const std::string text(bytes.begin(), bytes.end());
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.empty()) lines.emplace_back();
  return lines;
}

// `texts` (greeting first) laid out for `f` in the browser's text at the frame's size, each line as
// the desktop places a custom line. A line that cannot be drawn or fit is left out, its place kept
// empty, and `notes` gets a line saying why.
app::FrameText PlaceLinkTexts(const std::vector<std::string>& texts, const render::Framing& f,
                              std::string& notes) {
  const d3dx::GdiFont font = render::TextFontSource(f.TextPoints()).hFont();
  d3dx::TextMeasure measure(font, web::OpenBrowserText(font));
  const auto usualY = [&f](float y) { return y * static_cast<float>(f.height) / render::kPictureHeight; };
  app::FrameText out;
  out.greetingY = usualY(app::kGreetingY);
  out.creditY = usualY(app::kCreditY);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    const std::string& text = texts[i];
    const bool greeting = i == 0;
    const std::string which = greeting ? "the greeting" : "credit line " + std::to_string(i);
    std::string problem = app::TextLineProblem(text);
    if (i > app::kMaxCreditLines)
      problem = "a greeting has at most " + std::to_string(app::kMaxCreditLines) + " credit lines";
    app::PlacedLine placed;
    if (problem.empty() && !text.empty()) {
      placed = app::PlaceLineInFrame(measure, text, greeting ? app::kGreetingX : app::kCreditX,
                                     greeting ? app::kGreetingY : app::kCreditY, f);
      problem = placed.problem;
    }
    if (!problem.empty()) {
      notes += which + " is left out: " + problem + "\n";
      continue;
    }
    // An empty greeting draws nothing; an empty credit line is no line.
    if (greeting) {
      out.greeting = placed.line;
      if (!text.empty()) out.greetingY = placed.y;
    } else if (!text.empty()) {
      out.credits.push_back(placed.line);
      out.creditY = placed.y;
    }
  }
  return out;
}

// A mark named "wg-STEP" on the page's performance timeline.
EM_JS(void, MarkStep, (const char* step), { performance.mark('wg-' + UTF8ToString(step)); });

class WebGreeting {
 public:
  explicit WebGreeting(bool fixedStep) : fixedStep_(fixedStep) {}

  // Start-up and the first frame, drawn while the page waits for the visitor.
  void Start() {
    form_.reset();
    counter_.Set(0);
    framesDrawn_ = 0;
    notes_.clear();
    const std::string appFolder = platform::ApplicationFolder();
    app::Platform p{&window_, &counter_, &direct3d_, appFolder, audio::OutputMode::Device, {}};
    // The card as the exporter resolved it: the texts at their places; the media lie where the
    // application folder keeps them.
    const std::string cardFile = appFolder + "/" + app::kWebCardTexts;
    const auto bytes = d3dx::ReadFile("ReadCardTexts", cardFile);
    app::Card card = app::ReadCardTexts(std::string(bytes.begin(), bytes.end()), appFolder, cardFile);
    // The chosen tree: the application's own, drawn as it is, or one fitted and lit as on the desktop.
    const std::string fitFile = appFolder + "/" + app::kWebTreeFit;
    const auto fit = d3dx::ReadFile("ReadTreeFit", fitFile);
    if (const float height = app::ReadTreeFit(std::string(fit.begin(), fit.end()), fitFile); height > 0) {
      card.ownModel = true;
      card.modelHeight = height;
    }
    int w = 0, h = 0;
    window_.DrawableSize(w, h);
    p.framing = app::WebCanvasFraming(w, h);
    // A canvas no frame may have (the page sizes it within the limits) draws the picture at its size.
    if (p.framing.width != w || p.framing.height != h)
      emscripten_set_canvas_element_size("#scene", p.framing.width, p.framing.height);
    const std::string linkFile = appFolder + "/" + kLinkTexts;
    std::error_code ec;
    const bool link = std::filesystem::is_regular_file(linkFile, ec);
    app::FrameText linkText;
    if (link) {
      linkText = PlaceLinkTexts(ReadLinkTexts(linkFile), p.framing, notes_);
      card.greeting = linkText.greeting;
      card.credits = linkText.credits;
    } else {
      p.framing = FitText(card, p.framing);
    }
    form_ = std::make_unique<app::Form1>(p, std::move(card));
    if (link) form_->UseText(web::OpenBrowserText, std::move(linkText));
    // Each start-up step ends with a mark on the page's performance timeline, where the loading
    // benchmark reads where the time between the files' arrival and the first frame goes.
    form_->Startup(MarkStep);
    form_->D3D.MotionScale = motion_;
    if (fixedStep_) form_->D3D.D3DDevice->onPresent = [this] { counter_.Advance(kFixedStepCounts); };
    Pass(0, true);
  }

  // One pass of the main loop at `sceneMs` milliseconds of the scene's clock (ignored with a fixed
  // step); `shown` false: a frame the page will not show. Returns false once the window has been
  // unloaded (Escape held).
  bool Pass(double sceneMs, bool shown) {
    if (!form_) throw platform::Error("wg_frame", "the greeting did not start");
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
  // The orbit and the snow at `scale` (0..1) of their speed from the next frame on, restarts too.
  void SetMotion(double scale) {
    motion_ = scale > 0.0 ? std::min(scale, 1.0) : 0.0;
    if (form_) form_->D3D.MotionScale = motion_;
  }
  const std::string& Notes() const { return notes_; }
  std::string error;

 private:
  bool fixedStep_;
  platform::VirtualPerformanceCounter counter_{kFrequency};
  platform::Window window_{platform::WindowMode::Fullscreen};
  web::WebDirect3D8 direct3d_;
  std::unique_ptr<app::Form1> form_;
  std::int64_t framesDrawn_ = 0;
  double motion_ = 1.0;
  std::string notes_;
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

// The prepared face size (em pixels) a `w` x `h` canvas draws its text at: the page fetches that face
// before it starts the greeting at that size.
EMSCRIPTEN_KEEPALIVE int wg_text_pixels(int w, int h) {
  return app::WebCanvasFraming(w, h).textPixels;
}

EMSCRIPTEN_KEEPALIVE double wg_frames_drawn(WebGreeting* g) {
  return static_cast<double>(g->FramesDrawn());
}

// What the start left out of a link's texts and why, one note a line; empty when nothing was.
EMSCRIPTEN_KEEPALIVE const char* wg_notes(WebGreeting* g) {
  return g->Notes().c_str();
}

// The orbit and the snow at `scale` (0..1) of their speed (reduced motion: 0.25); the credit timer,
// the text and the tune keep theirs.
EMSCRIPTEN_KEEPALIVE void wg_set_motion(WebGreeting* g, double scale) {
  g->SetMotion(scale);
}

EMSCRIPTEN_KEEPALIVE const char* wg_error(WebGreeting* g) {
  return g->error.c_str();
}

EMSCRIPTEN_KEEPALIVE void wg_destroy(WebGreeting* g) {
  delete g;
}

}  // extern "C"
