// Direct3D 8 in the browser: devices on the page's canvas through WebGL2, drawn by the OpenGL
// backend in its WebGL2 dialect.
#include "platform/web/WebGl.h"

#include <GLES3/gl3.h>
#include <emscripten/html5.h>

#include "platform/base/Error.h"
#include "platform/gl/GlBackend.h"

// ES 3.0 declares buffer mapping, but WebGL2 has none and emscripten emulates it only with its
// full-ES3 layer. The backend's WebGL2 dialect uploads with glBufferSubData instead and never maps.
extern "C" void* glMapBufferRange(GLenum, GLintptr, GLsizeiptr, GLbitfield) {
  throw platform::Error("glMapBufferRange", "not available in WebGL2");
}
extern "C" GLboolean glUnmapBuffer(GLenum) {
  throw platform::Error("glUnmapBuffer", "not available in WebGL2");
}

namespace web {

namespace {

constexpr const char* kCanvas = "#scene";

// The page's one WebGL2 context, owned by the Direct3D object: devices come and go (the greeting
// starts again) on the same canvas.
class CanvasContext : public gl::GlContext {
 public:
  explicit CanvasContext(EMSCRIPTEN_WEBGL_CONTEXT_HANDLE ctx) : ctx_(ctx) {}
  void makeCurrent() override {
    if (emscripten_webgl_make_context_current(ctx_) != EMSCRIPTEN_RESULT_SUCCESS)
      throw platform::Error("emscripten_webgl_make_context_current", "the canvas's WebGL2 context is lost");
  }
  bool isCurrent() const override { return emscripten_webgl_get_current_context() == ctx_; }
  // The browser shows the canvas when the frame's script returns.
  void swap() override {}
  void drawableSize(int& w, int& h) override { emscripten_get_canvas_element_size(kCanvas, &w, &h); }
  bool headless() const override { return false; }

 private:
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE ctx_;
};

}  // namespace

WebDirect3D8::WebDirect3D8() {
  EmscriptenWebGLContextAttributes a;
  emscripten_webgl_init_context_attributes(&a);
  a.majorVersion = 2;
  a.minorVersion = 0;
  // The depth buffer and the picture's alpha live in the device's own back buffer, the canvas's size.
  a.alpha = EM_FALSE;
  a.depth = EM_FALSE;
  a.stencil = EM_FALSE;
  a.antialias = EM_FALSE;
  a.premultipliedAlpha = EM_FALSE;
  a.preserveDrawingBuffer = EM_FALSE;
  context_ = emscripten_webgl_create_context(kCanvas, &a);
  if (context_ <= 0)
    throw platform::Error("emscripten_webgl_create_context",
                          "this browser offers no WebGL2 on the page's canvas");
}

WebDirect3D8::~WebDirect3D8() {
  emscripten_webgl_destroy_context(context_);
}

d3d::D3DDISPLAYMODE WebDirect3D8::GetAdapterDisplayMode(d3d::DWORD adapter) {
  if (adapter != d3d::D3DADAPTER_DEFAULT)
    throw platform::Error("GetAdapterDisplayMode", "no adapter " + std::to_string(adapter));
  return d3d::D3DDISPLAYMODE{1024, 768, 60, d3d::D3DFMT_X8R8G8B8};
}

std::unique_ptr<d3d::Device> WebDirect3D8::CreateDevice(d3d::DWORD adapter, d3d::DWORD deviceType,
                                                        void* focusWindow, d3d::DWORD behaviorFlags,
                                                        const d3d::D3DPRESENT_PARAMETERS& params) {
  (void)focusWindow;
  (void)behaviorFlags;
  if (adapter != d3d::D3DADAPTER_DEFAULT || deviceType != d3d::D3DDEVTYPE_HAL)
    throw platform::Error("CreateDevice", "no such adapter or device type");
  d3d::CheckPresentParameters(params);
  const int w = static_cast<int>(params.BackBufferWidth), h = static_cast<int>(params.BackBufferHeight);
  return std::make_unique<d3d::Device>(
      std::make_unique<gl::GlBackend>(std::make_unique<CanvasContext>(context_), w, h, gl::GlDialect::WebGl2),
      params.BackBufferWidth, params.BackBufferHeight);
}

}  // namespace web
