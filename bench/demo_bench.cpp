// The whole demo frame: its CPU cost on the recording backend (the snow update and buffer writes, the
// camera, the plane, the tree, the text layout, with nothing drawn), and the frame rate on the OpenGL
// backend at 1024 x 768, with and without reading the frame back, next to a frame that only clears
// and presents on the same context.
#include <benchmark/benchmark.h>

#include "tests/support/Harness.h"

namespace {

void BM_DemoFrameRecording(benchmark::State& state) {
  wgtest::RecordingDemo demo;
  demo.direct3d.recordCalls = false;
  demo.startup();
  demo.backend().keepDraws = false;
  demo.frames(3000);  // the whole snow pool in play
  for (auto _ : state) demo.frames(1);
  state.counters["flakes"] = demo.form.Snow.FlakeCount();
}
BENCHMARK(BM_DemoFrameRecording)->Unit(benchmark::kMicrosecond);

wgtest::GlDemo& SharedGlDemo() {
  // One context for every GL case, so that they compare like with like.
  static wgtest::GlDemo* demo = [] {
    auto* d = new wgtest::GlDemo;
    d->form.MainLoop(600);  // ten seconds in: snow in the air, the tree and both text lines drawn
    return d;
  }();
  return *demo;
}

// Arg 0: the frame only; arg 1: the frame read back to memory, as a screenshot or video frame is.
void BM_DemoFrameGl(benchmark::State& state) {
  wgtest::GlDemo& demo = SharedGlDemo();
  d3d::Device& dev = *demo.form.D3D.D3DDevice;
  for (auto _ : state) {
    demo.form.MainLoop(1);
    if (state.range(0)) {
      d3d::DWORD w = 0, h = 0;
      benchmark::DoNotOptimize(dev.GetBackend().readBack(w, h));
    } else {
      dev.GetBackend().finish();
    }
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DemoFrameGl)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ClearAndPresentGl(benchmark::State& state) {
  wgtest::GlDemo& demo = SharedGlDemo();
  d3d::Device& dev = *demo.form.D3D.D3DDevice;
  for (auto _ : state) {
    dev.Clear(0, nullptr, 3, render::modD3D::kSkyColor, 1.0f, 0);
    dev.BeginScene();
    dev.EndScene();
    dev.Present(nullptr, nullptr, nullptr, nullptr);
    dev.GetBackend().finish();
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ClearAndPresentGl)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
