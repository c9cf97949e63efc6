// What every model loader's harness does with a model it accepted: draw each subset on a recording
// device, which refuses any call that breaks its rules (an index past the vertices, a bad count).
#pragma once

#include <cstddef>
#include <memory>

#include "platform/d3dx/Mesh.h"
#include "platform/d3dx/XFile.h"
#include "tests/support/RecordingBackend.h"

namespace fuzz {

inline void DrawEverySubset(const d3dx::XModel& model) {
  auto backend = std::make_unique<d3d::RecordingBackend>();
  backend->recordCalls = false;
  backend->keepDraws = false;
  d3d::Device device(std::move(backend));
  d3dx::D3DXMesh mesh(device, model, d3dx::D3DXMESH_MANAGED);
  device.BeginScene();
  for (std::size_t i = 0; i < model.materials.size(); ++i) mesh.DrawSubset(static_cast<d3d::DWORD>(i));
  device.EndScene();
}

}  // namespace fuzz
