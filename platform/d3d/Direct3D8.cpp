#include "platform/d3d/Direct3D8.h"

#include "platform/base/Error.h"
#include "platform/d3d/RecordingBackend.h"

namespace d3d {

void CheckPresentParameters(const D3DPRESENT_PARAMETERS& p) {
  if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0 || p.BackBufferWidth > 16384 || p.BackBufferHeight > 16384)
    throw platform::Error("CreateDevice", "back buffer " + std::to_string(p.BackBufferWidth) + "x" +
                                              std::to_string(p.BackBufferHeight) + " not available");
  if (p.EnableAutoDepthStencil && p.AutoDepthStencilFormat != D3DFMT_D16)
    throw platform::Error("CreateDevice", "depth format " + std::to_string(p.AutoDepthStencilFormat) + " not available");
}

D3DDISPLAYMODE RecordingDirect3D8::GetAdapterDisplayMode(DWORD adapter) {
  if (adapter != D3DADAPTER_DEFAULT) throw platform::Error("GetAdapterDisplayMode", "no adapter " + std::to_string(adapter));
  return D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8};
}

std::unique_ptr<Device> RecordingDirect3D8::CreateDevice(DWORD adapter, DWORD deviceType, void* focusWindow,
                                                         DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params) {
  (void)focusWindow;
  if (adapter != D3DADAPTER_DEFAULT || deviceType != D3DDEVTYPE_HAL)
    throw platform::Error("CreateDevice", "no such adapter or device type");
  CheckPresentParameters(params);
  auto backend = std::make_unique<RecordingBackend>();
  backend->recordCalls = recordCalls;
  last = backend.get();
  lastParams = params;
  lastBehaviorFlags = behaviorFlags;
  return std::make_unique<Device>(std::move(backend), params.BackBufferWidth, params.BackBufferHeight);
}

}  // namespace d3d
