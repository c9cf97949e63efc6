// D3DX meshes: a model from an X file in one flexible vertex format, its triangles grouped into
// subsets by material number, and the material buffer that comes with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"
#include "platform/d3dx/XFile.h"

namespace d3dx {

enum : d3d::DWORD { D3DXMESH_32BIT = 0x001, D3DXMESH_MANAGED = 0x220 };

class D3DXMesh {
 public:
  // The largest vertex count one 16-bit-indexed draw can address.
  static constexpr std::size_t kMaxBatchVertices = 65535;

  // Lays out `model`'s vertices as position, then normal, diffuse colour and one texture
  // coordinate set where the model has them. `device` is where DrawSubset draws.
  D3DXMesh(d3d::Device& device, const XModel& model, d3d::DWORD options);

  d3d::DWORD GetFVF() const { return fvf_; }
  d3d::DWORD GetNumBytesPerVertex() const { return stride_; }
  d3d::DWORD GetNumVertices() const { return static_cast<d3d::DWORD>(vertices_.size() / stride_); }
  d3d::DWORD GetNumFaces() const { return static_cast<d3d::DWORD>(attributes_.size()); }
  d3d::DWORD GetOptions() const { return options_; }
  d3d::Device& GetDevice() const { return device_; }
  // The vertex records, three indices per face, and each face's material number.
  const std::vector<std::uint8_t>& VertexData() const { return vertices_; }
  const std::vector<std::uint32_t>& Indices() const { return indices_; }
  const std::vector<std::uint32_t>& Attributes() const { return attributes_; }
  // Vertex i decoded from its record; the fields the format lacks hold their defaults.
  XVertex GetVertex(d3d::DWORD i) const;
  // Faces of subset i; 0 for a material number no face uses.
  d3d::DWORD GetSubsetFaceCount(d3d::DWORD attribId) const;

  // Draws the faces whose material number is `attribId`: the model's vertex format, its vertex
  // buffer as stream 0, then per run of at most 65535 vertices the index buffer based at the run's
  // first vertex and one indexed triangle-list draw. A subset without faces draws nothing.
  void DrawSubset(d3d::DWORD attribId);

  // The buffers the draws read: every run's vertices one after another, and their 16-bit indices,
  // each run's relative to its first vertex. Written once, when the mesh is made; null for a mesh
  // without faces.
  const std::shared_ptr<d3d::VertexBuffer>& GetVertexBuffer() const { return vertexBuffer_; }
  const std::shared_ptr<d3d::IndexBuffer>& GetIndexBuffer() const { return indexBuffer_; }

 private:
  // A run of a subset's faces over its own copy of the vertices they use: where they lie in the
  // buffers.
  struct Batch {
    d3d::DWORD baseVertex = 0, vertexCount = 0;
    d3d::DWORD startIndex = 0, faceCount = 0;
  };
  void buildBatches();

  d3d::Device& device_;
  d3d::DWORD options_;
  d3d::DWORD fvf_ = 0;
  d3d::DWORD stride_ = 0;
  std::vector<std::uint8_t> vertices_;
  std::vector<std::uint32_t> indices_;
  std::vector<std::uint32_t> attributes_;
  std::vector<std::vector<Batch>> subsets_;
  std::shared_ptr<d3d::VertexBuffer> vertexBuffer_;
  std::shared_ptr<d3d::IndexBuffer> indexBuffer_;
};

// The material buffer LoadMeshFromX returns: one material record and texture file name each.
class D3DXMaterialBuffer {
 public:
  D3DXMaterialBuffer() = default;
  explicit D3DXMaterialBuffer(std::vector<XMaterial> materials) : materials_(std::move(materials)) {}

  d3d::DWORD Count() const { return static_cast<d3d::DWORD>(materials_.size()); }
  // Both throw naming the call when `i` is not a material of the buffer.
  d3d::D3DMATERIAL8 GetMaterial(d3d::DWORD i) const;
  std::string GetTextureName(d3d::DWORD i) const;
  // The whole material as read: its image where the model carries one inside, its alpha mode, sides.
  const XMaterial& GetXMaterial(d3d::DWORD i) const;
  void Release() { materials_.clear(); }

 private:
  std::vector<XMaterial> materials_;
};

// D3DXLoadMeshFromX: reads the X file at `path` (looked up as Windows would: platform::FindFile)
// and returns its mesh for `device`; fills `materials` and `numMaterials`. A missing, unreadable or
// malformed file is an error naming it.
std::unique_ptr<D3DXMesh> D3DXLoadMeshFromX(const std::string& path, d3d::DWORD options, d3d::Device& device,
                                            D3DXMaterialBuffer& materials, d3d::DWORD& numMaterials);

}  // namespace d3dx
