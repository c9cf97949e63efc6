#include "snow/modSnow.h"

#include <cmath>
#include <limits>
#include <string>

#include "platform/base/Error.h"
#include "platform/d3dx/Texture.h"
#include "render/FrameContext.h"
#include "render/Random.h"
#include "render/fog.h"
#include "render/modGen.h"

namespace snow {

using namespace d3d;

void modSnow::InitSnow(Device& dev) {
  SnowGround_ = 0.0f;
  SnowTexture_ = d3dx::D3DXCreateTextureFromFile(dev, flakeFile_);
  VertexSize_ = static_cast<std::int32_t>(GetFVFVertexSize(kFVF));
  SnowVB_ = dev.CreateVertexBuffer(static_cast<DWORD>(VertexSize_) * kPoolSize,
                                   D3DUSAGE_WRITEONLY | D3DUSAGE_POINTS, kFVF, D3DPOOL_MANAGED);
  Flakes_.assign(kPoolSize, SnowFlake{});
}

void modSnow::RenderSnow(const render::FrameContext& frame) {
  FlakeCount_ += 1;
  if (FlakeCount_ > kPoolSize) FlakeCount_ = kPoolSize;

  const double frameTime = frame.FrameTime;
  for (std::int32_t i = 0; i < FlakeCount_; ++i) {
    if (static_cast<std::size_t>(i) >= Flakes_.size())
      throw platform::Error("RenderSnow",
                            "flake " + std::to_string(i) + " does not exist: InitSnow has not run");
    SnowFlake& f = Flakes_[static_cast<std::size_t>(i)];

    const double y = static_cast<double>(f.vecSpeed.y) * frameTime + static_cast<double>(f.vecPos.y);
    const float stored = static_cast<float>(y);
    if (std::isfinite(y) && !std::isfinite(stored))
      throw platform::Error("RenderSnow",
                            "floating-point overflow in the fall of flake " + std::to_string(i));
    f.vecPos.y = stored;

    // Not greater rather than less-or-equal, so that a NaN height lands too.
    if (!(f.vecPos.y > SnowGround_)) {
      f.vecPos.y = SnowGround_;
      f.GroundFrames = static_cast<std::int16_t>(f.GroundFrames + 1);
      const double faded = static_cast<double>(f.ColorValue.a) - 0.1;
      if (faded >= 0) f.ColorValue.a = static_cast<float>(faded);
      if (f.GroundFrames == 10) ResetFlake(f, frame.Rnd);
    }

    const SnowVertex v = MakeSnowVertex(f.vecPos.x, f.vecPos.y, f.vecPos.z, MakeColor(f.ColorValue));
    SnowVB_->SetData(static_cast<DWORD>(i) * sizeof(SnowVertex), sizeof(SnowVertex), 0, &v);
  }

  Device& dev = frame.D3DDevice;
  dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  dev.SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
  dev.SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
  dev.SetTextureStageState(0, D3DTSS_ALPHAOP, D3DTOP_MODULATE);
  dev.SetTextureStageState(0, D3DTSS_COLOROP, D3DTOP_MODULATE);
  DrawSnow(dev);
}

void modSnow::ResetFlake(SnowFlake& flake, render::Random& rnd) {
  const float x = SpawnCoordinate(RandRange(rnd, -100, 100), 100.0f);
  const float z = SpawnCoordinate(RandRange(rnd, -100, 100), 100.0f);
  flake.vecPos = render::MakeVector(x, 100, z);
  flake.vecSpeed = render::MakeVector(0, -0.0081f, 0);
  flake.GroundFrames = 0;
  flake.ColorValue = D3DCOLORVALUE{1, 1, 1, 1};
}

double modSnow::RandRange(render::Random& rnd, double low, double high) {
  return rnd.Rnd() * (high - low) + low;
}

float modSnow::SpawnCoordinate(double value, float high) {
  const float f = static_cast<float>(value);
  if (f >= high && value < static_cast<double>(high))
    return std::nextafter(high, -std::numeric_limits<float>::infinity());
  return f;
}

void modSnow::ColorOverflow(float c, const char* name) {
  throw platform::Error("MakeColor", std::string("overflow: component ") + name + " = " + std::to_string(c) +
                                         " does not scale into 0..255");
}

SnowVertex modSnow::MakeSnowVertex(float x, float y, float z, D3DCOLOR color) {
  const D3DVECTOR p = render::MakeVector(x, y, z);
  return SnowVertex{p.x, p.y, p.z, color};
}

void modSnow::DrawSnow(Device& dev) {
  dev.SetVertexShader(kFVF);
  dev.SetTexture(0, SnowTexture_);
  dev.SetRenderState(D3DRS_FOGENABLE, 0);
  dev.SetRenderState(D3DRS_POINTSPRITEENABLE, 1);
  dev.SetRenderState(D3DRS_POINTSCALEENABLE, 1);
  // The base point size stays the device's default (1.0), and so does the minimum size.
  dev.SetRenderState(D3DRS_POINTSCALE_A, static_cast<DWORD>(render::FloatBits(0.6f)));
  dev.SetRenderState(D3DRS_POINTSCALE_B, static_cast<DWORD>(render::FloatBits(0.6f)));
  dev.SetRenderState(D3DRS_POINTSCALE_C, static_cast<DWORD>(render::FloatBits(0.6f)));
  // Flakes are translucent and drawn in no order, so none may hide another through the depth buffer.
  dev.SetRenderState(D3DRS_ZWRITEENABLE, 0);
  dev.SetStreamSource(0, SnowVB_, static_cast<DWORD>(VertexSize_));
  // The whole buffer: slots not yet written are zero, fully transparent, and add nothing.
  dev.DrawPrimitive(D3DPT_POINTLIST, 0, kPoolSize);
  dev.SetRenderState(D3DRS_ZWRITEENABLE, 1);
  dev.SetRenderState(D3DRS_POINTSCALEENABLE, 0);
  dev.SetRenderState(D3DRS_POINTSPRITEENABLE, 0);
  dev.SetRenderState(D3DRS_FOGENABLE, 1);
}

}  // namespace snow
