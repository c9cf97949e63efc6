// The text overlay's cost per frame: the greeting and a credit line through PrintText on the
// recording device, which keeps neither calls nor draws, so what is measured is the layout, the
// state save and restore, and the device's validation.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <memory>
#include <string>

#include "app/Card.h"
#include "app/modAPI.h"
#include "platform/d3d/Direct3D8.h"
#include "platform/d3dx/Font.h"
#include "platform/window/PerformanceCounter.h"
#include "render/Credits.h"
#include "render/Random.h"
#include "render/modD3D.h"
#include "render/modGen.h"
#include "tests/support/BadTexts.h"
#include "tests/support/RecordingBackend.h"

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
  void frame(const std::string& credit) { frame("С НОВЫМ 2007 ГОДОМ!", credit); }
  void frame(const std::string& greeting, const std::string& credit) {
    d3d::Device& dev = *d3d.D3DDevice;
    dev.BeginScene();
    gen.PrintText(400, 20, greeting, d3d::D3DColorRGB(255, 0, 0));
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

const std::string kMixedGreeting = "عام سعيد 🎄 Happy 2027";
const std::string kMixedCredit = "हार्दिक शुभकामनाएँ 新年快乐";

// A greeting of three scripts and an emoji over a credit line of two more, every glyph (from five
// faces) already in the atlas: the steady state of such a card.
void BM_MixedScriptTwoLinesPerFrame(benchmark::State& state) {
  TextFrame f;
  f.frame(kMixedGreeting, kMixedCredit);
  const std::uint64_t rasterised = f.gen.TextFont()->GlyphsRasterised();
  for (auto _ : state) f.frame(kMixedGreeting, kMixedCredit);
  if (f.gen.TextFont()->GlyphsRasterised() != rasterised) state.SkipWithError("glyphs were rasterised again");
  state.counters["glyphs"] = static_cast<double>(rasterised);
}
BENCHMARK(BM_MixedScriptTwoLinesPerFrame)->Unit(benchmark::kMicrosecond);

const std::string kMixedLine = kMixedGreeting + " " + kMixedCredit;

// A line of five faces laid out by a measure that has laid out nothing yet: fontconfig's font list
// sorted for the font, the fallback faces opened, the runs shaped, the glyphs rasterised. The
// process has loaded fontconfig's configuration before (it does so once).
void BM_FirstLayoutOfMixedLine(benchmark::State& state) {
  const d3dx::GdiFont font = render::TextFontSource().hFont();
  for (auto _ : state) {
    state.PauseTiming();
    auto measure = std::make_unique<d3dx::TextMeasure>(font);
    state.ResumeTiming();
    benchmark::DoNotOptimize(measure->Width(kMixedLine));
    state.PauseTiming();
    measure.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstLayoutOfMixedLine)->Unit(benchmark::kMillisecond)->Iterations(20);

// The same in a process that has done nothing with fonts: this program started again with
// --first-layout, which times resolving the font (fontconfig loads its configuration and font
// list), opening the measure and laying the line out, and prints the three in seconds. The
// program's own start is not in it.
int FirstLayoutInThisProcess() {
  using Clock = std::chrono::steady_clock;
  const auto seconds = [](Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
  };
  const auto start = Clock::now();
  const d3dx::GdiFont font = render::TextFontSource().hFont();
  const auto resolved = Clock::now();
  d3dx::TextMeasure measure(font);
  const auto opened = Clock::now();
  const int width = measure.Width(kMixedLine);
  const auto laidOut = Clock::now();
  std::printf("%.9f %.9f %.9f\n", seconds(start, resolved), seconds(resolved, opened),
              seconds(opened, laidOut));
  return width > 0 ? 0 : 1;
}

void BM_FirstLayoutInFreshProcess(benchmark::State& state) {
  char self[PATH_MAX] = {};
  if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return state.SkipWithError("no /proc/self/exe");
  const std::string command = std::string("'") + self + "' --first-layout";
  double font = 0, open = 0, layout = 0;
  for (auto _ : state) {
    FILE* child = popen(command.c_str(), "r");
    double f = -1, o = -1, l = -1;
    if (!child || std::fscanf(child, "%lf %lf %lf", &f, &o, &l) != 3) f = -1;
    if ((child ? pclose(child) : -1) != 0 || f < 0) return state.SkipWithError("the child failed");
    state.SetIterationTime(f + o + l);
    font += f, open += o, layout += l;
  }
  const double n = static_cast<double>(state.iterations()) / 1000.0;
  state.counters["font_ms"] = font / n;
  state.counters["open_ms"] = open / n;
  state.counters["layout_ms"] = layout / n;
}
BENCHMARK(BM_FirstLayoutInFreshProcess)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// Each line of the bad-input tests as a custom greeting meets it: a fresh measure's width, height
// and wrapping to the picture's width in three lines.
void BM_BadInputLayout(benchmark::State& state) {
  const wgtest::BadText bad = wgtest::BadTexts().at(static_cast<std::size_t>(state.range(0)));
  const d3dx::GdiFont font = render::TextFontSource().hFont();
  for (auto _ : state) {
    state.PauseTiming();
    auto measure = std::make_unique<d3dx::TextMeasure>(font);
    state.ResumeTiming();
    benchmark::DoNotOptimize(measure->Width(bad.utf8));
    benchmark::DoNotOptimize(measure->Height(bad.utf8));
    benchmark::DoNotOptimize(measure->Wrap(bad.utf8, 1024, 3));
    state.PauseTiming();
    measure.reset();
    state.ResumeTiming();
  }
  state.SetLabel(bad.name);
}
BENCHMARK(BM_BadInputLayout)
    ->DenseRange(0, static_cast<int>(wgtest::BadTexts().size()) - 1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--first-layout") return FirstLayoutInThisProcess();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
