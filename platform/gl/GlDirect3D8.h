// Direct3D 8 on OpenGL: devices on the program's window, or headless.
#pragma once

#include "platform/d3d/Direct3D8.h"
#include "platform/gl/ProgramCache.h"

namespace gl {

class GlDirect3D8 : public d3d::Direct3D8 {
 public:
  // headless: EGL without a display; otherwise the focus window passed to CreateDevice is the
  // platform::Window whose SDL window receives the context. `dialect` WebGl2 draws with only what
  // WebGL2 offers, as the browser does (desktop OpenGL compiles its shader too).
  explicit GlDirect3D8(bool headless, bool vsync = true, GlDialect dialect = GlDialect::Desktop33,
                       KeyDefinesFn keyDefines = ProgramKeyDefines)
      : headless_(headless), vsync_(vsync), dialect_(dialect), keyDefines_(keyDefines) {}
  d3d::D3DDISPLAYMODE GetAdapterDisplayMode(d3d::DWORD adapter) override;
  std::unique_ptr<d3d::Device> CreateDevice(d3d::DWORD adapter, d3d::DWORD deviceType, void* focusWindow,
                                            d3d::DWORD behaviorFlags,
                                            const d3d::D3DPRESENT_PARAMETERS& params) override;

 private:
  bool headless_;
  bool vsync_;
  GlDialect dialect_;
  KeyDefinesFn keyDefines_;
};

}  // namespace gl
