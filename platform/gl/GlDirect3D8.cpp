#include "platform/gl/GlDirect3D8.h"

#include "platform/base/Error.h"
#include "platform/gl/GlBackend.h"
#include "platform/window/Window.h"

namespace gl {

d3d::D3DDISPLAYMODE GlDirect3D8::GetAdapterDisplayMode(d3d::DWORD adapter) {
  if (adapter != d3d::D3DADAPTER_DEFAULT)
    throw platform::Error("GetAdapterDisplayMode", "no adapter " + std::to_string(adapter));
  return d3d::D3DDISPLAYMODE{1024, 768, 60, d3d::D3DFMT_X8R8G8B8};
}

std::unique_ptr<d3d::Device> GlDirect3D8::CreateDevice(d3d::DWORD adapter, d3d::DWORD deviceType, void* focusWindow,
                                                       d3d::DWORD behaviorFlags,
                                                       const d3d::D3DPRESENT_PARAMETERS& params) {
  (void)behaviorFlags;
  if (adapter != d3d::D3DADAPTER_DEFAULT || deviceType != d3d::D3DDEVTYPE_HAL)
    throw platform::Error("CreateDevice", "no such adapter or device type");
  d3d::CheckPresentParameters(params);
  std::unique_ptr<GlContext> context;
  if (headless_) {
    context = CreateHeadlessContext();
  } else {
    auto* window = static_cast<platform::Window*>(focusWindow);
    if (!window || !window->Handle()) throw platform::Error("CreateDevice", "no focus window");
    context = CreateWindowContext(window->Handle(), vsync_);
  }
  const int w = static_cast<int>(params.BackBufferWidth), h = static_cast<int>(params.BackBufferHeight);
  return std::make_unique<d3d::Device>(
      std::make_unique<GlBackend>(std::move(context), w, h, dialect_, keyDefines_), params.BackBufferWidth,
      params.BackBufferHeight);
}

}  // namespace gl
