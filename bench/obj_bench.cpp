// The OBJ reader at its limits: the largest file it takes (a grid of quads with texture coordinates
// and normals, filling kMaxObjFile), ten million triangles refused by count, and one position shared
// by a million texture coordinates. peak_rss_mb is the process's peak after the case.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdint>
#include <string>

#include "platform/base/Error.h"
#include "platform/d3dx/ObjFile.h"

namespace {

double PeakRssMb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A side x side grid of positions, each with its own texture coordinate and normal, drawn as quads.
std::string Grid(int side) {
  std::string text;
  for (int z = 0; z < side; ++z)
    for (int x = 0; x < side; ++x)
      text += "v " + std::to_string(x * 0.125) + " 0.5 " + std::to_string(z * 0.25) + "\n";
  for (int z = 0; z < side; ++z)
    for (int x = 0; x < side; ++x)
      text += "vt " + std::to_string(x / double(side)) + " " + std::to_string(z / double(side)) + "\n";
  for (int i = 0; i < side * side; ++i) text += "vn 0 1 0\n";
  for (int z = 0; z + 1 < side; ++z)
    for (int x = 0; x + 1 < side; ++x) {
      const int a = z * side + x + 1, b = a + 1, c = a + side + 1, d = a + side;
      text += "f";
      for (int i : {a, b, c, d})
        text += " " + std::to_string(i) + "/" + std::to_string(i) + "/" + std::to_string(i);
      text += "\n";
    }
  return text;
}

void Run(benchmark::State& state, const std::string& text, bool refused) {
  for (auto _ : state) {
    try {
      const d3dx::XModel m =
          d3dx::ParseObj(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), "bench.obj", "");
      benchmark::DoNotOptimize(m.indices.data());
      if (refused) state.SkipWithError("accepted");
    } catch (const platform::Error& e) {
      if (!refused) state.SkipWithError(e.what());
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.counters["file_mb"] = static_cast<double>(text.size()) / (1 << 20);
  state.counters["peak_rss_mb"] = PeakRssMb();
}

void BM_ObjLargestGrid(benchmark::State& state) {
  static const std::string text = Grid(860);
  Run(state, text, false);
}
BENCHMARK(BM_ObjLargestGrid)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ObjTenMillionTrianglesRefused(benchmark::State& state) {
  static const std::string text = [] {
    std::string t = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int i = 0; i < 10'000'000; ++i) t += "f 1 2 3\n";
    return t;
  }();
  Run(state, text, true);
}
BENCHMARK(BM_ObjTenMillionTrianglesRefused)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ObjOnePositionAMillionTexCoords(benchmark::State& state) {
  static const std::string text = [] {
    std::string t = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
    for (int i = 0; i < 1'000'000; ++i) t += "vt " + std::to_string(i) + " 0\n";
    for (int i = 1; i <= 1'000'000; ++i) t += "f 1/" + std::to_string(i) + " 2/1 3/1\n";
    return t;
  }();
  Run(state, text, false);
}
BENCHMARK(BM_ObjOnePositionAMillionTexCoords)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
