#include "platform/gl/GlContext.h"

#include <SDL.h>
#include <epoxy/egl.h>
#include <epoxy/gl.h>

#include <string>

#include "platform/base/Error.h"

namespace gl {

namespace {

class SdlContext : public GlContext {
 public:
  SdlContext(SDL_Window* w, bool vsync) : window_(w) {
    ctx_ = SDL_GL_CreateContext(w);
    if (!ctx_) throw platform::Error("SDL_GL_CreateContext", SDL_GetError());
    SDL_GL_MakeCurrent(w, ctx_);
    SDL_GL_SetSwapInterval(vsync ? 1 : 0);
  }
  ~SdlContext() override { SDL_GL_DeleteContext(ctx_); }
  void makeCurrent() override {
    if (SDL_GL_MakeCurrent(window_, ctx_) != 0) throw platform::Error("SDL_GL_MakeCurrent", SDL_GetError());
  }
  bool isCurrent() const override { return SDL_GL_GetCurrentContext() == ctx_; }
  void swap() override { SDL_GL_SwapWindow(window_); }
  void drawableSize(int& w, int& h) override { SDL_GL_GetDrawableSize(window_, &w, &h); }
  bool headless() const override { return false; }

 private:
  SDL_Window* window_;
  SDL_GLContext ctx_;
};

std::string eglError(const char* call) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "EGL error 0x%X", static_cast<unsigned>(eglGetError()));
  return std::string(call) + " failed: " + buf;
}

class EglContext : public GlContext {
 public:
  EglContext() {
    if (epoxy_has_egl_extension(EGL_NO_DISPLAY, "EGL_MESA_platform_surfaceless"))
      display_ = eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    if (display_ == EGL_NO_DISPLAY) display_ = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (display_ == EGL_NO_DISPLAY) throw platform::Error("eglGetDisplay", "no EGL display for headless rendering");
    EGLint major = 0, minor = 0;
    if (!eglInitialize(display_, &major, &minor)) throw platform::Error("eglInitialize", eglError("eglInitialize"));
    if (!eglBindAPI(EGL_OPENGL_API)) throw platform::Error("eglBindAPI", eglError("eglBindAPI"));
    const EGLint cfgAttr[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig cfg = nullptr;
    EGLint n = 0;
    eglChooseConfig(display_, cfgAttr, &cfg, 1, &n);
    const EGLint ctxAttr[] = {EGL_CONTEXT_MAJOR_VERSION,
                              3,
                              EGL_CONTEXT_MINOR_VERSION,
                              3,
                              EGL_CONTEXT_OPENGL_PROFILE_MASK,
                              EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                              EGL_NONE};
    ctx_ = eglCreateContext(display_, n > 0 ? cfg : EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, ctxAttr);
    if (ctx_ == EGL_NO_CONTEXT) throw platform::Error("eglCreateContext", eglError("eglCreateContext"));
    makeCurrent();
  }
  // The display stays initialised: EGL shares one display among all its contexts, and terminating
  // it would destroy the contexts of other devices still alive.
  ~EglContext() override {
    if (eglGetCurrentContext() == ctx_) eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display_, ctx_);
  }
  void makeCurrent() override {
    if (!eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, ctx_))
      throw platform::Error("eglMakeCurrent", eglError("eglMakeCurrent"));
  }
  bool isCurrent() const override { return eglGetCurrentContext() == ctx_; }
  void swap() override {}
  void drawableSize(int& w, int& h) override { w = h = 0; }
  bool headless() const override { return true; }

 private:
  EGLDisplay display_ = EGL_NO_DISPLAY;
  EGLContext ctx_ = EGL_NO_CONTEXT;
};

}  // namespace

std::unique_ptr<GlContext> CreateWindowContext(SDL_Window* window, bool vsync) {
  return std::make_unique<SdlContext>(window, vsync);
}

std::unique_ptr<GlContext> CreateHeadlessContext() { return std::make_unique<EglContext>(); }

}  // namespace gl
