#include "scene/Mesh.h"

#include <algorithm>
#include <cmath>

#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Simplify.h"
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
  Looks.assign(static_cast<std::size_t>(NumMaterials), MaterialLook{});
  hasNormals_ = objMesh && (objMesh->GetFVF() & D3DFVF_NORMAL) != 0;
  hasColors_ = objMesh && (objMesh->GetFVF() & D3DFVF_DIFFUSE) != 0;
  Textures.assign(static_cast<std::size_t>(NumMaterials), nullptr);

  for (std::int32_t i = 0; i < NumMaterials; ++i) {
    const auto n = static_cast<DWORD>(i);
    try {
      Materials[n] = buffer.GetMaterial(n);
      const d3dx::XMaterial& x = buffer.GetXMaterial(n);
      Looks[n] = {x.alphaMode, x.alphaCutoff, x.doubleSided};
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

std::size_t Mesh::LimitTriangles(std::size_t maxTriangles) {
  if (!objMesh) return 0;
  const std::size_t had = objMesh->GetNumFaces();
#if defined(__EMSCRIPTEN__)
  // The page's models come prepared, simplified by the exporter to the picture's budget already;
  // the page carries no simplifier.
  (void)maxTriangles;
#else
  if (auto fewer = d3dx::D3DXSimplifyMesh(*objMesh, maxTriangles)) objMesh = std::move(fewer);
#endif
  return had;
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
  RenderOn(frame.D3DDevice);
}

void Mesh::RenderOn(Device& dev) {
  dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  CalcWorld(dev);
  if (viewerLook_) {
    RenderAsViewersDo(dev);
    dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    return;
  }
  for (std::int32_t i = 0; i < NumMaterials; ++i) {
    const auto n = static_cast<std::size_t>(i);
    dev.SetTexture(0, Textures[n]);
    dev.SetMaterial(Materials[n]);
    if (objMesh) objMesh->DrawSubset(static_cast<DWORD>(i));
  }
  // Left on for the snow drawn next, whatever it was before.
  dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
}

// One soft light from above and in front of the tree's left, and an even ambient light: the light
// common model viewers show a model in.
constexpr D3DVECTOR kLightDirection{0.36f, -0.80f, 0.48f};
constexpr float kLightDiffuse = 0.75f, kAmbient = 0.45f;

void Mesh::SetViewerLook(bool on) {
  viewerLook_ = on;
}

void Mesh::RenderAsViewersDo(Device& dev) {
  const DWORD shade = dev.GetRenderState(D3DRS_SHADEMODE), cull = dev.GetRenderState(D3DRS_CULLMODE);
  // Lit where the model has normals; without them only the ambient term lights it, at full
  // strength, which draws each colour as it is.
  D3DLIGHT8 light{};
  light.Type = D3DLIGHT_DIRECTIONAL;
  light.Diffuse = {kLightDiffuse, kLightDiffuse, kLightDiffuse, 1};
  light.Direction = kLightDirection;
  dev.SetLight(0, light);
  dev.LightEnable(0, hasNormals_ ? 1 : 0);
  const auto ambient = static_cast<DWORD>(std::lround((hasNormals_ ? kAmbient : 1.0f) * 255));
  dev.SetRenderState(D3DRS_AMBIENT, 0xFF000000u | ambient << 16 | ambient << 8 | ambient);
  dev.SetRenderState(D3DRS_LIGHTING, 1);
  dev.SetRenderState(D3DRS_NORMALIZENORMALS, 1);  // the fit scales the model
  dev.SetRenderState(D3DRS_COLORVERTEX, 1);
  // A model's vertex colours already carry its materials' colours (ParseModel).
  const DWORD source = hasColors_ ? D3DMCS_COLOR1 : D3DMCS_MATERIAL;
  dev.SetRenderState(D3DRS_DIFFUSEMATERIALSOURCE, source);
  dev.SetRenderState(D3DRS_AMBIENTMATERIALSOURCE, source);
  dev.SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
  // Opaque and cut-out materials first, then the blended ones over them, not hiding what lies behind.
  for (const bool blended : {false, true}) {
    for (std::int32_t i = 0; i < NumMaterials; ++i) {
      const auto n = static_cast<std::size_t>(i);
      const MaterialLook& look = Looks[n];
      if ((look.alphaMode == d3dx::AlphaMode::Blend) != blended) continue;
      D3DMATERIAL8 material = Materials[n];
      material.Ambient = material.Diffuse;
      dev.SetMaterial(material);
      dev.SetTexture(0, Textures[n]);
      dev.SetRenderState(D3DRS_CULLMODE, look.doubleSided ? D3DCULL_NONE : D3DCULL_CCW);
      dev.SetRenderState(D3DRS_ALPHATESTENABLE, look.alphaMode == d3dx::AlphaMode::Mask ? 1 : 0);
      if (look.alphaMode == d3dx::AlphaMode::Mask) {
        dev.SetRenderState(D3DRS_ALPHAREF,
                           static_cast<DWORD>(std::lround(std::clamp(look.alphaCutoff, 0.0f, 1.0f) * 255)));
        dev.SetRenderState(D3DRS_ALPHAFUNC, D3DCMP_GREATEREQUAL);
      }
      dev.SetRenderState(D3DRS_ALPHABLENDENABLE, blended ? 1 : 0);
      dev.SetRenderState(D3DRS_ZWRITEENABLE, blended ? 0 : 1);
      if (blended) {
        dev.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
        dev.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA);
      }
      if (objMesh) objMesh->DrawSubset(static_cast<DWORD>(i));
    }
  }
  // The scene's own states back for what is drawn next.
  dev.SetRenderState(D3DRS_LIGHTING, 0);
  dev.SetRenderState(D3DRS_ALPHATESTENABLE, 0);
  dev.SetRenderState(D3DRS_ZWRITEENABLE, 1);
  dev.SetRenderState(D3DRS_SHADEMODE, shade);
  dev.SetRenderState(D3DRS_CULLMODE, cull);
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
