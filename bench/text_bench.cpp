// The text overlay's cost per frame: the greeting and a credit line through PrintText on the
// recording device, which keeps neither calls nor draws, so what is measured is the layout, the
// state save and restore, and the device's validation.
#include <benchmark/benchmark.h>

#include "app/Card.h"
#include "app/modAPI.h"
#include "platform/d3d/Direct3D8.h"
#include "tests/support/RecordingBackend.h"
#include "platform/d3dx/Font.h"
#include "platform/window/PerformanceCounter.h"
#include "render/Credits.h"
#include "render/Random.h"
#include "render/modD3D.h"
#include "render/modGen.h"

namespace {

struct TextFrame {
  TextFrame() : api(counter), d3d(direct3d, ".", api, rnd) {
    direct3d.recordCalls = false;
    d3d::D3DPRESENT_PARAMETERS params{};
    params.BackBufferWidth = 1024;
    params.BackBufferHeight = 768;
    params.BackBufferCount = 1;
    params.EnableAutoDepthStencil = 1;
    params.AutoDepthStencilFormat = d3d::D3DFMT_D16;
    d3d.D3DDevice = direct3d.CreateDevice(d3d::D3DADAPTER_DEFAULT, d3d::D3DDEVTYPE_HAL, nullptr,
                                          d3d::D3DCREATE_SOFTWARE_VERTEXPROCESSING, params);
    direct3d.last->keepDraws = false;
    gen.InitFont(*d3d.D3DDevice);
    const app::Card card = app::DefaultCard(".");
    credits.Fill(card.greeting, card.credits);
  }
  void frame(const std::string& credit) {
    d3d::Device& dev = *d3d.D3DDevice;
    dev.BeginScene();
    gen.PrintText(400, 20, "С НОВЫМ 2007 ГОДОМ!", d3d::D3DColorRGB(255, 0, 0));
    gen.PrintText(300, 200, credit, d3d::D3DColorRGB(12, 200, 99));
    dev.EndScene();
  }

  platform::VirtualPerformanceCounter counter;
  d3d::RecordingDirect3D8 direct3d;
  render::Random rnd;
  app::modAPI api;
  render::modD3D d3d;
  render::modGen gen;
  render::Credits credits;
};

// Both lines, every glyph already in the atlas: the steady state of the demo.
void BM_TwoLinesPerFrame(benchmark::State& state) {
  TextFrame f;
  const std::string& credit = f.credits.TitleLines[static_cast<std::size_t>(state.range(0))].text;
  f.frame(credit);
  const std::uint64_t rasterised = f.gen.TextFont()->GlyphsRasterised();
  for (auto _ : state) f.frame(credit);
  if (f.gen.TextFont()->GlyphsRasterised() != rasterised) state.SkipWithError("glyphs were rasterised again");
  state.counters["glyphs"] = static_cast<double>(rasterised);
}
BENCHMARK(BM_TwoLinesPerFrame)->Arg(0)->Arg(1)->Arg(3)->Unit(benchmark::kMicrosecond);

// The first frame of a line: its new glyphs are rasterised and the atlas is rebuilt.
void BM_FirstFrameWithFreshFont(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    TextFrame f;
    state.ResumeTiming();
    f.frame(f.credits.TitleLines[3].text);
  }
}
BENCHMARK(BM_FirstFrameWithFreshFont)->Unit(benchmark::kMicrosecond)->Iterations(20);

}  // namespace

BENCHMARK_MAIN();
