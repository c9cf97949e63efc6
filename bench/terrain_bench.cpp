// The terrain's one-time set-up passes on a 1024 x 1024 grid, and one frame of its window with
// FrameSize 64 on the recording backend with nothing kept: the strip draws and their validation.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "components/LandScape.h"
#include "tests/support/RecordingBackend.h"

namespace {

constexpr int kSide = 1024;

std::string HeightMap() {
  const auto dir = std::filesystem::path(WG_TEST_TMP) / "terrain-bench";
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "height1024.tga").string();
  std::vector<char> bytes(18 + static_cast<std::size_t>(kSide) * kSide);
  bytes[2] = 3;
  bytes[12] = static_cast<char>(kSide & 0xFF);
  bytes[13] = static_cast<char>(kSide >> 8);
  bytes[14] = static_cast<char>(kSide & 0xFF);
  bytes[15] = static_cast<char>(kSide >> 8);
  bytes[16] = 8;
  for (int z = 0; z < kSide; ++z)
    for (int x = 0; x < kSide; ++x)
      bytes[18 + static_cast<std::size_t>(z) * kSide + x] =
          static_cast<char>((x * 7 + z * 3 + (x * z) % 17) & 255);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

struct Terrain {
  Terrain() {
    auto rec = std::make_unique<d3d::RecordingBackend>();
    rec->recordCalls = false;
    rec->keepDraws = false;
    backend = rec.get();
    device = std::make_unique<d3d::Device>(std::move(rec));
    land = std::make_unique<components::LandScape>(*device, nullptr);
    land->InitLand(HeightMap(), 2, 0.125f, 0.03125f, 0.25f, 0, 0, 0);
  }
  d3d::RecordingBackend* backend;
  std::unique_ptr<d3d::Device> device;
  std::unique_ptr<components::LandScape> land;
};

void BM_CalcLiteMap1024(benchmark::State& state) {
  Terrain t;
  for (auto _ : state) t.land->CalcLiteMap(d3d::D3DVECTOR{1, -1, 0.5f}, 0xFFFFFF, 0x405080);
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_CalcLiteMap1024)->Unit(benchmark::kMillisecond);

void BM_FilterHeight1024(benchmark::State& state) {
  Terrain t;
  for (auto _ : state) t.land->FilterHeight();
  state.SetItemsProcessed(state.iterations() * kSide * kSide);
}
BENCHMARK(BM_FilterHeight1024)->Unit(benchmark::kMillisecond);

void BM_RenderFrameSize64(benchmark::State& state) {
  Terrain t;
  t.land->FrameSize(64);
  t.device->BeginScene();
  for (auto _ : state) t.land->Render(1024, 1024, 0.3f, 1);
  t.device->EndScene();
  state.counters["strips"] =
      static_cast<double>(t.backend->drawCount) / static_cast<double>(state.iterations());
  state.counters["triangles"] = state.counters["strips"] * t.land->StripPrims();
}
BENCHMARK(BM_RenderFrameSize64)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
