// The greeting's frame rate in the browser next to the desktop's, measured in one run on the same
// machine: the exported page in headless Chromium (software WebGL2, SwiftShader) renders 300 frames
// at the fixed step and times them itself; the desktop draws the same 300 frames on llvmpipe; and
// the web floor (bench/web-floor), a hand-written WebGL2 page drawing the same frames from the
// desktop's recording of them, timed by itself the same way, in turns with the page.
// And the wait on a slow phone link: from navigation to the first frame drawn under the page's
// control, with DevTools throttling the network to 560 ms latency, 1.6 Mbit/s down, 750 kbit/s up.
// WG_BENCH_APP_DIR names another build's application folder to export with (an earlier build's
// figure beside this one's).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/FloorFrame.h"
#include "bench/WebFloorRecording.h"
#include "tests/support/Browser.h"
#include "tests/support/FrameDiff.h"
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

// What the page's and the floor's rows share in one process: the exported page, served, and one
// browser; the floor's recording and its pixel check are made when a floor row first runs. bench/run
// runs each row in a process of its own, which then makes only what that row needs.
struct WebFrames {
  std::string error;  // why no row can run; empty when they can
  std::string page;
  std::unique_ptr<wgtest::StaticServer> pageServer;
  std::unique_ptr<wgtest::Chromium> browser;
  bool floorTried = false;
  std::string floorError;
  std::unique_ptr<wgtest::StaticServer> floorServer;
  double floorMB = 0, pixelsDiffering = 0, maxLevels = 0, pointsKept = 0, pointsDropped = 0;
};

// The fixed-step run of `url` (the page or the floor, ?frames=kFrames+1): the milliseconds the page
// measured for frames 2 to kFrames+1 and the last frame as the page encoded it; a negative time,
// with the reason in `png`, when it did not finish.
double FixedRun(wgtest::Chromium& browser, const std::string& url, std::string& png) {
  browser.Navigate(url);
  if (!browser.WaitFor("document.title.startsWith('done') || document.title.startsWith('failed')",
                       std::chrono::minutes(10))) {
    png = url + " did not finish";
    return -1;
  }
  if (const std::string title = browser.Evaluate("document.title").str(); !title.starts_with("done")) {
    png = url + ": " + title;
    return -1;
  }
  png = wgtest::DecodeDataUrl(browser.Evaluate("wgResult.png").str());
  return browser.Evaluate("wgResult.ms").num();
}

WebFrames& SharedWebFrames(benchmark::State& state) {
  static WebFrames* frames = nullptr;
  if (!frames) {
    frames = new WebFrames;
    frames->page = ExportPage(state);
    if (frames->page.empty()) {
      frames->error = "the page could not be exported";
      return *frames;
    }
    frames->pageServer = std::make_unique<wgtest::StaticServer>(frames->page);
    frames->browser = std::make_unique<wgtest::Chromium>();
  } else if (!frames->error.empty()) {
    state.SkipWithError(frames->error.c_str());
  }
  return *frames;
}

std::vector<std::uint8_t> Rgba(const wgtest::Picture& p) {
  std::vector<std::uint8_t> rgba;
  rgba.reserve(p.rgb.size() / 3 * 4);
  for (std::size_t i = 0; i + 2 < p.rgb.size(); i += 3) rgba.insert(rgba.end(), {p.rgb[i], p.rgb[i + 1], p.rgb[i + 2], 255});
  return rgba;
}

