// The sky box: six textured squares around the viewer, re-centred on the camera every time it is
// drawn, so the sky never comes nearer however the camera moves.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/d3d/Device.h"
#include "platform/d3d/Error.h"

namespace components {

struct SkyVertex {
  float x, y, z;
  std::int32_t diffuse;
  std::int32_t specular;  // always the diffuse colour
  float tu, tv;
};
static_assert(sizeof(SkyVertex) == 28);

class SkyBox {
 public:
  static constexpr d3d::DWORD kFVF =
      d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_SPECULAR | d3d::D3DFVF_TEX1;  // 0x1C2

  explicit SkyBox(d3d::Device& device) : device_(device) {}

  // A vertex from any numeric values. A fractional colour rounds to the nearest integer, ties to
  // even; an unsigned colour such as 0xFFFFFFFF keeps its bit pattern.
  template <typename TX, typename TY, typename TZ, typename TC, typename TU, typename TV>
  requires std::is_arithmetic_v<TX> && std::is_arithmetic_v<TY> && std::is_arithmetic_v<TZ> &&
      std::is_arithmetic_v<TC> && std::is_arithmetic_v<TU> && std::is_arithmetic_v<TV>
  static SkyVertex CreateLVertex(TX x, TY Y, TZ Z, TC Color, TU tu, TV tv) {
    const std::int32_t c = ToColor(Color);
    return SkyVertex{static_cast<float>(x),  static_cast<float>(Y), static_cast<float>(Z), c, c,
                     static_cast<float>(tu), static_cast<float>(tv)};
  }

  void CreateSkyBox(float SkyScale);
  // Loads the image first; a Side outside 0..5 is then an error and no slot changes.
  void SetSkyTexture(std::int32_t Side, const std::string& Tex);
  void RenderSkyBox(const d3d::D3DVECTOR& CamPos);

  const std::array<std::shared_ptr<d3d::VertexBuffer>, 6>& FaceBuffers() const { return FaceBuffer; }
  const std::array<std::shared_ptr<d3d::Texture>, 6>& FaceTextures() const { return FaceTexture; }
  std::int32_t GetVertexSize() const { return VertexSize; }

 private:
  template <typename C>
  static std::int32_t ToColor(C Color) {
    if constexpr (std::is_floating_point_v<C>) {
      const double r = std::nearbyint(static_cast<double>(Color));
      if (!(r >= -2147483648.0 && r <= 2147483647.0))
        throw platform::Error("CreateLVertex", "colour value out of the 32-bit range (overflow)");
      return static_cast<std::int32_t>(r);
    } else if constexpr (std::is_signed_v<C>) {
      if (Color < std::numeric_limits<std::int32_t>::min() ||
          Color > std::numeric_limits<std::int32_t>::max())
        throw platform::Error("CreateLVertex", "colour value out of the 32-bit range (overflow)");
      return static_cast<std::int32_t>(Color);
    } else {
      if (Color > std::numeric_limits<std::uint32_t>::max())
        throw platform::Error("CreateLVertex", "colour value out of the 32-bit range (overflow)");
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(Color));
    }
  }

  d3d::Device& device_;
  std::array<std::shared_ptr<d3d::VertexBuffer>, 6> FaceBuffer{};
  std::array<std::shared_ptr<d3d::Texture>, 6> FaceTexture{};
  std::int32_t VertexSize = 0;
};

}  // namespace components
