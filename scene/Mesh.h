// A model read from an X file, with its materials and textures, drawn at its own position, rotation
// and scale.
#pragma once

#include <string>

#include "platform/d3d/Device.h"

namespace render {
class modD3D;
}

namespace scene {

class Mesh {
 public:
  explicit Mesh(render::modD3D& d3d) : d3d_(d3d) {}

  void Load(const std::string& File);
  void SetPosition(float x, float Y, float Z) { vecPos = d3d::D3DVECTOR{x, Y, Z}; }
  void SetRotation(float x, float Y, float Z) { vecRot = d3d::D3DVECTOR{x, Y, Z}; }
  void SetScale(float x, float Y, float Z) { vecScale = d3d::D3DVECTOR{x, Y, Z}; }
  void Render();

 private:
  render::modD3D& d3d_;
  d3d::D3DVECTOR vecPos{};
  d3d::D3DVECTOR vecRot{};
  d3d::D3DVECTOR vecScale{};
};

}  // namespace scene
