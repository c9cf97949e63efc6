// The whole demo frame: its CPU cost on the recording backend (the snow update and buffer writes, the
// camera, the plane, the tree, the text layout, with nothing drawn), and the frame rate on the OpenGL
// backend at 1024 x 768, with and without reading the frame back, ten seconds in and once every
// flake is live, next to a frame that only clears and presents on the same context and to the floor:
// a hand-written GL program drawing the same frame.
#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <map>
#include <string>

#include "tests/support/DenseConeGlb.h"
#include "bench/FloorFrame.h"
#include "scene/Mesh.h"
#include "platform/process/Heap.h"
#include "tests/support/Harness.h"

namespace {

// Frames run before the measured ones: ten seconds in, most snow slots are still unwritten and every
// flake that is written is young; after a minute every flake is live.
constexpr std::int64_t kTransientFrames = 600;
constexpr std::int64_t kSteadyFrames = 3600;

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
    d->form.MainLoop(kTransientFrames);  // snow in the air, the tree and both text lines drawn
    return d;
  }();
  return *demo;
}

void RunDemoFrames(benchmark::State& state, wgtest::GlDemo& demo) {
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

// Arg 0: the frame only; arg 1: the frame read back to memory, as a screenshot or video frame is.
void BM_DemoFrameGl(benchmark::State& state) {
  RunDemoFrames(state, SharedGlDemo());
}
BENCHMARK(BM_DemoFrameGl)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DemoFrameGlSteady(benchmark::State& state) {
  wgtest::GlDemo demo;
  demo.form.MainLoop(kSteadyFrames);
  RunDemoFrames(state, demo);
}
BENCHMARK(BM_DemoFrameGlSteady)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same frame with a sender's detailed tree in place of the application's: a 100 000-triangle
// GLB, fitted to the tree's place and drawn lit, as a card with that model draws it.
void BM_DemoFrameGlDenseTree(benchmark::State& state) {
  const std::string path = wgtest::ScratchDir("bench-dense-tree") + "/tree.glb";
  const std::vector<std::uint8_t> glb = wgtest::DenseConeGlb(250, 200);
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(glb.data()),
                                              static_cast<std::streamsize>(glb.size()));
  app::Card card = app::DefaultCard(wgtest::AppDir());
  card.model = path;
  card.ownModel = true;
  wgtest::GlDemo demo(gl::GlDialect::Desktop33, {}, card);
  if (!demo.form.D3D.GetMesh().GetMesh()) {
    state.SkipWithError("the dense tree did not load");
    return;
  }
  demo.form.MainLoop(kTransientFrames);
  RunDemoFrames(state, demo);
  state.counters["triangles"] = 100000;
}
BENCHMARK(BM_DemoFrameGlDenseTree)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// The frame BM_DemoFrameGl/0 starts from, drawn by the floor program; set-up checks that it gives the
// demo's pixels (within one level: the two compile the same arithmetic separately).
void BM_FloorFrameGl(benchmark::State& state) {
  wgtest::RecordingDemo recorded;
  recorded.direct3d.recordCalls = false;
  recorded.startup();
  recorded.backend().keepDraws = false;
  recorded.frames(kTransientFrames);
  recorded.backend().reset();
  recorded.backend().keepDraws = true;
  recorded.frames(1);
  bench::FloorFrame floor(recorded.backend().draws, recorded.backend().lastClearColor);

  std::vector<std::uint8_t> want;
  {
    wgtest::GlDemo demo;
    demo.form.MainLoop(kTransientFrames + 1);
    d3d::DWORD w = 0, h = 0;
    want = demo.form.D3D.D3DDevice->GetBackend().readBack(w, h);
  }
  floor.draw();
  const bench::PixelDifference diff = bench::Compare(floor.readBack(), want);
  if (diff.maxLevels > 1) {
    state.SkipWithError(("the floor's frame differs from the demo's: " + std::to_string(diff.differing) +
                         " pixels, up to " + std::to_string(diff.maxLevels) + " levels")
                            .c_str());
    return;
  }
  for (auto _ : state) floor.draw();
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["px_off_by_1"] = static_cast<double>(diff.differing);
}
BENCHMARK(BM_FloorFrameGl)->Unit(benchmark::kMillisecond)->UseRealTime();

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

// Where start-up goes, step by step, up to the first presented frame, as `--headless` starts: one cold
// start in a fresh process (the first GL context of a process loads the driver).
void BM_StartupSteps(benchmark::State& state) {
  // As the program's main does, before the driver loads.
  platform::ReserveHeapInLargePages();
  std::map<std::string, double> ms;
  for (auto _ : state) {
    auto last = std::chrono::steady_clock::now();
    const auto lap = [&](const char* step) {
      const auto now = std::chrono::steady_clock::now();
      ms[step] += std::chrono::duration<double, std::milli>(now - last).count();
      last = now;
    };
    platform::VirtualPerformanceCounter counter(wgtest::kFrequency);
    gl::GlDirect3D8 direct3d(/*headless=*/true);
    app::Platform platform{nullptr, &counter, &direct3d, wgtest::AppDir(), audio::OutputMode::Offline, {}};
    app::Form1 form(platform);
    lap("objects");
    form.Startup(lap);
    form.MainLoop(1);
    form.D3D.D3DDevice->GetBackend().finish();
    lap("first_frame");
  }
  for (const auto& [step, total] : ms) state.counters[step] = total / static_cast<double>(state.iterations());
}
BENCHMARK(BM_StartupSteps)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
