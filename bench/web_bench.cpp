// The greeting's frame rate in the browser next to the desktop's, measured in one run on the same
// machine: the exported page in headless Chromium (software WebGL2, SwiftShader) renders 300 frames
// at the fixed step and times them itself; the desktop draws the same 300 frames on llvmpipe.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/Browser.h"
#include "tests/support/Harness.h"

namespace {

constexpr int kFrames = 300;

std::string ExportPage() {
  const std::string dir = wgtest::ScratchDir("web-bench");
  const std::string cmd =
      wgtest::AppDir() + "/winter-greeting --export-web " + dir + "/page >" + dir + "/log 2>&1";
  return std::system(cmd.c_str()) == 0 ? dir + "/page" : std::string();
}

void BM_WebPageFrameChromium(benchmark::State& state) {
  if (!std::filesystem::exists(wgtest::AppDir() + "/web/runtime.wasm") || !wgtest::Chromium::Installed()) {
    state.SkipWithError("needs the web runtime (emscripten) and Chromium: scripts/install-deps.sh --test");
    return;
  }
  const std::string page = ExportPage();
  if (page.empty()) {
    state.SkipWithError("the export failed");
    return;
  }
  wgtest::StaticServer server(page);
  wgtest::Chromium browser;
  for (auto _ : state) {
    // Frame 1 is drawn at start-up; the page times frames 2 to N.
    browser.Navigate(server.Url("/index.html?frames=" + std::to_string(kFrames + 1)));
    if (!browser.WaitFor("document.title.startsWith('done')", std::chrono::minutes(10))) {
      state.SkipWithError("the page did not finish");
      return;
    }
    const double ms = browser.Evaluate("wgResult.ms").num();
    state.SetIterationTime(ms / 1000.0 / kFrames);
    state.counters["fps"] = kFrames * 1000.0 / ms;
  }
}
BENCHMARK(BM_WebPageFrameChromium)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DesktopFrameLlvmpipe(benchmark::State& state) {
  wgtest::GlDemo demo;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    demo.form.MainLoop(kFrames);
    demo.form.D3D.D3DDevice->GetBackend().finish();
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(s / kFrames);
    state.counters["fps"] = kFrames / s;
  }
}
BENCHMARK(BM_DesktopFrameLlvmpipe)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
