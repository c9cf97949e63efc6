// The start-up window and the window system around it: key events with Windows virtual-key codes,
// close requests, the event pump, and the application folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

struct SDL_Window;

namespace platform {

enum class WindowMode {
  Fullscreen,  // takes the screen; the 1024 x 768 back buffer is scaled to fit, aspect kept
  Windowed,    // a resizable 1024 x 768 window, smaller where the screen is
  Headless,    // no window and no display at all
};

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

// The largest rectangle with the picture's aspect that fits in an area of `areaW` x `areaH`,
// centred in it: the bars left over are equal on both sides (or differ by one pixel).
Rect FitCentred(int pictureW, int pictureH, int areaW, int areaH);

struct WindowEvents {
  std::function<void(std::int16_t keyCode)> keyDown;
  std::function<void(std::int16_t keyCode)> keyUp;
  std::function<void()> close;
};

class Window {
 public:
  // Creates the window "Form1" (nothing at all in headless mode). Throws naming the SDL call and
  // suggesting --headless when there is no display. Fullscreen, the window covers the screen
  // whether or not a window manager runs; windowed, it lies wholly inside the screen's usable area,
  // frame included, at 1024 x 768 or, on a smaller screen, scaled down with its aspect kept.
  Window(WindowMode mode, const std::string& caption = "Form1");
  ~Window();
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Delivers every pending event to the handlers.
  void PumpEvents(const WindowEvents& handlers);

  WindowMode Mode() const { return mode_; }
  SDL_Window* Handle() const { return window_; }
  // The drawable size of the window in pixels (0 x 0 headless).
  void DrawableSize(int& w, int& h) const;

 private:
  WindowMode mode_;
  SDL_Window* window_ = nullptr;
};

// The Windows virtual-key code of an SDL key (Escape = 27, 'A' = 65, F1 = 112, ...); 0 when the key
// has none.
std::int16_t VirtualKeyFromSdl(std::int32_t sdlKeycode);

// The folder of the executable, without a trailing separator.
std::string ApplicationFolder();

}  // namespace platform
