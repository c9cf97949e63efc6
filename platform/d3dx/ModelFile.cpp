// Which reader a model file goes to.
#include "platform/d3dx/GltfFile.h"
#include "platform/d3dx/ObjFile.h"
#include "platform/d3dx/XFile.h"

namespace d3dx {

XModel ParseModel(const std::uint8_t* data, std::size_t size, const std::string& file, const std::string& call) {
  // The files a model names lie beside it.
  const std::size_t slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
  if (LooksLikeGltf(data, size)) return ParseGltf(data, size, file, folder, call);
  if (LooksLikeObj(file)) return ParseObj(data, size, file, folder, call);
  return ParseXFile(data, size, file, call);
}

}  // namespace d3dx
