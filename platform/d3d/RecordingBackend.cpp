#include "platform/d3d/RecordingBackend.h"

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
  d.vertexData.assign(call.vertices, call.vertices + static_cast<std::size_t>(call.vertexCount) * call.stride);
  if (call.indices) d.indexData.assign(call.indices, call.indices + call.indexCount);
  d.call.vertices = nullptr;
  d.call.indices = nullptr;
  d.call.buffer = nullptr;
  d.state = state;
  draws.push_back(std::move(d));
}

std::vector<std::string> RecordingBackend::callNames() const {
  std::vector<std::string> names;
  names.reserve(calls.size());
  for (const auto& c : calls) names.push_back(c.name);
  return names;
}

}  // namespace d3d
