// How much of the tune the page's Ogg Opus keeps at each bit rate: the built-in tune rendered as the
// exporter renders it, encoded at the rate, decoded back with FFmpeg and compared with the rendering
// resampled to 48 kHz, over the frames louder than -50 dBFS (2048 samples, Hann, hop 1024), both
// channels, in 25 critical bands from 50 Hz to 20 kHz:
//   nsr_low_db   the noise-to-signal ratio of the worst band under 4.4 kHz (the noise's and the
//                music's energies summed over the tune), where hearing is keenest;
//   nsr_high_db  the same for the bands from 4.4 kHz up (the label lists every band's);
//   band_err_db  the mean |difference| of the bands' energies, frame by frame, over the bands within
//                60 dB of the frame's loudest: the spectral envelope, which Opus codes explicitly;
//   lsd_db       the log-spectral distance over the bins within 60 dB of the frame's loudest.
// The page's rate (app/WebExport.cpp, kTuneBitRate) is the lowest whose noise lies at least 15 dB
// under the music in every band up to 15.5 kHz (a tone masks noise in its band about that far under
// it). Opus codes the top band (15.5 to 20 kHz) by folding lower bands into it, which keeps its energy
// but not its waveform: its ratio is listed, not held to the rule.
#include <benchmark/benchmark.h>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <string>
#include <vector>

#include "music/modMusic.h"
#include "platform/video/OggOpus.h"
#include "tests/support/AudioProbe.h"

namespace {

constexpr int kRate = 48000;
constexpr int kFrame = 2048, kHop = 1024;
constexpr double kBandEdges[] = {50,   100,  200,  300,  400,  510,   630,   770,  920,
                                 1080, 1270, 1480, 1720, 2000, 2320,  2700,  3150, 3700,
                                 4400, 5300, 6400, 7700, 9500, 12000, 15500, 20000};

struct Tune {
  std::vector<float> rendered;  // at the synthesizer's rate, as the exporter encodes it
  int rate = 0;
  std::vector<float> at48k;  // the reference the decoded sound is compared with
};

const Tune& TheTune() {
  static const Tune tune = [] {
    Tune t;
    music::modMusic music(std::string(WG_APP_DIR) + "/music/main.mid", audio::OutputMode::Offline);
    music.InitMusic(nullptr);
    t.rendered = music.MusicPerformance->RenderToEnd(3600);
    t.rate = music.MusicPerformance->SampleRate();
    music.Shutdown();
    AVChannelLayout layout;
    av_channel_layout_default(&layout, 2);
    SwrContext* swr = nullptr;
    swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_FLT, kRate, &layout, AV_SAMPLE_FMT_FLT, t.rate, 0,
                        nullptr);
    swr_init(swr);
    const int in = static_cast<int>(t.rendered.size() / 2);
    t.at48k.resize(static_cast<std::size_t>(swr_get_out_samples(swr, in) + 64) * 2);
    auto* dst = reinterpret_cast<std::uint8_t*>(t.at48k.data());
    const auto* src = reinterpret_cast<const std::uint8_t*>(t.rendered.data());
    int got = swr_convert(swr, &dst, static_cast<int>(t.at48k.size() / 2), &src, in);
    dst += static_cast<std::size_t>(got) * 8;
    got += swr_convert(swr, &dst, static_cast<int>(t.at48k.size() / 2) - got, nullptr, 0);
    t.at48k.resize(static_cast<std::size_t>(got) * 2);
    swr_free(&swr);
    return t;
  }();
  return tune;
}

