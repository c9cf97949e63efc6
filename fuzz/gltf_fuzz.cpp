// The glTF reader on arbitrary bytes, read alone (every file beside it refused): parsing may fail
// only with platform::Error, and a model it accepts must draw every subset on the device without the
// device refusing a single call.
#include <cstddef>
#include <cstdint>

#include "fuzz/DrawModel.h"
#include "platform/base/Error.h"
#include "platform/d3dx/GltfFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  d3dx::XModel model;
  try {
    model = d3dx::ParseGltf(data, size, "fuzz.glb", "");
  } catch (const platform::Error&) {
    return 0;
  }
  wgfuzz::DrawEverySubset(model);
  return 0;
}
