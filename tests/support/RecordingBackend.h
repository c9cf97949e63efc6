// Test support, never linked into a program. A backend that draws nothing and remembers everything: every
// device call in order with its arguments, and each draw with its vertices and the whole device state in
// force for it.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/d3d/Device.h"
#include "platform/d3d/Direct3D8.h"

namespace d3d {

class RecordingBackend : public Backend {
 public:
  struct Draw {
    DrawCall call;                         // pointers cleared; the data is copied below
                                           // (an index-buffer draw's records from its base vertex)
    std::vector<std::uint8_t> vertexData;  // call.vertexCount x call.stride bytes
    std::vector<std::uint16_t> indexData;
    DeviceState state;
  };

  void clear(DWORD flags, D3DCOLOR color, float z, DWORD stencil) override;
  void draw(const DrawCall& call, const DeviceState& state) override;
  void present() override { ++presents; }
  bool recordsCalls() const override { return recordCalls; }
  void call(Call&& c) override { calls.push_back(std::move(c)); }

  // Names of the recorded calls, in order.
  std::vector<std::string> callNames() const;
  void reset() {
    calls.clear();
    draws.clear();
    clears = presents = 0;
  }

  bool recordCalls = true;
  // Keeping copies of every draw's data and state costs memory in long runs; soak tests turn it off.
  bool keepDraws = true;
  std::vector<Call> calls;
  std::vector<Draw> draws;
  std::uint64_t drawCount = 0;
  int clears = 0, presents = 0;
  DWORD lastClearFlags = 0;
  D3DCOLOR lastClearColor = 0;
};

// Creates devices on the recording backend; `last` is the backend of the device made last.
class RecordingDirect3D8 : public Direct3D8 {
 public:
  D3DDISPLAYMODE GetAdapterDisplayMode(DWORD adapter) override;
  std::unique_ptr<Device> CreateDevice(DWORD adapter, DWORD deviceType, void* focusWindow,
                                       DWORD behaviorFlags, const D3DPRESENT_PARAMETERS& params) override;
  RecordingBackend* last = nullptr;
  D3DPRESENT_PARAMETERS lastParams{};
  DWORD lastBehaviorFlags = 0;
  bool recordCalls = true;
};

}  // namespace d3d
