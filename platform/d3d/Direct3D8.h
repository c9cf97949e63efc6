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

class RecordingBackend;

// Creates devices on the recording backend; `last` is the backend of the device made last.
class RecordingDirect3D8 : public Direct3D8 {
 public:
  D3DDISPLAYMODE GetAdapterDisplayMode(DWORD adapter) override;
  std::unique_ptr<Device> CreateDevice(DWORD adapter, DWORD deviceType, void* focusWindow, DWORD behaviorFlags,
                                       const D3DPRESENT_PARAMETERS& params) override;
  RecordingBackend* last = nullptr;
  D3DPRESENT_PARAMETERS lastParams{};
  DWORD lastBehaviorFlags = 0;
  bool recordCalls = true;
};

}  // namespace d3d
