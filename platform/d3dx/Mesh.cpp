#include "platform/d3dx/Mesh.h"

#include <algorithm>
#include <cstring>

#include "platform/base/Error.h"
#include "platform/d3dx/Texture.h"

namespace d3dx {

using namespace d3d;

D3DXMesh::D3DXMesh(Device& device, const XModel& model, DWORD options)
    : device_(device), options_(options), indices_(model.indices), attributes_(model.attributes) {
  if (indices_.size() != 3 * attributes_.size())
    throw platform::Error("D3DXMesh", "index count is not three per face");
  for (std::uint32_t i : indices_)
    if (i >= model.vertices.size())
      throw platform::Error("D3DXMesh", "vertex index " + std::to_string(i) + " out of range");
  fvf_ = D3DFVF_XYZ;
  if (model.hasNormals) fvf_ |= D3DFVF_NORMAL;
  if (model.hasColors) fvf_ |= D3DFVF_DIFFUSE;
  if (model.hasTexCoords) fvf_ |= D3DFVF_TEX1;
  stride_ = GetFVFVertexSize(fvf_);
  vertices_.resize(model.vertices.size() * stride_);
  std::uint8_t* p = vertices_.data();
  for (const XVertex& v : model.vertices) {
    auto put = [&p](const void* src, std::size_t n) {
      std::memcpy(p, src, n);
      p += n;
    };
    put(&v.position, 12);
    if (model.hasNormals) put(&v.normal, 12);
    if (model.hasColors) put(&v.color, 4);
    if (model.hasTexCoords) {
      put(&v.tu, 4);
      put(&v.tv, 4);
    }
  }
  buildBatches();
}

XVertex D3DXMesh::GetVertex(DWORD i) const {
  if (i >= GetNumVertices())
    throw platform::Error("D3DXMesh::GetVertex", "vertex " + std::to_string(i) + " out of range");
  XVertex v;
  const std::uint8_t* p = vertices_.data() + static_cast<std::size_t>(i) * stride_;
  auto get = [&p](void* dst, std::size_t n) {
    std::memcpy(dst, p, n);
    p += n;
  };
  get(&v.position, 12);
  if (fvf_ & D3DFVF_NORMAL) get(&v.normal, 12);
  if (fvf_ & D3DFVF_DIFFUSE) get(&v.color, 4);
  if (fvf_ & D3DFVF_TEX1) {
    get(&v.tu, 4);
    get(&v.tv, 4);
  }
  return v;
}

DWORD D3DXMesh::GetSubsetFaceCount(DWORD attribId) const {
  if (attribId >= subsets_.size()) return 0;
  std::size_t n = 0;
  for (const Batch& b : subsets_[attribId]) n += b.faceCount;
  return static_cast<DWORD>(n);
}

void D3DXMesh::buildBatches() {
  DWORD subsetCount = 0;
  for (std::uint32_t a : attributes_) subsetCount = std::max<DWORD>(subsetCount, a + 1);
  subsets_.assign(subsetCount, {});
  const std::size_t vertexCount = vertices_.size() / stride_;
  // Where each mesh vertex sits in the batch being filled; stale entries are told apart by `owner`.
  std::vector<std::uint32_t> local(vertexCount, 0);
  std::vector<std::uint32_t> owner(vertexCount, 0);
  // The faces of each subset in file order, by one counting pass.
  std::vector<std::size_t> start(static_cast<std::size_t>(subsetCount) + 1, 0);
  for (std::uint32_t a : attributes_) ++start[a + 1];
  for (DWORD s = 0; s < subsetCount; ++s) start[s + 1] += start[s];
  std::vector<std::size_t> order(attributes_.size());
  {
    std::vector<std::size_t> next(start.begin(), start.end() - 1);
    for (std::size_t f = 0; f < attributes_.size(); ++f) order[next[attributes_[f]]++] = f;
  }
  // The buffers' contents: every batch's records after the one before, and its indices likewise.
  std::vector<std::uint8_t> records;
  std::vector<std::uint16_t> indices;
  records.reserve(vertices_.size());
  indices.reserve(indices_.size());
  std::uint32_t batchId = 0;
  for (DWORD s = 0; s < subsetCount; ++s) {
    Batch* b = nullptr;
    for (std::size_t o = start[s]; o < start[s + 1]; ++o) {
      const std::uint32_t* tri = &indices_[3 * order[o]];
      if (!b || b->vertexCount + 3 > kMaxBatchVertices) {
        subsets_[s].emplace_back();
        b = &subsets_[s].back();
        b->baseVertex = static_cast<DWORD>(records.size() / stride_);
        b->startIndex = static_cast<DWORD>(indices.size());
        ++batchId;
      }
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t v = tri[k];
        if (owner[v] != batchId) {
          owner[v] = batchId;
          local[v] = b->vertexCount++;
          const std::uint8_t* rec = vertices_.data() + static_cast<std::size_t>(v) * stride_;
          records.insert(records.end(), rec, rec + stride_);
        }
        indices.push_back(static_cast<std::uint16_t>(local[v]));
      }
      ++b->faceCount;
    }
  }
  if (indices.empty()) return;
  const DWORD vertexBytes = static_cast<DWORD>(records.size());
  const DWORD indexBytes = static_cast<DWORD>(indices.size() * sizeof(std::uint16_t));
  vertexBuffer_ = device_.CreateVertexBuffer(vertexBytes, D3DUSAGE_WRITEONLY, fvf_, D3DPOOL_MANAGED);
  vertexBuffer_->SetData(0, vertexBytes, 0, records.data());
  indexBuffer_ = device_.CreateIndexBuffer(indexBytes, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
  indexBuffer_->SetData(0, indexBytes, 0, indices.data());
}

void D3DXMesh::DrawSubset(DWORD attribId) {
  if (attribId >= subsets_.size() || subsets_[attribId].empty()) return;
  device_.SetVertexShader(fvf_);
  device_.SetStreamSource(0, vertexBuffer_, stride_);
  for (const Batch& b : subsets_[attribId]) {
    device_.SetIndices(indexBuffer_, b.baseVertex);
    device_.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, b.vertexCount, b.startIndex, b.faceCount);
  }
}

D3DMATERIAL8 D3DXMaterialBuffer::GetMaterial(DWORD i) const {
  if (i >= materials_.size())
    throw platform::Error("D3DXMaterialBuffer::GetMaterial",
                          "material " + std::to_string(i) + " out of range");
  return materials_[i].material;
}

std::string D3DXMaterialBuffer::GetTextureName(DWORD i) const {
  if (i >= materials_.size())
    throw platform::Error("D3DXMaterialBuffer::GetTextureName",
                          "material " + std::to_string(i) + " out of range");
  return materials_[i].textureFilename;
}

const XMaterial& D3DXMaterialBuffer::GetXMaterial(DWORD i) const {
  if (i >= materials_.size())
    throw platform::Error("D3DXMaterialBuffer::GetXMaterial", "material " + std::to_string(i) + " out of range");
  return materials_[i];
}

std::unique_ptr<D3DXMesh> D3DXLoadMeshFromX(const std::string& path, DWORD options, Device& device,
                                            D3DXMaterialBuffer& materials, DWORD& numMaterials) {
  const FoundBytes file = FindAndReadFile("D3DXLoadMeshFromX", path);
  XModel model = ParseModel(file.bytes.data(), file.bytes.size(), file.path);
  auto mesh = std::make_unique<D3DXMesh>(device, model, options);
  numMaterials = static_cast<DWORD>(model.materials.size());
  materials = D3DXMaterialBuffer(std::move(model.materials));
  return mesh;
}

}  // namespace d3dx
