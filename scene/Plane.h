// The ground: one flat textured square from -1 to +1 in x and z at y = 0, placed by a scale and a
// translation, its texture repeated 100 times along each side.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "platform/d3d/Device.h"

namespace render {
class modD3D;
}

namespace scene {

struct PlaneVertex {
  float x, y, z;
  float tu, tv;
};
static_assert(sizeof(PlaneVertex) == 20);

class Plane {
 public:
  static constexpr d3d::DWORD kFVF = d3d::D3DFVF_XYZ | d3d::D3DFVF_TEX1;  // 0x102

  explicit Plane(render::modD3D& d3d) : d3d_(d3d) {}

  void InitPlane(const d3d::D3DVECTOR& Position, const d3d::D3DVECTOR& Scaling);
  void RenderPlane();
  void SetTexture(const std::string& File);

  const std::array<PlaneVertex, 4>& Vertices() const { return Vertex; }
  std::int32_t GetVertexSize() const { return VertexSize; }
  const std::shared_ptr<d3d::Texture>& GetTexture() const { return Texture; }

 private:
  render::modD3D& d3d_;
  std::array<PlaneVertex, 4> Vertex{};
  std::int32_t VertexSize = 0;
  d3d::D3DVECTOR vecPos{};
  d3d::D3DVECTOR vecScale{};
  std::shared_ptr<d3d::Texture> Texture;
};

}  // namespace scene
