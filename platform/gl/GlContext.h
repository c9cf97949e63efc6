// An OpenGL 3.3 core context: on the program's SDL window, or headless through EGL on Mesa
// (surfaceless, so no display is needed).
#pragma once

#include <memory>

struct SDL_Window;

namespace gl {

class GlContext {
 public:
  virtual ~GlContext() = default;
  virtual void makeCurrent() = 0;
  // Whether this context is the calling thread's current one; several devices may be alive at once.
  virtual bool isCurrent() const = 0;
  // Shows the default framebuffer (a no-op headless).
  virtual void swap() = 0;
  // The default framebuffer's size in pixels; 0 x 0 when there is none.
  virtual void drawableSize(int& w, int& h) = 0;
  virtual bool headless() const = 0;
};

// Throws naming the failing SDL or EGL call.
std::unique_ptr<GlContext> CreateWindowContext(SDL_Window* window, bool vsync);
std::unique_ptr<GlContext> CreateHeadlessContext();

}  // namespace gl
