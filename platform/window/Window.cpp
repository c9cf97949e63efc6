#include "platform/window/Window.h"

#include <SDL.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/base/Error.h"
#include "platform/window/PerformanceCounter.h"

namespace platform {

namespace {

constexpr int kPictureW = 1024, kPictureH = 768;

// The window's client size for an area: the picture's own size, or smaller with its aspect kept.
Rect windowFit(int areaW, int areaH) {
  if (areaW >= kPictureW && areaH >= kPictureH) return Rect{0, 0, kPictureW, kPictureH};
  return FitCentred(kPictureW, kPictureH, std::max(areaW, 1), std::max(areaH, 1));
}

// Once a window manager has framed the window, shrinks it (if the frame pushes it past the usable
// area) and centres it, frame included. A window manager announces the frame shortly after mapping
// the window; without one no frame comes and the window stays as created.
void placeInsideUsableArea(SDL_Window* window) {
  int top = 0, left = 0, bottom = 0, right = 0;
  const Uint64 deadline = SDL_GetTicks64() + 250;
  while (SDL_GetTicks64() < deadline) {
    SDL_PumpEvents();
    if (SDL_GetWindowBordersSize(window, &top, &left, &bottom, &right) == 0 &&
        top + left + bottom + right > 0)
      break;
    SDL_Delay(10);
  }
  SDL_Rect usable{0, 0, kPictureW, kPictureH};
  SDL_GetDisplayUsableBounds(SDL_GetWindowDisplayIndex(window), &usable);
  const int areaW = usable.w - left - right, areaH = usable.h - top - bottom;
  const Rect fit = windowFit(areaW, areaH);
  SDL_SetWindowSize(window, fit.w, fit.h);
  SDL_SetWindowPosition(window, usable.x + left + (areaW - fit.w) / 2, usable.y + top + (areaH - fit.h) / 2);
}

}  // namespace

std::int64_t SdlPerformanceCounter::QueryPerformanceFrequency() {
  return static_cast<std::int64_t>(SDL_GetPerformanceFrequency());
}
std::int64_t SdlPerformanceCounter::QueryPerformanceCounter() {
  return static_cast<std::int64_t>(SDL_GetPerformanceCounter());
}

Window::Window(WindowMode mode, const std::string& caption) : mode_(mode) {
  if (mode == WindowMode::Headless) return;
  if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0)
    throw Error(
        "SDL_Init(video)",
        std::string(SDL_GetError()) + "; no display is available: run with --headless to render without one");
  // Without a display SDL falls back to its offscreen driver, and the greeting would run unseen.
  const char* driver = SDL_GetCurrentVideoDriver();
  const char* asked = std::getenv("SDL_VIDEODRIVER");
  if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0) &&
      !(asked && *asked)) {
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    throw Error("SDL_Init(video)", "no display is available: run with --headless to render without one");
  }
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 3);
  SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
  Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN;
  SDL_Rect area{0, 0, kPictureW, kPictureH};
  if (mode == WindowMode::Fullscreen) {
    // Created at the screen's own size: with no window manager to act on the fullscreen request
    // (a kiosk, xinit), the window's geometry alone has to cover the screen.
    flags |= SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_GetDisplayBounds(0, &area);
  } else {
    flags |= SDL_WINDOW_RESIZABLE;
    SDL_GetDisplayUsableBounds(0, &area);
    const Rect fit = windowFit(area.w, area.h);
    area = SDL_Rect{static_cast<int>(SDL_WINDOWPOS_CENTERED), static_cast<int>(SDL_WINDOWPOS_CENTERED), fit.w,
                    fit.h};
  }
  window_ = SDL_CreateWindow(caption.c_str(), area.x, area.y, area.w, area.h, flags);
  if (!window_) {
    std::string err = SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    throw Error("SDL_CreateWindow", err + "; run with --headless to render without a display");
  }
  if (mode == WindowMode::Fullscreen) {
    SDL_ShowCursor(SDL_DISABLE);
    SDL_RaiseWindow(window_);
    // Without a window manager nobody hands the keyboard over, and Escape must reach the window.
    SDL_SetWindowInputFocus(window_);
  } else {
    placeInsideUsableArea(window_);
    SDL_RaiseWindow(window_);
  }
}

