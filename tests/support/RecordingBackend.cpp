#include "tests/support/RecordingBackend.h"

#include "platform/base/Error.h"

namespace d3d {

void RecordingBackend::clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
  (void)z;
  (void)stencil;
  ++clears;
  lastClearFlags = flags;
  lastClearColor = color;
}

void RecordingBackend::draw(const DrawCall& call, const DeviceState& state) {
  ++drawCount;
  if (!keepDraws) return;
  Draw d;
  d.call = call;
  d.vertexData.assign(call.vertices,
                      call.vertices + static_cast<std::size_t>(call.vertexCount) * call.stride);
  if (call.indices) d.indexData.assign(call.indices, call.indices + call.indexCount);
  d.call.vertices = nullptr;
  d.call.indices = nullptr;
  d.call.buffer = nullptr;
  d.call.indexBuffer = nullptr;
  d.state = state;
  draws.push_back(std::move(d));
}

std::vector<std::string> RecordingBackend::callNames() const {
  std::vector<std::string> names;
  names.reserve(calls.size());
  for (const auto& c : calls) names.push_back(c.name);
  return names;
}

D3DDISPLAYMODE RecordingDirect3D8::GetAdapterDisplayMode(DWORD adapter) {
  if (adapter != D3DADAPTER_DEFAULT)
    throw platform::Error("GetAdapterDisplayMode", "no adapter " + std::to_string(adapter));
  return D3DDISPLAYMODE{1024, 768, 60, D3DFMT_X8R8G8B8};
}

std::unique_ptr<Device> RecordingDirect3D8::CreateDevice(DWORD adapter, DWORD deviceType, void* focusWindow,
                                                         DWORD behaviorFlags,
                                                         const D3DPRESENT_PARAMETERS& params) {
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
