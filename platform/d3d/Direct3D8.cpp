#include "platform/d3d/Direct3D8.h"

#include "platform/base/Error.h"

namespace d3d {

void CheckPresentParameters(const D3DPRESENT_PARAMETERS& p) {
  if (p.BackBufferWidth == 0 || p.BackBufferHeight == 0 || p.BackBufferWidth > 16384 || p.BackBufferHeight > 16384)
    throw platform::Error("CreateDevice", "back buffer " + std::to_string(p.BackBufferWidth) + "x" +
                                              std::to_string(p.BackBufferHeight) + " not available");
  if (p.EnableAutoDepthStencil && p.AutoDepthStencilFormat != D3DFMT_D16)
    throw platform::Error("CreateDevice", "depth format " + std::to_string(p.AutoDepthStencilFormat) + " not available");
}
}  // namespace d3d
