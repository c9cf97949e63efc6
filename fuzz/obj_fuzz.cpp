// The OBJ loader on arbitrary bytes. Input up to a line "%%" is the OBJ; what follows, when there is
// such a line, is written as the material library m.mtl in a scratch folder the OBJ is read from.
// Parsing may fail only with platform::Error; a model it accepts must index only what it holds and
// draw every subset on the device without the device refusing a single call.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "fuzz/DrawModel.h"
#include "platform/base/Error.h"
#include "platform/d3dx/ObjFile.h"

namespace {

const std::string& ScratchFolder() {
  static const std::string folder = [] {
    char name[] = "/tmp/obj_fuzz.XXXXXX";
    const char* made = mkdtemp(name);
    if (made == nullptr) std::abort();
    return std::string(made);
  }();
  return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find("\n%%\n");
  std::string folder;
  if (split != std::string_view::npos) {
    folder = ScratchFolder();
    std::ofstream(folder + "/m.mtl", std::ios::binary | std::ios::trunc) << input.substr(split + 4);
  }
  const std::size_t objSize = split == std::string_view::npos ? size : split + 1;
  d3dx::XModel model;
  try {
    model = d3dx::ParseObj(data, objSize, "fuzz.obj", folder);
  } catch (const platform::Error&) {
    return 0;
  }
  if (model.indices.size() != model.attributes.size() * 3) __builtin_trap();
  for (std::uint32_t i : model.indices)
    if (i >= model.vertices.size()) __builtin_trap();
  for (std::uint32_t a : model.attributes)
    if (a >= model.materials.size()) __builtin_trap();
  wgfuzz::DrawEverySubset(model);
  return 0;
}
