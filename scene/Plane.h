// The ground: one flat textured square from -1 to +1 in x and z at y = 0, placed by a scale and a
// translation, its texture repeated 100 times along each side.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "platform/d3d/Device.h"

namespace render {
struct FrameContext;
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

  void InitPlane(const d3d::D3DVECTOR& Position, const d3d::D3DVECTOR& Scaling);
  // Builds the placement in the frame's world matrix.
  void RenderPlane(const render::FrameContext& frame);
  void SetTexture(d3d::Device& dev, const std::string& File);

  const std::array<PlaneVertex, 4>& Vertices() const { return Vertex; }
  std::int32_t GetVertexSize() const { return VertexSize; }
  const std::shared_ptr<d3d::Texture>& GetTexture() const { return Texture; }

 private:
  std::array<PlaneVertex, 4> Vertex{};
  std::int32_t VertexSize = 0;
  d3d::D3DVECTOR vecPos{};
  d3d::D3DVECTOR vecScale{};
  std::shared_ptr<d3d::Texture> Texture;
};

}  // namespace scene
