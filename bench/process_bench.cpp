// The program as a user starts it, headless: the time from exec to the first presented frame, the
// peak memory of a 60-second run, and the speed of recording the greeting to a video.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ChildProcess.h"
#include "tests/support/VideoFrames.h"

namespace {

using bench::Outcome;

// Runs the demo with `args`, its output thrown away, and measures it from outside.
Outcome RunDemo(const std::vector<std::string>& args) {
  std::vector<std::string> all{std::string(WG_APP_DIR) + "/winter-greeting"};
  all.insert(all.end(), args.begin(), args.end());
  return bench::RunInChild([&all] {
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (!std::freopen("/dev/null", "w", stdout)) return 126;
    execv(argv[0], argv.data());
    return 127;
  });
}

void BM_StartupToFirstFrame(benchmark::State& state) {
  double peak = 0;
  for (auto _ : state) {
    const Outcome o = RunDemo({"--headless", "--frames", "1"});
    if (!o.ok) state.SkipWithError("the demo failed");
    state.SetIterationTime(o.seconds);
    peak = o.peakMb;
  }
  state.counters["peak_MB"] = peak;
}
BENCHMARK(BM_StartupToFirstFrame)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

void BM_PeakMemory60s(benchmark::State& state) {
  for (auto _ : state) {
    const Outcome o = RunDemo({"--headless", "--frames", "3600"});
    if (!o.ok) state.SkipWithError("the demo failed");
    state.SetIterationTime(o.seconds);
    state.counters["peak_MB"] = o.peakMb;
  }
}
BENCHMARK(BM_PeakMemory60s)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// Ten seconds of video at 30 fps, with `size` (--size) when not empty; the counters give frames per
// second and the multiple of real time.
void RecordTenSeconds(benchmark::State& state, const std::string& size) {
  const std::string out = std::string(WG_TEST_TMP) + "/bench-record.mp4";
  std::vector<std::string> args{"--record", out, "--seconds", "10", "--fps", "30"};
  if (!size.empty()) args.insert(args.end(), {"--size", size});
  for (auto _ : state) {
    const Outcome o = RunDemo(args);
    if (!o.ok) state.SkipWithError("the recording failed");
    state.SetIterationTime(o.seconds);
    state.counters["fps"] = 300.0 / o.seconds;
    state.counters["x_realtime"] = 10.0 / o.seconds;
    state.counters["peak_MB"] = o.peakMb;
  }
  std::filesystem::remove(out);
}

void BM_Record10s(benchmark::State& state) {
  RecordTenSeconds(state, "");
}
BENCHMARK(BM_Record10s)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The same upright, at a phone's 1080 x 1920: 2.6 times the pixels of the default frame.
void BM_Record10s1080x1920(benchmark::State& state) {
  RecordTenSeconds(state, "1080x1920");
}
BENCHMARK(BM_Record10s1080x1920)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// What the encoder's settings give for the same ten seconds: the file's size and how close the video
// stays to the frames rendered for it (PSNR over RGB, whole and of the worst frame), against the
// frames --frames-dir writes. The time is the recording's.
void BM_Record10sFidelity(benchmark::State& state) {
  const std::string dir = std::string(WG_TEST_TMP) + "/bench-fidelity";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string out = dir + "/greeting.mp4";
  for (auto _ : state) {
    const Outcome o = RunDemo({"--record", out, "--seconds", "10", "--fps", "30"});
    if (!o.ok || !RunDemo({"--frames-dir", dir + "/frames", "--seconds", "10", "--fps", "30"}).ok) {
      state.SkipWithError("the recording failed");
      break;
    }
    state.SetIterationTime(o.seconds);
    const wgtest::Fidelity f = wgtest::VideoAgainstFrames(out, dir + "/frames");
    if (!f.error.empty() || f.frames != 300) {
      state.SkipWithError(f.error.empty() ? "the video does not hold 300 frames" : f.error.c_str());
      break;
    }
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(out));
    state.counters["psnr_dB"] = f.psnr;
    state.counters["worst_dB"] = f.worstPsnr;
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_Record10sFidelity)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
