#include "render/fog.h"

#include <bit>

#include "platform/d3d/Device.h"
#include "render/modD3D.h"

namespace render {

std::int32_t FloatBits(float value) { return std::bit_cast<std::int32_t>(value); }

void InitFog(d3d::Device& device) {
  auto bits = [](float f) { return static_cast<d3d::DWORD>(FloatBits(f)); };
  device.SetRenderState(d3d::D3DRS_FOGENABLE, 1);
  device.SetRenderState(d3d::D3DRS_FOGTABLEMODE, d3d::D3DFOG_LINEAR);
  device.SetRenderState(d3d::D3DRS_FOGVERTEXMODE, d3d::D3DFOG_NONE);
  device.SetRenderState(d3d::D3DRS_FOGCOLOR, modD3D::kSkyColor);
  device.SetRenderState(d3d::D3DRS_FOGSTART, bits(50.0f));
  device.SetRenderState(d3d::D3DRS_FOGEND, bits(150.0f));
  device.SetRenderState(d3d::D3DRS_FOGDENSITY, bits(static_cast<float>(1.0 / 100.0)));
}

}  // namespace render
