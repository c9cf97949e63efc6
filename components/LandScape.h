// The height-map terrain: a regular grid of vertices made from a file of height samples, an
// in-place smoothing pass, a light map baked into the vertex colours, a window of triangle strips
// drawn around and ahead of a viewer, and the ground height under any x, z.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"

namespace components {

struct LandVertex {
  float x, y, z;
  d3d::D3DCOLOR color;  // the light map; 0 until CalcLiteMap runs
  float tu1, tv1;
  float tu2, tv2;
};
static_assert(sizeof(LandVertex) == 32);

class LandScape {
 public:
  static constexpr d3d::DWORD kFVF = d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_TEX2;  // 0x242
  // The largest grid a height map may ask for: 2^26 vertices, 2 GiB of LandVertex.
  static constexpr std::int64_t kMaxGridVertices = std::int64_t{1} << 26;

  // `GroundTexture` is bound on stage 0 by every Render; it may be null (drawn untextured).
  LandScape(d3d::Device& device, std::shared_ptr<d3d::Texture> GroundTexture)
      : device_(device), GroundTexture_(std::move(GroundTexture)) {}

  // Loads the height map and builds Grid. The file is an 8-bit greyscale TGA (its 18-byte header
  // giving the size, or also run-length compressed or with an image-ID field) or a 1- to 16-bit
  // greyscale PNG; HeightMap.h says how each is read. A missing, unreadable, empty or short file,
  // another format, a colour image, a size of 0 or less, a grid too large to allocate, a strip index
  // beyond 16 bits or a vertex value that is not a finite float is an error naming the file, and
  // leaves the terrain exactly as it was: grid, sizes, scale, placement, MinY and window.
  void InitLand(const std::string& File, float ScaleSize, float ScaleTex1, float ScaleTex2, float YFactor,
                float PX, float PY, float PZ);
  void FilterHeight();
  std::int32_t XSize() const { return XSize_; }
  std::int32_t ZSize() const { return ZSize_; }
  std::int32_t FrameSize() const { return FrameSize_; }
  // Clamps the window size to 1..XSize and ..ZSize and rebuilds StripIndex. An index that would not
  // fit 16 bits (XSize + FrameSize > 32767) is an overflow error that changes nothing.
  void FrameSize(std::int32_t fS);
  void CalcLiteMap(const d3d::D3DVECTOR& vecLite, d3d::D3DCOLOR ColorLite, d3d::D3DCOLOR ColorShad);
  void Render(float x, float Z, float Angle, float Diff);
  float GetHeight(float x, float Z) const;

  // Read access for callers and tests.
  const std::vector<LandVertex>& Grid() const { return Grid_; }
  const LandVertex& Vertex(std::int32_t j, std::int32_t i) const {
    return Grid_[static_cast<std::size_t>(i) * static_cast<std::size_t>(XSize_) +
                 static_cast<std::size_t>(j)];
  }
  const std::vector<std::int16_t>& StripIndex() const { return StripIndex_; }
  std::int32_t StripVerts() const { return StripVerts_; }
  std::int32_t StripPrims() const { return StripPrims_; }
  std::int32_t GetVertexSize() const { return VertexSize_; }
  float MinY() const { return MinY_; }
  void SetGroundTexture(std::shared_ptr<d3d::Texture> t) { GroundTexture_ = std::move(t); }

 private:
  // The window size fS clamped to an xs x zs grid, with its strip index list in `index`.
  static std::int32_t StripWindow(std::int32_t fS, std::int32_t xs, std::int32_t zs,
                                  std::vector<std::int16_t>& index);
  LandVertex& At(std::int32_t j, std::int32_t i) {
    return Grid_[static_cast<std::size_t>(i) * static_cast<std::size_t>(XSize_) +
                 static_cast<std::size_t>(j)];
  }

  d3d::Device& device_;
  std::shared_ptr<d3d::Texture> GroundTexture_;

  std::vector<LandVertex> Grid_;
  std::vector<std::int16_t> StripIndex_;
  std::int32_t StripVerts_ = 0;
  std::int32_t StripPrims_ = 0;
  std::int32_t FrameSize_ = 0;
  std::int32_t VertexSize_ = 0;
  std::int32_t XSize_ = 0;
  std::int32_t ZSize_ = 0;
  float ScaleSize_ = 0.0f;
  float YFactor_ = 0.0f;
  float PX_ = 0.0f;
  float PZ_ = 0.0f;
  float MinY_ = 0.0f;
};

}  // namespace components
