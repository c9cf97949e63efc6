// render-wav APP_FOLDER|FILE.mid OUT.wav [SECONDS]: plays the application folder's music/main.mid (or
// the MIDI file named) through the demo's own music set-up, offline with no sound card, and writes the
// first SECONDS seconds (20 by default; 0: the whole tune and its tail) as a 16-bit stereo WAV file.
#include <cmath>
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "music/modMusic.h"
#include "platform/files/FileName.h"
#include "platform/window/Window.h"
#include "tools/Wav.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: render-wav APP_FOLDER|FILE.mid OUT.wav [SECONDS]\n");
    return 2;
  }
  try {
    const double seconds = argc == 4 ? std::stod(argv[3]) : 20.0;
    if (!(seconds >= 0) || seconds > 3600) throw std::invalid_argument("SECONDS must lie in 0..3600");
    const std::string source = argv[1];
    const bool file = source.size() > 4 && source.compare(source.size() - 4, 4, ".mid") == 0;
    music::modMusic music(file ? source : platform::MediaPath(source, "\\music\\main.mid"),
                          audio::OutputMode::Offline);
    music.InitMusic(nullptr);
    audio::DirectMusicPerformance8& performance = *music.MusicPerformance;
    const int rate = performance.SampleRate();
    std::vector<float> samples;
    if (seconds == 0) {
      samples = performance.RenderToEnd(3600);
    } else {
      samples.resize(static_cast<std::size_t>(std::lround(seconds * rate)) * 2);
      performance.RenderOffline(samples.data(), samples.size() / 2);
    }
    double sum = 0;
    float peak = 0;
    for (float s : samples) {
      sum += double{s} * s;
      peak = std::max(peak, std::fabs(s));
    }
    const double rms = samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
    audio::WriteWav(argv[2], samples, rate);
    std::printf("Wrote %.1f s of %s (tune %.1f s, SoundFont %s) to %s: RMS %.1f dBFS, peak %.1f dBFS\n",
                static_cast<double>(samples.size() / 2) / rate, music.MusicSegment->File().c_str(),
                music.MusicSegment->LengthSeconds(), performance.SoundFont().c_str(), argv[2],
                20 * std::log10(std::max(rms, 1e-12)), 20 * std::log10(std::max(double{peak}, 1e-12)));
    music.Shutdown();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "render-wav: %s\n", e.what());
    return 1;
  }
  return 0;
}
