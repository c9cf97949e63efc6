// Height maps as the terrain loads them, then every operation on what was loaded: the window size,
// smoothing, the light map, drawing the window around viewers on and off the grid (the recording
// backend copies every vertex a draw reads) and the height query.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "components/LandScape.h"
#include "platform/d3d/Error.h"
#include "platform/d3d/RecordingBackend.h"

namespace {

struct Harness {
  Harness() : path("/tmp/landscape_fuzz_" + std::to_string(getpid()) + ".tga") {
    auto rec = std::make_unique<d3d::RecordingBackend>();
    backend = rec.get();
    device = std::make_unique<d3d::Device>(std::move(rec));
  }
  std::string path;
  d3d::RecordingBackend* backend;
  std::unique_ptr<d3d::Device> device;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness h;
  std::FILE* f = std::fopen(h.path.c_str(), "wb");
  if (!f) return 0;
  if (size > 0) std::fwrite(data, 1, size, f);
  std::fclose(f);

  // The unread header bytes 0..11 choose the window size and the viewers.
  const auto byte = [&](std::size_t i) { return i < size ? data[i] : std::uint8_t{0}; };
  components::LandScape land(*h.device, nullptr);
  try {
    land.InitLand(h.path, 1.5f, 0.25f, 0.125f, 0.5f, -10.0f, 2.0f, -20.0f);
  } catch (const platform::Error&) {
    return 0;
  }
  if (land.Grid().size() != static_cast<std::size_t>(land.XSize()) * static_cast<std::size_t>(land.ZSize()))
    __builtin_trap();
  try {
    land.FrameSize(static_cast<std::int8_t>(byte(0)) * 3);
    if (land.StripIndex().size() != 2 * static_cast<std::size_t>(land.FrameSize()) + 2) __builtin_trap();
    if (byte(1) & 1) land.FilterHeight();
    land.CalcLiteMap(d3d::D3DVECTOR{1, -1, 0.5f}, 0xFFFFFF, 0x404060);
    h.device->BeginScene();
    for (int k = 0; k < 4; ++k) {
      const float x = static_cast<float>(static_cast<std::int8_t>(byte(2 + k))) * 2.0f;
      const float z = static_cast<float>(static_cast<std::int8_t>(byte(6 + k))) * 2.0f;
      land.Render(x, z, static_cast<float>(byte(10)) * 0.05f,
                  static_cast<float>(static_cast<std::int8_t>(byte(11))) * 0.1f);
      (void)land.GetHeight(x, z);
    }
    h.device->EndScene();
  } catch (const platform::Error&) {
    if (h.device->InScene()) h.device->EndScene();
  }
  h.backend->reset();
  return 0;
}
