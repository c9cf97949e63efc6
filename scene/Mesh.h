// A model read from an X file, with its materials and textures, drawn at its own position, rotation
// and scale.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"
#include "platform/d3dx/Mesh.h"

namespace render {
struct FrameContext;
}

namespace scene {

class Mesh {
 public:
  // Never fails: each step that fails is skipped. Resets the scale to (1, 1, 1). The textures the
  // model names are looked up in the folder of `File`. Without a device (`dev` null) nothing loads
  // and the model is left empty.
  void Load(d3d::Device* dev, const std::string& File);
  void SetPosition(float x, float Y, float Z);
  void SetRotation(float x, float Y, float Z);
  void SetScale(float x, float Y, float Z);
  void Render(const render::FrameContext& frame);
  // The same on `dev`, for a program drawing models without the scene (model-sheet).
  void RenderOn(d3d::Device& dev);
  // Stands the loaded model where the application's own tree stands, at its size: the middle of its
  // bounding box over the model's origin, its lowest point at y = 0, scaled evenly to `height`
  // (model units, before SetScale). Applied before the scale, rotation and position; Load clears it.
  // A model without vertices, or of no height, is left as it is.
  void FitTo(float height);
  // Draws the loaded model with at most `maxTriangles` triangles, simplified (d3dx::SimplifyModel)
  // where it has more. Returns how many it had. Call before FitTo, which measures what is drawn.
  std::size_t LimitTriangles(std::size_t maxTriangles);
  // Draws the model as common model viewers show one (off: as the scene draws its own tree, unlit):
  // lit by one soft directional light and an even ambient light where it has normals, evenly lit
  // where it has none, its materials' colours times their textures times its vertex colours, each
  // material cut out, blended or two-sided as the model says. Every state it changes is put back.
  void SetViewerLook(bool on);

  const d3dx::D3DXMesh* GetMesh() const { return objMesh.get(); }
  const std::vector<d3d::D3DMATERIAL8>& GetMaterials() const { return Materials; }
  const std::vector<std::shared_ptr<d3d::Texture>>& GetTextures() const { return Textures; }
  std::int32_t GetNumMaterials() const { return NumMaterials; }
  // Why the last Load left something out: the model file that did not load, or each texture that
  // did not. Empty when everything loaded.
  const std::vector<std::string>& LoadErrors() const { return loadErrors_; }
  const d3d::D3DVECTOR& GetPosition() const { return vecPos; }
  const d3d::D3DVECTOR& GetRotation() const { return vecRot; }
  const d3d::D3DVECTOR& GetScale() const { return vecScale; }

 private:
  void CalcWorld(d3d::Device& dev);
  void RenderAsViewersDo(d3d::Device& dev);

  struct MaterialLook {
    d3dx::AlphaMode alphaMode = d3dx::AlphaMode::Opaque;
    float alphaCutoff = 0.5f;
    bool doubleSided = false;
  };

  std::unique_ptr<d3dx::D3DXMesh> objMesh;
  std::vector<d3d::D3DMATERIAL8> Materials;
  std::vector<std::shared_ptr<d3d::Texture>> Textures;
  std::int32_t NumMaterials = 0;
  d3d::D3DVECTOR vecPos{};
  d3d::D3DVECTOR vecRot{};
  d3d::D3DVECTOR vecScale{};
  d3d::D3DMATRIX matMesh{};
  bool fitted_ = false;
  bool viewerLook_ = false, hasNormals_ = false, hasColors_ = false;
  std::vector<MaterialLook> Looks;
  d3d::D3DMATRIX matFit_{};
  std::vector<std::string> loadErrors_;
};

}  // namespace scene
