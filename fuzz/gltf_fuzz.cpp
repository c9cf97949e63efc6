// The glTF reader on arbitrary bytes, read alone (every file beside it refused): parsing may fail
// only with platform::Error, and a model it accepts must draw every subset on the device without the
// device refusing a single call.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/base/Error.h"
#include "platform/d3dx/GltfFile.h"
#include "platform/d3dx/Mesh.h"
#include "tests/support/RecordingBackend.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d3dx::XModel model;
  try {
    model = d3dx::ParseGltf(data, size, "fuzz.glb", "");
  } catch (const platform::Error&) {
    return 0;
  }
  auto backend = std::make_unique<d3d::RecordingBackend>();
  backend->recordCalls = false;
  backend->keepDraws = false;
  d3d::Device device(std::move(backend));
  d3dx::D3DXMesh mesh(device, model, d3dx::D3DXMESH_MANAGED);
  device.BeginScene();
  for (std::size_t i = 0; i < model.materials.size(); ++i) mesh.DrawSubset(static_cast<d3d::DWORD>(i));
  device.EndScene();
  return 0;
}
