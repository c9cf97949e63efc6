#include "scene/Mesh.h"

#include <algorithm>
#include <cmath>

#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "platform/files/FileName.h"
#include "render/FrameContext.h"
#include "render/modGen.h"

namespace scene {

using namespace d3d;

void Mesh::Load(Device* device, const std::string& File) {
  d3dx::D3DXMaterialBuffer buffer;
  DWORD count = 0;
  // A file that cannot be loaded leaves the mesh empty, whatever it held before.
  objMesh.reset();
  NumMaterials = 0;
  fitted_ = false;
  loadErrors_.clear();
  // Without a device nothing loads, and Load reports no failure: the model stays empty.
  if (!device) {
    Materials.clear();
    Textures.clear();
    vecScale = render::MakeVector(1, 1, 1);
    return;
  }
  Device& dev = *device;
  try {
    objMesh = d3dx::D3DXLoadMeshFromX(File, d3dx::D3DXMESH_MANAGED, dev, buffer, count);
    NumMaterials = static_cast<std::int32_t>(count);
  } catch (const std::exception& e) {
    loadErrors_.push_back(e.what());
  }
  // The textures lie beside the model; for the application's own tree that is its models folder.
  const std::string folder = File.substr(0, File.find_last_of('/') + 1);

  Materials.assign(static_cast<std::size_t>(NumMaterials), D3DMATERIAL8{});
  Textures.assign(static_cast<std::size_t>(NumMaterials), nullptr);

  for (std::int32_t i = 0; i < NumMaterials; ++i) {
    const auto n = static_cast<DWORD>(i);
    try {
      Materials[n] = buffer.GetMaterial(n);
    } catch (...) {
    }
    std::string name;
    try {
      name = buffer.GetTextureName(n);
    } catch (...) {
    }
    // A material without a texture name names the folder itself, which does not load. An image the
    // model carries inside itself is decoded from there.
    try {
      const std::vector<std::uint8_t>& inside = buffer.GetXMaterial(n).textureData;
      Textures[n] = inside.empty() ? d3dx::D3DXCreateTextureFromFile(dev, platform::MediaPath(folder, name))
                                   : d3dx::D3DXCreateTextureFromFileInMemory(dev, inside, name);
    } catch (const std::exception& e) {
      if (!name.empty()) loadErrors_.push_back(e.what());
    }
  }

  buffer.Release();
  vecScale = render::MakeVector(1, 1, 1);
}

void Mesh::FitTo(float height) {
  fitted_ = false;
  if (!objMesh || objMesh->GetNumVertices() == 0) return;
  D3DVECTOR lo = objMesh->GetVertex(0).position, hi = lo;
  for (DWORD i = 1; i < objMesh->GetNumVertices(); ++i) {
    const D3DVECTOR p = objMesh->GetVertex(i).position;
    lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
    hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
  }
  const float tall = hi.y - lo.y;
  if (!(tall > 0) || !std::isfinite(tall) || !(height > 0)) return;
  D3DMATRIX move{}, scale{};
  d3dx::D3DXMatrixTranslation(&move, -(lo.x + hi.x) / 2, -lo.y, -(lo.z + hi.z) / 2);
  const float k = height / tall;
  d3dx::D3DXMatrixScaling(&scale, k, k, k);
  d3dx::D3DXMatrixMultiply(&matFit_, &move, &scale);
  fitted_ = true;
}

void Mesh::SetPosition(float x, float Y, float Z) {
  vecPos = render::MakeVector(x, Y, Z);
}

void Mesh::SetRotation(float x, float Y, float Z) {
  vecRot = D3DVECTOR{x, Y, Z};
}

void Mesh::SetScale(float x, float Y, float Z) {
  vecScale = D3DVECTOR{x, Y, Z};
}

void Mesh::Render(const render::FrameContext& frame) {
  Device& dev = frame.D3DDevice;
  dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  CalcWorld(dev);
  for (std::int32_t i = 0; i < NumMaterials; ++i) {
    const auto n = static_cast<std::size_t>(i);
    dev.SetTexture(0, Textures[n]);
    dev.SetMaterial(Materials[n]);
    if (objMesh) objMesh->DrawSubset(static_cast<DWORD>(i));
  }
  // Left on for the snow drawn next, whatever it was before.
  dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
}

// Each MultiplyTransform puts its matrix on the left, so the world ends as S x Rz x Ry x Rx x T, with
// a fitted model's own fit left of them all.
void Mesh::CalcWorld(Device& dev) {
  d3dx::D3DXMatrixIdentity(&matMesh);
  d3dx::D3DXMatrixTranslation(&matMesh, vecPos.x, vecPos.y, vecPos.z);
  dev.SetTransform(D3DTS_WORLD, matMesh);
  d3dx::D3DXMatrixRotationX(&matMesh, vecRot.x);
  dev.MultiplyTransform(D3DTS_WORLD, matMesh);
  d3dx::D3DXMatrixRotationY(&matMesh, vecRot.y);
  dev.MultiplyTransform(D3DTS_WORLD, matMesh);
  d3dx::D3DXMatrixRotationZ(&matMesh, vecRot.z);
  dev.MultiplyTransform(D3DTS_WORLD, matMesh);
  d3dx::D3DXMatrixScaling(&matMesh, vecScale.x, vecScale.y, vecScale.z);
  dev.MultiplyTransform(D3DTS_WORLD, matMesh);
  if (fitted_) dev.MultiplyTransform(D3DTS_WORLD, matFit_);
}

}  // namespace scene
