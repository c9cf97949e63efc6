// The greeting's frame rate in the browser next to the desktop's, measured in one run on the same
// machine: the exported page in headless Chromium (software WebGL2, SwiftShader) renders 300 frames
// at the fixed step and times them itself; the desktop draws the same 300 frames on llvmpipe.
// And the wait on a slow phone link: from navigation to the first frame drawn under the page's
// control, with DevTools throttling the network to 560 ms latency, 1.6 Mbit/s down, 750 kbit/s up.
// WG_BENCH_APP_DIR names another build's application folder to export with (an earlier build's
// figure beside this one's).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support/Browser.h"
#include "tests/support/Harness.h"

namespace {

constexpr int kFrames = 300;

std::string AppUnderTest() {
  const char* other = std::getenv("WG_BENCH_APP_DIR");
  return other && *other ? other : wgtest::AppDir();
}

// The default greeting exported by the application under test; empty, with the reason given to
// `state`, when it cannot be.
std::string ExportPage(benchmark::State& state) {
  if (!std::filesystem::exists(AppUnderTest() + "/web/runtime.wasm") || !wgtest::Chromium::Installed()) {
    state.SkipWithError("needs the web runtime (emscripten) and Chromium: scripts/install-deps.sh --test");
    return {};
  }
  const std::string dir = wgtest::ScratchDir("web-bench");
  const std::string cmd =
      AppUnderTest() + "/winter-greeting --export-web " + dir + "/page >" + dir + "/log 2>&1";
  if (std::system(cmd.c_str()) == 0) return dir + "/page";
  state.SkipWithError("the export failed");
  return {};
}

void BM_WebPageFrameChromium(benchmark::State& state) {
  const std::string page = ExportPage(state);
  if (page.empty()) return;
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

// Arg 1: the network throttled as above; 0: not throttled, which leaves the page's own work (the
// runtime's start-up and its first frame in SwiftShader) after the files are in.
void BM_WebFirstFrameThrottled(benchmark::State& state) {
  const std::string page = ExportPage(state);
  if (page.empty()) return;
  wgtest::StaticServer server(page);
  for (auto _ : state) {
    wgtest::Chromium browser;
    if (state.range(0)) browser.Throttle(560, 1600, 750);
    browser.Navigate(server.Url("/"));
    // The first frame is on the canvas when the control that opens the greeting shows.
    if (!browser.WaitFor("!document.getElementById('open').hidden", std::chrono::minutes(5))) {
      state.SkipWithError("the page showed no first frame");
      return;
    }
    // Milliseconds since the navigation began: when the page marked its first frame drawn (the
    // control shows in the same task); the wait that saw it polls every 0.1 s, so its own time is
    // later (shown_ms).
    const double shown = browser.Evaluate("performance.now()").num();
    const double ms = browser
                          .Evaluate("(performance.getEntriesByName('wg-first-frame')[0] || "
                                    "{startTime: performance.now()}).startTime")
                          .num();
    state.SetIterationTime(ms / 1000.0);
    state.counters["shown_ms"] = shown;
    state.counters["fetched_kB"] =
        browser
            .Evaluate(
                "performance.getEntriesByType('resource').reduce((s, e) => s + e.encodedBodySize, 0) / 1000")
            .num();
    // Where the time goes: the page itself in, the last file in (after it, the runtime starts and
    // draws), and how many requests that took.
    state.counters["page_ms"] =
        browser.Evaluate("performance.getEntriesByType('navigation')[0].responseEnd").num();
    state.counters["files_ms"] =
        browser.Evaluate("Math.max(...performance.getEntriesByType('resource').map((e) => e.responseEnd))").num();
    state.counters["requests"] = browser.Evaluate("performance.getEntriesByType('resource').length").num();
    // The page's own marks: the runtime instantiated, the files unpacked, each start-up step, the
    // first frame drawn. Printed once, as milliseconds since navigation.
    if (state.iterations() == 0)
      std::printf("%s\n", browser
                              .Evaluate("performance.getEntriesByType('mark').map((m) => m.name + ' ' + "
                                        "Math.round(m.startTime)).join(', ')")
                              .str()
                              .c_str());
  }
}
BENCHMARK(BM_WebFirstFrameThrottled)->Arg(1)->Arg(0)->Iterations(2)->UseManualTime()->Unit(benchmark::kMillisecond);

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
