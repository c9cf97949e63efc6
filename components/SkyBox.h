// The sky box: six textured squares around the viewer, re-centred on the camera every time it is
// drawn, so the sky never comes nearer however the camera moves.
//
// Which face is which. The world is left-handed with +y up: looking along +z, +x is to the right.
// Each face is a square of the cube of half-size S around the camera:
//
//   Side  plane           cube-map face   SetSkyTexture's image, seen from inside the cube
//   0     x = -S          -x              mirrored left to right (its left edge at z = +S)
//   1     x = +S          +x              mirrored left to right (its left edge at z = -S)
//   2     z = +S          +z              mirrored left to right (its left edge at x = +S)
//   3     z = -S          -z              mirrored left to right (its left edge at x = -S)
//   4     y = +S (top)    +y              mirrored left to right (its top edge at z = -S)
//   5     y = -S (bottom) -y              a quarter turn anticlockwise (its top edge at x = -S)
//
// On the four sides an image's top row is at y = +S. SetSkyTexture loads an image as the face table
// maps it, so an image drawn to be seen the right way round shows as above. SetSkyTexturesFromCubeMap
// takes the six images of a standard cube-map set, +x, -x, +y, -y, +z, -z, as Direct3D's and
// OpenGL's cube-map tables define them and tools export them: each is seen from inside the cube the
// right way round, with the sides upright, the top face's top edge towards -z and the bottom face's
// top edge towards +z (so, laid out as the usual cross with +z in the middle, neighbouring edges
// meet). It turns the pixels to the table's orientation (mirroring faces 0 to 4, turning face 5 a
// quarter turn clockwise), so the faces meet without seams and read the right way round.
// docs/skybox-faces.png shows both layouts.
//
// The texture coordinates stop 0.001 short of each edge. With the device's default wrap addressing,
// linear filtering of a small face image (64 pixels) there still blends in a trace of the opposite
// edge, a faint seam; a caller that wants none sets D3DTSS_ADDRESSU and ADDRESSV to
// D3DTADDRESS_CLAMP while it draws the sky box.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <type_traits>

#include "platform/d3d/Device.h"
#include "platform/base/Error.h"

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

  // The faces of a standard cube-map set, in the order such sets are given.
  enum class CubeFace : std::int32_t { PosX, NegX, PosY, NegY, PosZ, NegZ };

  void CreateSkyBox(float SkyScale);
  // Loads the image first; a Side outside 0..5 is then an error and no slot changes.
  void SetSkyTexture(std::int32_t Side, const std::string& Tex);
  void RenderSkyBox(const d3d::D3DVECTOR& CamPos);

  // Loads the six images of a standard cube-map set, in the order +x, -x, +y, -y, +z, -z, each into
  // the face on its plane, turned to the face table's orientation. All six load before any slot
  // changes: a missing or unreadable image is an error naming it that leaves every slot as it was.
  void SetSkyTexturesFromCubeMap(const std::array<std::string, 6>& Tex);
  // One image of a standard cube-map set into the face on its plane, turned likewise.
  void SetSkyTextureFromCubeFace(CubeFace Face, const std::string& Tex);
  // The Side on the plane of a cube-map face.
  static std::int32_t SideOf(CubeFace Face);
  // A cube-map face's pixels turned to the face table's orientation: mirrored left to right, or for
  // -y a quarter turn clockwise (a w x h image becomes h x w).
  static d3d::Texture::Level OrientCubeFace(CubeFace Face, const d3d::Texture::Level& Image);

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

  std::shared_ptr<d3d::Texture> LoadCubeFace(CubeFace Face, const std::string& Tex);

  d3d::Device& device_;
  std::array<std::shared_ptr<d3d::VertexBuffer>, 6> FaceBuffer{};
  std::array<std::shared_ptr<d3d::Texture>, 6> FaceTexture{};
  std::int32_t VertexSize = 0;
};

}  // namespace components
