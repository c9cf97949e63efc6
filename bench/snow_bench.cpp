// One frame of snow with the whole pool active, on the recording backend with nothing kept: the
// cost of the update, the 3000 slot writes and the draw's state changes.
#include <benchmark/benchmark.h>

#include "snow/modSnow.h"
#include "tests/support/Harness.h"

namespace {

void BM_RenderSnow3000(benchmark::State& state) {
  wgtest::RecordingDemo demo;
  demo.direct3d.recordCalls = false;
  demo.form.D3D.InitD3D(nullptr);
  demo.backend().keepDraws = false;
  snow::modSnow& snow = demo.form.Snow;
  snow.InitSnow(demo.device());
  demo.form.API.FrameTime = 1000.0 / 60;
  const render::FrameContext frame = demo.form.D3D.Frame("RenderSnow");
  demo.device().BeginScene();
  for (int i = 0; i < snow::modSnow::kPoolSize; ++i) snow.RenderSnow(frame);
  for (auto _ : state) {
    snow.RenderSnow(frame);
  }
  demo.device().EndScene();
  state.counters["flakes"] = snow.FlakeCount();
}
BENCHMARK(BM_RenderSnow3000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
