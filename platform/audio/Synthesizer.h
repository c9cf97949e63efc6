// The engine under the performance: one FluidSynth synthesizer with a General MIDI SoundFont, its
// MIDI file player, and the output buffer it plays into, fed to the SDL audio device or rendered
// offline. Only the files of platform/audio include this header.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/DirectMusic.h"
#include "platform/audio/Limiter.h"

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_player_t fluid_player_t;

namespace audio {

class AudioDevice;

class Synthesizer {
 public:
  static constexpr int kSampleRate = 44100;
  static constexpr int kBlockFrames = 512;
  // The master gain: the built-in tune at full level, its loudest chord about 2 dB below full scale
  // with TimGM6mb. Louder tunes meet the limiter.
  static constexpr float kGain = 1.12f;
  // The limiter on the output: nothing leaves above -1 dBFS, and a squashed peak recovers in 50 ms.
  static constexpr float kCeiling = 0.891f;
  static constexpr double kRelease = 0.05;
  // The room: about a second of reverberation time.
  static constexpr double kRoomSize = 0.2;
  static constexpr double kDamping = 0.3;
  static constexpr double kWidth = 0.8;
  static constexpr double kLevel = 0.6;

  // Starts making a synthesizer for `midiChannels` channels and loading the SoundFont on a thread of
  // its own, for the next Synthesizer to take ready; `onThreadStart` (where given) runs first on that
  // thread. Failures are not reported here: that constructor then does the work again itself and
  // reports them.
  static void Preload(int midiChannels, std::function<void()> onThreadStart = {});

  // Loads the SoundFont (or takes what Preload made); in device mode opens the audio device, still
  // paused.
  Synthesizer(OutputMode mode, int midiChannels, const std::string& call);
  ~Synthesizer();
  Synthesizer(const Synthesizer&) = delete;
  Synthesizer& operator=(const Synthesizer&) = delete;

  // Starts the audio device (device mode).
  void Start();

  void SetActive(bool active);
  bool Active() const { return active_; }
  void SetReverb(bool on);
  bool ReverbOn() const { return reverb_; }

  // Plays a checked standard MIDI file once from its start; with `gmReset` the channels are reset
  // to General MIDI first.
  void Play(const std::vector<std::uint8_t>& smf, bool gmReset, const std::string& file);
  // Stops at once: no voice and no reverb tail sounds after it.
  void Stop();
  bool Playing() const;

  // The SoundFont is read with no lock held: the device keeps playing meanwhile, and only the moment
  // the loaded font joins the synthesizer holds the device's lock.
  void LoadInstruments(const std::string& call);
  void UnloadInstruments(const std::string& call);
  bool InstrumentsLoaded() const;

  void RenderOffline(float* stereo, std::size_t frames);

  OutputMode Mode() const { return mode_; }
  const std::string& SoundFont() const { return soundFont_; }
  OutputStats Stats() const;

 private:
  // Holds the audio device's lock, so the callback never sees a half-made change.
  class Lock {
   public:
    explicit Lock(const Synthesizer& s);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    AudioDevice* device_;
  };

  static void Callback(void* self, std::uint8_t* stream, int len);
  void Render(float* stereo, std::size_t frames);
  void DeletePlayer();
  void Release();

  OutputMode mode_;
  std::string soundFont_;
  fluid_settings_t* settings_ = nullptr;
  fluid_synth_t* synth_ = nullptr;
  fluid_player_t* player_ = nullptr;
  int soundFontId_ = -1;
  // The deleter comes with the device, so a build that opens none (the browser's) needs none of its
  // code.
  std::unique_ptr<AudioDevice, void (*)(AudioDevice*)> device_{nullptr, nullptr};
  bool active_ = true;
  bool reverb_ = false;
  bool silenced_ = false;
  std::atomic<std::uint64_t> blocks_{0};
  std::atomic<std::uint64_t> blocksSinceStop_{0};
  std::atomic<float> peakSinceStop_{0};
  Limiter limiter_{kCeiling, kSampleRate, kRelease};
};

}  // namespace audio
