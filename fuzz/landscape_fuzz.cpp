// Height maps as the terrain loads them (8-bit TGA plain, run-length compressed, with ID and
// colour-map fields, greyscale PNG of every bit depth, and everything the loader must refuse), then
// every operation on what was loaded: the window size, smoothing, the light map, drawing the window
// around viewers on and off the grid (the recording backend copies every vertex a draw reads) and
// the height query. A refused load must leave the terrain as it was.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "components/LandScape.h"
#include "platform/base/Error.h"
#include "tests/support/RecordingBackend.h"

namespace {

struct Harness {
  Harness()
      : path("/tmp/landscape_fuzz_" + std::to_string(getpid()) + ".map"),
        known("/tmp/landscape_fuzz_" + std::to_string(getpid()) + "_known.tga") {
    auto rec = std::make_unique<d3d::RecordingBackend>();
    backend = rec.get();
    device = std::make_unique<d3d::Device>(std::move(rec));
    // A 4 x 4 terrain to load before every input, which a refused input must leave as it was.
    const std::uint8_t tga[18 + 16] = {0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0,  0,  4,  0,  4,  0,  8,
                                       0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    std::FILE* f = std::fopen(known.c_str(), "wb");
    if (!f || std::fwrite(tga, 1, sizeof tga, f) != sizeof tga) __builtin_trap();
    std::fclose(f);
  }
  std::string path, known;
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

  // The file's last 12 bytes, which every format ignores or also reads as data, choose the window
  // size and the viewers.
  const auto byte = [&](std::size_t i) { return size >= 12 ? data[size - 12 + i] : std::uint8_t{0}; };
  components::LandScape land(*h.device, nullptr);
  land.InitLand(h.known, 3.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
  land.FrameSize(3);
  const std::vector<components::LandVertex> before = land.Grid();
  const float probe = land.GetHeight(4.0f, 5.0f);
  try {
    land.InitLand(h.path, 1.5f, 0.25f, 0.125f, 0.5f, -10.0f, 2.0f, -20.0f);
  } catch (const platform::Error&) {
    // Refused: the terrain loaded before is untouched, its scale and placement too.
    if (land.Grid().size() != before.size() ||
        std::memcmp(land.Grid().data(), before.data(), before.size() * sizeof before[0]) != 0 ||
        land.XSize() != 4 || land.FrameSize() != 3 || land.GetHeight(4.0f, 5.0f) != probe)
      __builtin_trap();
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
