#include "platform/audio/Synthesizer.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/audio/AudioDevice.h"
#include "platform/audio/Engine.h"
#include "platform/audio/LibraryLog.h"
#include "platform/audio/Preload.h"
#include "platform/audio/SoundFont.h"
#include "platform/base/Error.h"

namespace audio {

Synthesizer::Lock::Lock(const Synthesizer& s) : device_(s.device_.get()) {
  if (device_) device_->Lock();
}

Synthesizer::Lock::~Lock() {
  if (device_) device_->Unlock();
}

void Synthesizer::Preload(int midiChannels, std::function<void()> onThreadStart) {
  StartPreload(ChannelsFor(midiChannels), std::move(onThreadStart));
}

Synthesizer::Synthesizer(OutputMode mode, int midiChannels, const std::string& call)
    : mode_(mode), soundFont_(FindSoundFont(call)) {
  RouteLibraryLog();
  try {
    Engine made;
    const int channels = ChannelsFor(midiChannels);
    if (!TakePreloaded(made, channels, soundFont_)) {
      try {
        MakeEngine(made, channels, soundFont_, call);
      } catch (...) {
        FreeEngine(made);
        throw;
      }
    }
    settings_ = made.settings;
    synth_ = made.synth;
    soundFontId_ = made.soundFontId;

    if (mode_ == OutputMode::Device)
      device_ = {new AudioDevice(kSampleRate, &Synthesizer::Callback, this, call),
                 [](AudioDevice* d) { delete d; }};
  } catch (...) {
    Release();
    throw;
  }
}

Synthesizer::~Synthesizer() {
  Release();
}

void Synthesizer::Release() {
  // The device goes first: once it is closed the callback can no longer touch the player or synth.
  device_.reset();
  DeletePlayer();
  if (synth_) delete_fluid_synth(synth_);
  synth_ = nullptr;
  if (settings_) delete_fluid_settings(settings_);
  settings_ = nullptr;
}

void Synthesizer::Start() {
  if (device_) device_->Start();
}

void Synthesizer::SetActive(bool active) {
  Lock lock(*this);
  active_ = active;
}

void Synthesizer::SetReverb(bool on) {
  Lock lock(*this);
  if (fluid_synth_reverb_on(synth_, -1, on ? 1 : 0) != FLUID_OK)
    throw platform::Error("SetFX", "fluid_synth_reverb_on failed");
  reverb_ = on;
}

void Synthesizer::DeletePlayer() {
  if (!player_) return;
  fluid_player_stop(player_);
  delete_fluid_player(player_);
  player_ = nullptr;
}

void Synthesizer::Play(const std::vector<std::uint8_t>& smf, bool gmReset, const std::string& file) {
  Lock lock(*this);
  DeletePlayer();
  if (gmReset) fluid_synth_system_reset(synth_);
  player_ = new_fluid_player(synth_);
  if (!player_) throw platform::Error("PlaySegmentEx", "new_fluid_player failed", file);
  if (fluid_player_add_mem(player_, smf.data(), smf.size()) != FLUID_OK ||
      fluid_player_play(player_) != FLUID_OK) {
    DeletePlayer();
    throw platform::Error("PlaySegmentEx", "the player did not start", file);
  }
  silenced_ = false;
}

void Synthesizer::Stop() {
  Lock lock(*this);
  DeletePlayer();
  // Ends every voice and empties the reverb's delay lines, so a later tune starts clean.
  fluid_synth_system_reset(synth_);
  silenced_ = true;
  blocksSinceStop_ = 0;
  peakSinceStop_ = 0;
}

bool Synthesizer::Playing() const {
  Lock lock(*this);
  return player_ && fluid_player_get_status(player_) == FLUID_PLAYER_PLAYING;
}

void Synthesizer::LoadInstruments(const std::string& call) {
  // Only the performance's own thread loads and unloads, so what is loaded cannot change meanwhile.
  if (soundFontId_ >= 0) return;
  fluid_sfont_t* font = LoadSoundFontApart(soundFont_, call);
  Lock lock(*this);
  const int id = fluid_synth_add_sfont(synth_, font);
  // Only running out of font ids fails here; the font is then left as it is, as the library offers no
  // way to free one it does not hold.
  if (id == FLUID_FAILED) throw platform::Error(call, "fluid_synth_add_sfont failed", soundFont_);
  soundFontId_ = id;
}

void Synthesizer::UnloadInstruments(const std::string& call) {
  Lock lock(*this);
  if (soundFontId_ < 0) return;
  if (fluid_synth_sfunload(synth_, soundFontId_, 1) != FLUID_OK)
    throw platform::Error(call, "fluid_synth_sfunload failed", soundFont_);
  soundFontId_ = -1;
}

bool Synthesizer::InstrumentsLoaded() const {
  Lock lock(*this);
  return soundFontId_ >= 0 && fluid_synth_sfcount(synth_) > 0;
}

void Synthesizer::Callback(void* self, std::uint8_t* stream, int len) {
  static_cast<Synthesizer*>(self)->Render(reinterpret_cast<float*>(stream),
                                          static_cast<std::size_t>(len) / (2 * sizeof(float)));
}

void Synthesizer::Render(float* stereo, std::size_t frames) {
  if (!active_ || silenced_) {
    std::memset(stereo, 0, frames * 2 * sizeof(float));
    // Silence is immediate: what the limiter held back is dropped, not played after the stop.
    limiter_.Reset();
  } else {
    for (std::size_t done = 0; done < frames;) {
      const int n = static_cast<int>(std::min<std::size_t>(frames - done, kBlockFrames));
      float* out = stereo + done * 2;
      fluid_synth_write_float(synth_, n, out, 0, 2, out, 1, 2);
      done += static_cast<std::size_t>(n);
    }
    limiter_.Process(stereo, frames);
  }
  float peak = peakSinceStop_.load(std::memory_order_relaxed);
  for (std::size_t i = 0; i < frames * 2; ++i) peak = std::max(peak, std::fabs(stereo[i]));
  peakSinceStop_.store(peak, std::memory_order_relaxed);
  ++blocks_;
  ++blocksSinceStop_;
}

void Synthesizer::RenderOffline(float* stereo, std::size_t frames) {
  if (mode_ != OutputMode::Offline)
    throw platform::Error("RenderOffline", "the audio device renders this performance");
  Render(stereo, frames);
}

OutputStats Synthesizer::Stats() const {
  OutputStats s;
  s.blocks = blocks_.load();
  s.blocksSinceStop = blocksSinceStop_.load();
  s.peakSinceStop = peakSinceStop_.load();
  return s;
}

}  // namespace audio
