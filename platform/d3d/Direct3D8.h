// The Direct3D 8 object: reads the display mode and creates the device over a focus window.
#pragma once

#include <memory>

#include "platform/d3d/Device.h"

namespace d3d {

class Direct3D8 {
 public:
  virtual ~Direct3D8() = default;
  virtual D3DDISPLAYMODE GetAdapterDisplayMode(DWORD adapter) = 0;
  virtual std::unique_ptr<Device> CreateDevice(DWORD adapter, DWORD deviceType, void* focusWindow,
                                               DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params) = 0;
};

// Checks what every backend needs of the present parameters: a 1024 x 768-style back buffer with a
// 16-bit depth buffer. Throws naming CreateDevice otherwise.
void CheckPresentParameters(const D3DPRESENT_PARAMETERS& params);

}  // namespace d3d