// The floor's page and its recording of the same frames, served; then its frame kFrames+1 against
// the exported page's. A difference in more than kMostPixelsDiffering pixels (the edges the page's
// offscreen target and flip may shift) leaves the floor unmeasured.
constexpr double kMostPixelsDiffering = 0.01 * 1024 * 768;
void SetUpFloor(WebFrames& f) {
  f.floorTried = true;
  const std::string dir = wgtest::ScratchDir("web-floor-bench");
  try {
    for (const char* file : {"index.html", "floor.js"})
      std::filesystem::copy_file(std::string(WG_SOURCE_DIR) + "/bench/web-floor/" + file, dir + "/" + file);
    const bench::WebFloorRecorder r =
        bench::WriteWebFloorRecording(AppUnderTest(), kFrames + 1, dir + "/recording.bin");
    f.floorMB = static_cast<double>(std::filesystem::file_size(dir + "/recording.bin")) / 1e6;
    f.pointsKept = static_cast<double>(r.pointsKept);
    f.pointsDropped = static_cast<double>(r.pointsDropped);
  } catch (const std::exception& e) {
    f.floorError = std::string("the floor's recording: ") + e.what();
    return;
  }
  f.floorServer = std::make_unique<wgtest::StaticServer>(dir);
  const std::string frames = std::to_string(kFrames + 1);
  std::string floorPng, pagePng;
  if (FixedRun(*f.browser, f.floorServer->Url("/index.html?frames=" + frames), floorPng) < 0) {
    f.floorError = floorPng;
    return;
  }
  if (FixedRun(*f.browser, f.pageServer->Url("/index.html?frames=" + frames + "&show=last"), pagePng) < 0) {
    f.floorError = pagePng;
    return;
  }
  std::ofstream(dir + "/floor.png", std::ios::binary) << floorPng;
  std::ofstream(dir + "/page.png", std::ios::binary) << pagePng;
  const bench::PixelDifference diff =
      bench::Compare(Rgba(wgtest::PngFromMemory(floorPng)), Rgba(wgtest::PngFromMemory(pagePng)));
  f.pixelsDiffering = static_cast<double>(diff.differing);
  f.maxLevels = diff.maxLevels;
  if (static_cast<double>(diff.differing) > kMostPixelsDiffering)
    f.floorError = "the floor's frame " + frames + " differs from the page's in " +
                   std::to_string(diff.differing) + " pixels, up to " + std::to_string(diff.maxLevels) +
                   " levels (" + dir + "/floor.png, page.png)";
}

void TimeFixedRun(benchmark::State& state, wgtest::Chromium& browser, const std::string& url) {
  for (auto _ : state) {
    std::string why;
    const double ms = FixedRun(browser, url, why);
    if (ms < 0) {
      state.SkipWithError(why.c_str());
      return;
    }
    state.SetIterationTime(ms / 1000.0 / kFrames);
    state.counters["fps"] = kFrames * 1000.0 / ms;
  }
}

// Frame 1 is drawn at start-up; the page times frames 2 to N.
void BM_WebPageFrameChromium(benchmark::State& state) {
  WebFrames& f = SharedWebFrames(state);
  if (!f.error.empty()) return;
  TimeFixedRun(state, *f.browser, f.pageServer->Url("/index.html?frames=" + std::to_string(kFrames + 1)));
}

// The same frames drawn by the floor's page (bench/web-floor), timed by it with the page's rule.
void BM_WebFloorFrameChromium(benchmark::State& state) {
  WebFrames& f = SharedWebFrames(state);
  if (!f.error.empty()) return;
  if (!f.floorTried) SetUpFloor(f);
  if (!f.floorError.empty()) {
    state.SkipWithError(f.floorError.c_str());
    return;
  }
  TimeFixedRun(state, *f.browser, f.floorServer->Url("/index.html?frames=" + std::to_string(kFrames + 1)));
  state.counters["px_differing"] = f.pixelsDiffering;
  state.counters["max_levels"] = f.maxLevels;
  state.counters["recording_MB"] = f.floorMB;
  state.counters["points_sent"] = f.pointsKept;
  state.counters["points_left_out"] = f.pointsDropped;
}

// The page and the floor in turns, so that both see the same moments of a shared machine.
constexpr int kRounds = 3;
const int kRegistered = [] {
  for (int round = 1; round <= kRounds; ++round)
    for (auto [name, fn] : {std::pair{"BM_WebPageFrameChromium", &BM_WebPageFrameChromium},
                            std::pair{"BM_WebFloorFrameChromium", &BM_WebFloorFrameChromium}})
      benchmark::RegisterBenchmark((std::string(name) + "/round:" + std::to_string(round)).c_str(), fn)
          ->Iterations(1)
          ->UseManualTime()
          ->Unit(benchmark::kMillisecond);
  return 0;
}();

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
