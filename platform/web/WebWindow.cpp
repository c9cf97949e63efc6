// The browser's window: the page's keyboard, the events queued until the main loop pumps them, and
// the application folder, which is where the page's script put the greeting in the runtime's file
// system.
#include <emscripten/html5.h>

#include <deque>
#include <string>
#include <utility>

#include "platform/base/Error.h"
#include "platform/window/Window.h"

// The window object behind the handle. No SDL exists in the browser; the handle's type names the
// platform's window, and here that is the page's pending key events: (key code, down). The browser
// delivers them between frames and the main loop's pump hands them on, so the key table changes only
// between frames, as on the desktop.
struct SDL_Window {
  std::deque<std::pair<std::int16_t, bool>> keys;
};

namespace platform {

namespace {

// The Windows virtual-key code of a key event: the browser's legacy key code is that code for the
// keys the greeting could look at (Escape is 27); anything beyond 1..255 is not passed on.
std::int16_t virtualKey(const EmscriptenKeyboardEvent& e) {
  unsigned code = e.keyCode;
  if (code == 0 && std::string(e.key) == "Escape") code = 27;
  return code >= 1 && code <= 255 ? static_cast<std::int16_t>(code) : 0;
}

EM_BOOL onKey(int type, const EmscriptenKeyboardEvent* e, void* user) {
  const std::int16_t code = virtualKey(*e);
  if (code != 0) static_cast<SDL_Window*>(user)->keys.emplace_back(code, type == EMSCRIPTEN_EVENT_KEYDOWN);
  return EM_FALSE;  // the page keeps its own use of the keys
}

}  // namespace

Window::Window(WindowMode mode, const std::string& caption) : mode_(mode) {
  (void)caption;
  if (mode == WindowMode::Headless) return;
  window_ = new SDL_Window();
  if (emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, window_, EM_TRUE, onKey) < 0 ||
      emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, window_, EM_TRUE, onKey) < 0) {
    delete window_;
    window_ = nullptr;
    throw Error("emscripten_set_keydown_callback", "the page's keyboard cannot be listened to");
  }
}

Window::~Window() {
  if (!window_) return;
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, nullptr);
  emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, nullptr);
  delete window_;
}

void Window::DrawableSize(int& w, int& h) const {
  w = h = 0;
  if (window_) emscripten_get_canvas_element_size("#scene", &w, &h);
}

void Window::PumpEvents(const WindowEvents& handlers) {
  if (!window_) return;
  auto& queue = window_->keys;
  while (!queue.empty()) {
    const auto [code, down] = queue.front();
    queue.pop_front();
    if (down && handlers.keyDown) handlers.keyDown(code);
    if (!down && handlers.keyUp) handlers.keyUp(code);
  }
}

std::string ApplicationFolder() {
  return "/greeting";
}

}  // namespace platform
