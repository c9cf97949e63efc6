// The synthesizer in the browser. A page cannot run FluidSynth, so the exporter rendered the tune
// through it beforehand (the same synthesizer and reverb as the video), and here "playing" a segment
// plays that recording in the page's audio element. The performance, loader, segment and audio path
// above it are the desktop's own code (DirectMusic.cpp).
#include <emscripten.h>

#include "platform/audio/Synthesizer.h"
#include "platform/base/Error.h"

// The page's tune object (page.js): the recording that belongs to a MIDI file, played or stopped.
EM_JS(int, wg_tune_play, (const char* midiFile),
      { return Module.tune && Module.tune.play(UTF8ToString(midiFile)) ? 1 : 0; });
EM_JS(void, wg_tune_stop, (), {
  if (Module.tune) Module.tune.stop();
});
EM_JS(int, wg_tune_playing, (), { return Module.tune && Module.tune.playing() ? 1 : 0; });

namespace audio {

// Nothing to make ahead: the recording is loaded with the page.
void Synthesizer::Preload(int midiChannels, std::function<void()> onThreadStart) {
  (void)midiChannels;
  (void)onThreadStart;
}

Synthesizer::Synthesizer(OutputMode mode, int midiChannels, const std::string& call) : mode_(mode) {
  (void)midiChannels;
  (void)call;
  soundFont_ = "the exporter's recording";
}

Synthesizer::~Synthesizer() = default;

void Synthesizer::Start() {}

void Synthesizer::SetActive(bool active) {
  active_ = active;
}

void Synthesizer::SetReverb(bool on) {
  reverb_ = on;
}

void Synthesizer::Play(const std::vector<std::uint8_t>& smf, bool gmReset, const std::string& file) {
  (void)smf;
  (void)gmReset;
  if (!wg_tune_play(file.c_str()))
    throw platform::Error("PlaySegmentEx", "the page holds no recording of the tune", file);
  silenced_ = false;
}

void Synthesizer::Stop() {
  wg_tune_stop();
  silenced_ = true;
}

bool Synthesizer::Playing() const {
  return wg_tune_playing() != 0;
}

void Synthesizer::LoadInstruments(const std::string& call) {
  (void)call;
  soundFontId_ = 1;
}

void Synthesizer::UnloadInstruments(const std::string& call) {
  (void)call;
  soundFontId_ = -1;
}

bool Synthesizer::InstrumentsLoaded() const {
  return soundFontId_ >= 0;
}

void Synthesizer::RenderOffline(float* stereo, std::size_t frames) {
  (void)stereo;
  (void)frames;
  throw platform::Error("RenderOffline", "the browser plays the tune's recording; it renders nothing");
}

OutputStats Synthesizer::Stats() const {
  return OutputStats{};
}

}  // namespace audio