void Fft(std::vector<std::complex<double>>& a) {
  const std::size_t n = a.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (std::size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> w = std::polar(1.0, -2 * M_PI / static_cast<double>(len));
    for (std::size_t i = 0; i < n; i += len) {
      std::complex<double> wk = 1;
      for (std::size_t k = 0; k < len / 2; ++k, wk *= w) {
        const std::complex<double> u = a[i + k], v = a[i + k + len / 2] * wk;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// The lag (in samples, -max..max) by which `got` trails `want`, from the cross-correlation of the
// left channel over a loud stretch.
int Lag(const std::vector<float>& want, const std::vector<float>& got, int max) {
  const std::size_t from = static_cast<std::size_t>(kRate) * 5, len = kRate;
  double best = -1e300;
  int lag = 0;
  for (int l = -max; l <= max; ++l) {
    double sum = 0;
    for (std::size_t i = from; i < from + len; ++i) {
      const std::size_t j = i + static_cast<std::size_t>(l);
      if (j * 2 < got.size() && i * 2 < want.size()) sum += static_cast<double>(want[i * 2]) * got[j * 2];
    }
    if (sum > best) best = sum, lag = l;
  }
  return lag;
}

struct Quality {
  double nsrLowDb = 0;     // the worst band's noise-to-signal ratio below 4 kHz
  double nsrHighDb = 0;    // the worst band's from 4 kHz up
  double bandErrorDb = 0;  // the mean |difference| of band energies, in dB, over the bands heard
  double lsdDb = 0;        // the log-spectral distance over the bins heard
  double bandwidthKhz = 0; // where the decoded energy falls 10 dB under the music's and stays under
  std::vector<double> nsrDb;
};

// What the frames of `want` and `got` differ by. A band or bin counts as heard where it lies within
// 60 dB of the frame's loudest (quieter ones are masked or under the threshold of hearing at any
// listening level that keeps the loudest comfortable).
Quality Compare(const std::vector<float>& want, const std::vector<float>& got, int lag) {
  constexpr std::size_t kBands = std::size(kBandEdges) - 1;
  std::vector<double> noise(kBands), signal(kBands), decodedEnergy(kBands);
  double lsdSum = 0, bandErrorSum = 0;
  int frames = 0, bandsHeard = 0;
  std::vector<double> window(kFrame);
  for (int i = 0; i < kFrame; ++i) window[i] = 0.5 - 0.5 * std::cos(2 * M_PI * i / kFrame);
  const double binHz = static_cast<double>(kRate) / kFrame;
  const std::size_t total = want.size() / 2;
  std::vector<std::size_t> bandOf(kFrame / 2, kBands);
  for (int k = 1; k < kFrame / 2; ++k) {
    const double hz = k * binHz;
    if (hz >= kBandEdges[0] && hz < kBandEdges[kBands])
      bandOf[k] = static_cast<std::size_t>(std::upper_bound(std::begin(kBandEdges), std::end(kBandEdges), hz) -
                                           std::begin(kBandEdges)) - 1;
  }
  for (int ch = 0; ch < 2; ++ch) {
    for (std::size_t at = 0; at + kFrame < total; at += kHop) {
      std::vector<std::complex<double>> a(kFrame), b(kFrame);
      double energy = 0;
      for (int i = 0; i < kFrame; ++i) {
        const std::size_t j = at + i + static_cast<std::size_t>(std::max(lag, 0));
        a[i] = window[i] * want[(at + i) * 2 + ch];
        b[i] = j * 2 + ch < got.size() ? window[i] * got[j * 2 + ch] : 0.0;
        energy += std::norm(a[i]);
      }
      if (10 * std::log10(energy / kFrame + 1e-30) < -50) continue;
      Fft(a);
      Fft(b);
      std::vector<double> ea(kBands), eb(kBands);
      double peakBin = 0;
      for (int k = 1; k < kFrame / 2; ++k) {
        if (bandOf[k] == kBands) continue;
        noise[bandOf[k]] += std::norm(a[k] - b[k]);
        signal[bandOf[k]] += std::norm(a[k]);
        decodedEnergy[bandOf[k]] += std::norm(b[k]);
        ea[bandOf[k]] += std::norm(a[k]);
        eb[bandOf[k]] += std::norm(b[k]);
        peakBin = std::max(peakBin, std::norm(a[k]));
      }
      const double peakBand = *std::max_element(ea.begin(), ea.end());
      for (std::size_t band = 0; band < kBands; ++band)
        if (ea[band] > peakBand * 1e-6) {
          bandErrorSum += std::fabs(10 * std::log10((ea[band] + 1e-20) / (eb[band] + 1e-20)));
          ++bandsHeard;
        }
      double lsd = 0;
      int bins = 0;
      for (int k = 1; k < kFrame / 2; ++k) {
        if (bandOf[k] == kBands || std::norm(a[k]) < peakBin * 1e-6) continue;
        const double d = 10 * std::log10((std::norm(a[k]) + 1e-20) / (std::norm(b[k]) + 1e-20));
        lsd += d * d;
        ++bins;
      }
      if (bins) lsdSum += std::sqrt(lsd / bins);
      ++frames;
    }
  }
  Quality q;
  q.nsrLowDb = q.nsrHighDb = -1e9;
  for (std::size_t b = 0; b < kBands; ++b) {
    const double nsr = signal[b] > 0 ? 10 * std::log10(noise[b] / signal[b]) : -1e9;
    q.nsrDb.push_back(nsr);
    (kBandEdges[b] < 4000 ? q.nsrLowDb : q.nsrHighDb) = std::max(kBandEdges[b] < 4000 ? q.nsrLowDb : q.nsrHighDb, nsr);
    if (decodedEnergy[b] > signal[b] * 0.1) q.bandwidthKhz = kBandEdges[b + 1] / 1000;
  }
  q.lsdDb = frames ? lsdSum / frames : 0;
  q.bandErrorDb = bandsHeard ? bandErrorSum / bandsHeard : 0;
  return q;
}

void BM_TuneOpusQuality(benchmark::State& state) {
  const Tune& tune = TheTune();
  const int bitRate = static_cast<int>(state.range(0)) * 1000;
  const std::string file =
      std::string(WG_TEST_TMP) + "/opus-quality-" + std::to_string(state.range(0)) + ".ogg";
  std::filesystem::create_directories(WG_TEST_TMP);
  for (auto _ : state) video::WriteOggOpus(file, tune.rendered, tune.rate, bitRate);
  std::vector<float> decoded;
  wgtest::DecodeAudio(file, decoded);
  const int lag = Lag(tune.at48k, decoded, 2048);
  const Quality q = Compare(tune.at48k, decoded, lag);
  state.counters["kB"] = static_cast<double>(std::filesystem::file_size(file)) / 1000;
  state.counters["nsr_low_db"] = q.nsrLowDb;
  state.counters["nsr_high_db"] = q.nsrHighDb;
  state.counters["band_err_db"] = q.bandErrorDb;
  state.counters["lsd_db"] = q.lsdDb;
  state.counters["bw_khz"] = q.bandwidthKhz;
  state.counters["lag"] = lag;
  std::string bands;
  for (std::size_t b = 0; b < q.nsrDb.size(); ++b) bands += " " + std::to_string(static_cast<int>(std::lround(q.nsrDb[b])));
  state.SetLabel("NSR per band (dB):" + bands);
}
BENCHMARK(BM_TuneOpusQuality)
    ->Arg(32)
    ->Arg(48)
    ->Arg(64)
    ->Arg(80)
    ->Arg(96)
    ->Arg(112)
    ->Arg(128)
    ->Arg(160)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
