// Which reader a model file goes to.
#include <algorithm>
#include <cmath>

#include "platform/base/Error.h"
#include "platform/d3dx/GltfFile.h"
#include "platform/d3dx/ObjFile.h"
#include "platform/d3dx/XFile.h"

namespace d3dx {

namespace {

std::uint8_t Channel(float v) {
  return static_cast<std::uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
}

// glTF and OBJ colour a vertex by its colour times its material's: the device's lighting takes one
// or the other, so each vertex's colour is multiplied by its triangle's material colour here (a
// vertex that triangles of two materials share is split), and the materials keep the rest.
void BakeMaterialColours(XModel& m) {
  if (!m.hasColors) return;
  std::vector<std::int64_t> materialOf(m.vertices.size(), -1);
  // Each vertex's own colour, before any material's is multiplied in.
  std::vector<d3d::D3DCOLOR> own;
  own.reserve(m.vertices.size());
  for (const XVertex& v : m.vertices) own.push_back(v.color);
  const std::size_t triangles = m.attributes.size();
  for (std::size_t t = 0; t < triangles; ++t) {
    const std::uint32_t a = m.attributes[t];
    if (a >= m.materials.size()) continue;
    for (std::size_t c = 0; c < 3; ++c) {
      std::uint32_t& index = m.indices[3 * t + c];
      if (materialOf[index] == a) continue;
      if (materialOf[index] >= 0) {
        if (m.vertices.size() >= kMaxModelVertices)
          throw platform::Error("D3DXLoadMeshFromX", "too many vertices");
        m.vertices.push_back(m.vertices[index]);
        materialOf.push_back(-1);
        own.push_back(own[index]);
        index = static_cast<std::uint32_t>(m.vertices.size() - 1);
      }
      materialOf[index] = a;
      const d3d::D3DCOLORVALUE& k = m.materials[a].material.Diffuse;
      XVertex& v = m.vertices[index];
      const auto at = [&](int shift) { return static_cast<float>((own[index] >> shift) & 0xFFu) / 255.0f; };
      v.color = static_cast<d3d::D3DCOLOR>(Channel(at(24) * k.a)) << 24 | Channel(at(16) * k.r) << 16 |
                Channel(at(8) * k.g) << 8 | Channel(at(0) * k.b);
    }
  }
}

}  // namespace

XModel ParseModel(const std::uint8_t* data, std::size_t size, const std::string& file,
                  const std::string& call) {
  // The files a model names lie beside it.
  const std::size_t slash = file.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : file.substr(0, slash == 0 ? 1 : slash);
  XModel model;
  if (LooksLikeGltf(data, size))
    model = ParseGltf(data, size, file, folder, call);
  else if (LooksLikeObj(file))
    model = ParseObj(data, size, file, folder, call);
  else {
    // An X file says nothing of sides: its faces are seen from both, as the scene draws its own tree.
    model = ParseXFile(data, size, file, call);
    for (XMaterial& m : model.materials) m.doubleSided = true;
    return model;
  }
  BakeMaterialColours(model);
  return model;
}

}  // namespace d3dx
