// The program's one window: start-up in its load handler, the key table, the Escape check, the
// credit-line timer and the unload handler.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/Card.h"
#include "app/modAPI.h"
#include "music/modMusic.h"
#include "platform/d3d/Direct3D8.h"
#include "platform/window/IntervalTimer.h"
#include "platform/window/PerformanceCounter.h"
#include "platform/window/Window.h"
#include "render/Credits.h"
#include "render/Framing.h"
#include "render/Random.h"
#include "render/modD3D.h"
#include "render/modGen.h"
#include "snow/modSnow.h"

namespace app {

struct Platform {
  platform::Window* window = nullptr;  // null: no window system (tests)
  platform::PerformanceCounter* counter = nullptr;
  d3d::Direct3D8* direct3d = nullptr;
  std::string appPath;
  // Where the music goes: the audio device, or nowhere until someone renders it (tests, headless).
  audio::OutputMode musicOutput = audio::OutputMode::Offline;
  // The frame's size and shape: the picture's own 1024 x 768 unless a size was asked for.
  render::Framing framing;
};

class Form1 {
 public:
  // Loading the window starts its timer. Start-up reads its media and texts from `card`; without one,
  // from the application folder, with the built-in texts.
  explicit Form1(const Platform& platform);
  Form1(const Platform& platform, Card card);
  ~Form1();

  // Start-up in its fixed order (everything before the main loop).
  // `stepDone`, when given, hears the name of each start-up step as it ends (start-up timings).
  void Startup(const std::function<void(const char* step)>& stepDone = {});
  // The main loop; returns once the window has been unloaded, or after `maxFrames` frames when it is
  // not negative (headless runs and tests).
  void MainLoop(std::int64_t maxFrames = -1);
  // Start-up, then the main loop for ever.
  void Form_Load() {
    Startup();
    MainLoop();
  }

  // Before Startup: text from another text stack (a web link's texts, which the browser draws). The
  // text font's glyphs come from `glyphs`, and `placed`, laid out for the frame with them, stands for
  // the card's lines.
  void UseText(d3dx::GlyphSourceOpener glyphs, FrameText placed) {
    textGlyphs_ = std::move(glyphs);
    placedText_ = std::move(placed);
  }

  // One pass of the event pump: window events, then the timer's pending tick.
  void PumpEvents();
  void Form_KeyDown(std::int16_t keyCode, std::int16_t shift);
  void Form_KeyUp(std::int16_t keyCode, std::int16_t shift);
  void ASCKEY();
  void Form_Unload(std::int16_t& cancel);
  void tmrTitle_Timer();

  bool Unloaded() const { return unloaded_; }
  bool KeyTable(std::size_t code) const { return KeyTable_[code] != 0; }

  // The modules, in the order they are built.
  render::Random Rnd;
  modAPI API;
  render::modD3D D3D;
  render::modGen Gen;
  snow::modSnow Snow;
  music::modMusic Music;
  render::Credits Titles;
  platform::IntervalTimer tmrTitle;

 private:
  Platform platform_;
  Card card_;
  d3dx::GlyphSourceOpener textGlyphs_;
  std::optional<FrameText> placedText_;
  std::array<std::int16_t, 256> KeyTable_{};
  bool unloaded_ = false;
};

}  // namespace app
