// The snow: a pool of 3000 flakes that fall, settle, fade and respawn, drawn as point sprites.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"

namespace render {
struct FrameContext;
class Random;
}  // namespace render

namespace snow {

struct SnowFlake {
  d3d::D3DVECTOR vecPos;          // in the snow's own coordinates
  d3d::D3DVECTOR vecSpeed;        // units per millisecond; only y is used
  d3d::D3DCOLORVALUE ColorValue;  // a fades while the flake lies on the ground
  std::int16_t GroundFrames;      // frames on the ground since the last respawn
};
static_assert(sizeof(SnowFlake) == 44);

struct SnowVertex {
  float x, y, z;
  d3d::D3DCOLOR Diffuse;
};
static_assert(sizeof(SnowVertex) == 16);

class modSnow {
 public:
  static constexpr std::int32_t kPoolSize = 3000;
  static constexpr d3d::DWORD kFVF = d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE;  // 0x42

  // `FlakeFile` is the flake sprite, an image with alpha.
  explicit modSnow(std::string FlakeFile) : flakeFile_(std::move(FlakeFile)) {}

  void InitSnow(d3d::Device& dev);
  // Moves each active flake by the frame's time, respawning from the frame's generator, and draws.
  void RenderSnow(const render::FrameContext& frame);
  static void ResetFlake(SnowFlake& flake, render::Random& rnd);
  static double RandRange(render::Random& rnd, double low, double high);
  // The colour as packed ARGB; a component whose scaled value rounds outside 0..255 is an overflow
  // error. Inline: it runs for every flake of every frame.
  static d3d::D3DCOLOR MakeColor(const d3d::D3DCOLORVALUE& color) {
    const d3d::DWORD a = ColorByte(color.a, "a");
    const d3d::DWORD r = ColorByte(color.r, "r");
    const d3d::DWORD g = ColorByte(color.g, "g");
    const d3d::DWORD b = ColorByte(color.b, "b");
    return (a << 24) | (r << 16) | (g << 8) | b;
  }
  static SnowVertex MakeSnowVertex(float x, float y, float z, d3d::D3DCOLOR color);
  void DrawSnow(d3d::Device& dev);

  // A respawn coordinate drawn in [low, high) as a 32-bit float. Rounding to float can carry a draw
  // just below `high` up onto it; such a draw takes the largest float below `high` instead, so the
  // range stays half-open.
  static float SpawnCoordinate(double value, float high);

  // The pool; empty until InitSnow.
  std::vector<SnowFlake>& Flakes() { return Flakes_; }
  const std::vector<SnowFlake>& Flakes() const { return Flakes_; }
  std::int32_t FlakeCount() const { return FlakeCount_; }
  const std::shared_ptr<d3d::VertexBuffer>& SnowVB() const { return SnowVB_; }
  const std::shared_ptr<d3d::Texture>& SnowTexture() const { return SnowTexture_; }
  float SnowGround() const { return SnowGround_; }
  std::int32_t VertexSize() const { return VertexSize_; }

 private:
  // c x 255 rounded to nearest, ties to even, as a byte. A float times 255 is exact in double. Adding
  // and taking away 1.5 x 2^52 rounds exactly as std::nearbyint does under the default rounding
  // mode wherever the sum lies among doubles one apart, that is for every value near 0..255, at a
  // fraction of its cost, which counts at 12 000 components a frame. Rounding is monotonic, so a
  // value beyond that stretch (or infinite, or NaN) still lands outside 0..255 and is reported.
  static d3d::DWORD ColorByte(float c, const char* name) {
    constexpr double kRound = 0x1.8p52;
    const double rounded = (static_cast<double>(c) * 255.0 + kRound) - kRound;
    if (!(rounded >= 0.0 && rounded <= 255.0)) ColorOverflow(c, name);
    return static_cast<d3d::DWORD>(rounded);
  }
  [[noreturn]] [[gnu::cold]] static void ColorOverflow(float c, const char* name);

  std::string flakeFile_;

  std::vector<SnowFlake> Flakes_;
  std::int32_t FlakeCount_ = 0;
  std::shared_ptr<d3d::VertexBuffer> SnowVB_;
  std::shared_ptr<d3d::Texture> SnowTexture_;
  float SnowGround_ = 0.0f;
  std::int32_t VertexSize_ = 0;
};

}  // namespace snow
