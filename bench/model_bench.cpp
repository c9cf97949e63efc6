// Loading glTF models: a 100 000-triangle GLB (DenseConeGlb: positions, normals, texture
// coordinates, 32-bit indices) read in process, and the largest inputs the reader still takes, each read in a
// child process whose peak resident memory (the input included) is the peak_MB counter: every load
// must stay under 2 s and 512 MB.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "bench/ChildProcess.h"
#include "tests/support/DenseConeGlb.h"
#include "platform/d3dx/GltfFile.h"
#include "tests/support/GltfWriter.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

void BM_LoadGlb100k(benchmark::State& state) {
  const Bytes glb = wgtest::DenseConeGlb(250, 200);  // 100 000 triangles
  std::size_t triangles = 0;
  for (auto _ : state) {
    const d3dx::XModel model = d3dx::ParseGltf(glb.data(), glb.size(), "cone.glb", "");
    triangles = model.attributes.size();
    benchmark::DoNotOptimize(model.vertices.data());
  }
  if (triangles != 100000) state.SkipWithError("not 100 000 triangles");
  state.counters["file_KB"] = static_cast<double>(glb.size()) / 1024.0;
}
BENCHMARK(BM_LoadGlb100k)->Unit(benchmark::kMillisecond);

void Measure(benchmark::State& state, const Bytes& data, bool mustRead) {
  bench::Outcome o;
  for (auto _ : state) {
    o = bench::RunInChild([&data] {
      d3dx::ParseGltf(data.data(), data.size(), "bench.glb", "");
      return 0;
    });
    state.SetIterationTime(o.seconds);
  }
  if (o.ok != mustRead) state.SkipWithError(mustRead ? "refused" : "read");
  state.counters["peak_MB"] = o.peakMb;
  state.counters["file_KB"] = static_cast<double>(data.size()) / 1024.0;
}

// The JSON text with the most values the reader parses: each empty array counts twice (its bracket
// and its comma), so about a million of them.
void BM_GltfMostJsonValues(benchmark::State& state) {
  std::string json = R"({"asset":{"version":"2.0"},"extras":[)";
  for (std::size_t i = 0; i + 8 < d3dx::kMaxGltfJsonValues / 2; ++i) json += "[],";
  json += "[]]}";
  Measure(state, wgtest::Bytes(json), true);
}
BENCHMARK(BM_GltfMostJsonValues)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// A mesh of `vertices` vertices (all at the origin) and `triangles` byte-indexed triangles drawn by
// `nodes` nodes under one root: a tiny file that asks for a large model.
Bytes Instanced(std::size_t vertices, std::size_t triangles, int nodes) {
  wgtest::GltfDoc d;
  const std::size_t pos = d.bin.Add<std::uint8_t>({});
  d.bin.bytes.resize(pos + 12 * vertices, 0);
  d.View(pos, 12 * vertices);
  const std::size_t idx = d.bin.Add<std::uint8_t>({});
  d.bin.bytes.resize(idx + 3 * triangles, 0);
  d.View(idx, 3 * triangles);
  d.accessors = {
      R"({"bufferView":0,"componentType":5126,"count":)" + std::to_string(vertices) + R"(,"type":"VEC3"})",
      R"({"bufferView":1,"componentType":5121,"count":)" + std::to_string(3 * triangles) +
          R"(,"type":"SCALAR"})"};
  d.meshes = {R"({"primitives":[{"attributes":{"POSITION":0},"indices":1}]})"};
  std::vector<std::string> children;
  for (int i = 1; i <= nodes; ++i) {
    children.push_back(std::to_string(i));
    d.nodes.push_back(R"({"mesh":0,"translation":[1,0,0]})");
  }
  d.nodes.insert(d.nodes.begin(), R"({"children":[)" + wgtest::Join(children) + "]}");
  return d.GlbFile();
}

// The most triangles a model may draw: an 8 192-triangle mesh drawn by 256 nodes.
void BM_GltfMostTrianglesByInstancing(benchmark::State& state) {
  Measure(state, Instanced(3, 8192, 256), true);
}
BENCHMARK(BM_GltfMostTrianglesByInstancing)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The most vertices and triangles together, in many draws: a 128-vertex, 128-triangle mesh drawn by
// 16 384 nodes.
void BM_GltfMostVerticesByInstancing(benchmark::State& state) {
  Measure(state, Instanced(128, 128, 16384), true);
}
BENCHMARK(BM_GltfMostVerticesByInstancing)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