Window::~Window() {
  if (window_) SDL_DestroyWindow(window_);
  if (mode_ != WindowMode::Headless) SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
}

void Window::DrawableSize(int& w, int& h) const {
  w = h = 0;
  if (window_) SDL_GL_GetDrawableSize(window_, &w, &h);
}

void Window::PumpEvents(const WindowEvents& handlers) {
  if (mode_ == WindowMode::Headless) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        const std::int16_t vk = VirtualKeyFromSdl(e.key.keysym.sym);
        if (vk == 0) break;
        if (e.type == SDL_KEYDOWN && handlers.keyDown) handlers.keyDown(vk);
        if (e.type == SDL_KEYUP && handlers.keyUp) handlers.keyUp(vk);
        break;
      }
      case SDL_QUIT:
        if (handlers.close) handlers.close();
        break;
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_CLOSE && handlers.close) handlers.close();
        break;
      default:
        break;
    }
  }
}

std::int16_t VirtualKeyFromSdl(std::int32_t k) {
  if (k >= 'a' && k <= 'z') return static_cast<std::int16_t>(k - 'a' + 'A');
  if (k >= '0' && k <= '9') return static_cast<std::int16_t>(k);
  if (k >= SDLK_F1 && k <= SDLK_F12) return static_cast<std::int16_t>(112 + (k - SDLK_F1));
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return static_cast<std::int16_t>(0x61 + (k - SDLK_KP_1));
  switch (k) {
    case SDLK_ESCAPE:
      return 27;
    case SDLK_BACKSPACE:
      return 8;
    case SDLK_TAB:
      return 9;
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
      return 13;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
      return 16;
    case SDLK_LCTRL:
    case SDLK_RCTRL:
      return 17;
    case SDLK_LALT:
    case SDLK_RALT:
      return 18;
    case SDLK_PAUSE:
      return 19;
    case SDLK_CAPSLOCK:
      return 20;
    case SDLK_SPACE:
      return 32;
    case SDLK_PAGEUP:
      return 33;
    case SDLK_PAGEDOWN:
      return 34;
    case SDLK_END:
      return 35;
    case SDLK_HOME:
      return 36;
    case SDLK_LEFT:
      return 37;
    case SDLK_UP:
      return 38;
    case SDLK_RIGHT:
      return 39;
    case SDLK_DOWN:
      return 40;
    case SDLK_INSERT:
      return 45;
    case SDLK_DELETE:
      return 46;
    case SDLK_KP_0:
      return 0x60;
    case SDLK_KP_MULTIPLY:
      return 0x6A;
    case SDLK_KP_PLUS:
      return 0x6B;
    case SDLK_KP_MINUS:
      return 0x6D;
    case SDLK_KP_PERIOD:
      return 0x6E;
    case SDLK_KP_DIVIDE:
      return 0x6F;
    case SDLK_SEMICOLON:
      return 0xBA;
    case SDLK_EQUALS:
      return 0xBB;
    case SDLK_COMMA:
      return 0xBC;
    case SDLK_MINUS:
      return 0xBD;
    case SDLK_PERIOD:
      return 0xBE;
    case SDLK_SLASH:
      return 0xBF;
    case SDLK_BACKQUOTE:
      return 0xC0;
    case SDLK_LEFTBRACKET:
      return 0xDB;
    case SDLK_BACKSLASH:
      return 0xDC;
    case SDLK_RIGHTBRACKET:
      return 0xDD;
    case SDLK_QUOTE:
      return 0xDE;
    default:
      return 0;
  }
}

std::string ApplicationFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) throw Error("ApplicationFolder", "cannot read /proc/self/exe");
  std::string path(buf, static_cast<std::size_t>(n));
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
}

}  // namespace platform
