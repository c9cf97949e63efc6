// The music platform in DirectMusic's terms: the root object that creates performances and loaders,
// the performance with its default audio path and that path's one output buffer, the loader, the
// segment and the playing segment state. A FluidSynth General MIDI synthesizer plays into the buffer;
// the buffer goes to the SDL audio device, or, offline, into whatever memory the caller renders into.
// Every failing call throws platform::Error naming the call (and the file, where one is involved).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/audio/StandardMidiFile.h"

namespace audio {

using DWORD = std::uint32_t;

enum class OutputMode {
  Device,   // the SDL audio device plays the buffer in real time
  Offline,  // no audio device: the buffer is rendered on request (tests, headless runs, video export)
};

constexpr DWORD DMUS_AUDIOF_3D = 0x1;
constexpr DWORD DMUS_AUDIOF_ENVIRON = 0x2;
constexpr DWORD DMUS_AUDIOF_EAX = 0x4;
constexpr DWORD DMUS_AUDIOF_DMOS = 0x8;
constexpr DWORD DMUS_AUDIOF_STREAMING = 0x10;
constexpr DWORD DMUS_AUDIOF_BUFFERS = 0x20;
constexpr DWORD DMUS_AUDIOF_ALL = 0x3F;

constexpr DWORD DMUS_APATH_SHARED_STEREOPLUSREVERB = 1;
constexpr DWORD DMUS_APATH_DYNAMIC_3D = 6;
constexpr DWORD DMUS_APATH_DYNAMIC_MONO = 7;
constexpr DWORD DMUS_APATH_DYNAMIC_STEREO = 8;

constexpr std::int32_t DMUS_PCHANNEL_ALL = -5;  // 0xFFFFFFFB
constexpr DWORD DMUS_PATH_BUFFER = 0x6000;
constexpr DWORD DMUS_SEGF_DEFAULT = 0x4000;

constexpr const char* GUID_DSFX_WAVES_REVERB = "GUID_DSFX_WAVES_REVERB";
constexpr const char* GUID_ALL_OBJECTS = "GUID_ALL_OBJECTS";
constexpr const char* IID_IDirectSoundBuffer8 = "IID_IDirectSoundBuffer8";

// Per-effect results SetFX writes into its result list.
constexpr DWORD DSFXR_LOCSOFTWARE = 2;

// The audio parameters of InitAudio; all zero asks for the platform's defaults.
struct DMUS_AUDIOPARAMS {
  DWORD dwSize = 0;
  DWORD dwValidData = 0;
  DWORD dwFeatures = 0;
  DWORD dwVoices = 0;
  DWORD dwSampleRate = 0;
  std::string clsidDefaultSynth;
};

// Starts making the synthesizer that a later InitAudio for `channels` performance channels plays
// through (its settings and the SoundFont, about 35 ms) on a thread of its own, so that start-up does
// other work meanwhile. `onThreadStart` (where given) runs first on that thread. Nothing is reported
// here: where this fails, InitAudio does the work again and reports the failure in its place.
void PreloadSynthesizer(DWORD channels, std::function<void()> onThreadStart = {});

// One entry of SetFX's effect list.
struct DSEFFECTDESC {
  std::int32_t lSize = 0;
  std::int32_t lFlags = 0;
  std::string guidDSFXClass;
  std::int32_t lReserved1 = 0;
  std::int32_t lReserved2 = 0;
};

class Synthesizer;
class DirectMusicSegment8;
class DirectMusicAudioPath8;

// What the output buffer has rendered, for checks that cannot listen to the device.
struct OutputStats {
  std::uint64_t blocks = 0;  // blocks rendered since InitAudio
  float peakSinceStop = 0;   // the largest sample since the last StopEx (or since start)
  std::uint64_t blocksSinceStop = 0;
};

// The default audio path's output buffer: everything the synthesizer plays passes through it, and
// the effects set on it process the whole mix.
class DirectSoundSecondaryBuffer8 {
 public:
  explicit DirectSoundSecondaryBuffer8(std::shared_ptr<Synthesizer> synth) : synth_(std::move(synth)) {}
  // Sets the buffer's effects: `count` entries of `effects`; `results` receives one result per entry.
  // Only GUID_DSFX_WAVES_REVERB is available. The buffer must not be playing (its path deactivated).
  // A count of 0 removes every effect.
  void SetFX(DWORD count, const DSEFFECTDESC* effects, DWORD* results);

 private:
  std::shared_ptr<Synthesizer> synth_;
};

class DirectMusicAudioPath8 {
 public:
  explicit DirectMusicAudioPath8(std::shared_ptr<Synthesizer> synth) : synth_(std::move(synth)) {}
  // The path's one buffer: channel DMUS_PCHANNEL_ALL, stage DMUS_PATH_BUFFER, buffer 0, class
  // GUID_ALL_OBJECTS, index 0, interface IID_IDirectSoundBuffer8. Anything else is not in the path.
  std::shared_ptr<DirectSoundSecondaryBuffer8> GetObjectInPath(std::int32_t pChannel, DWORD stage,
                                                               DWORD buffer, const std::string& guidObject,
                                                               DWORD index, const std::string& iidInterface);
  // An inactive path stops feeding its buffer: the output is silent and the tune waits.
  void Activate(bool active);
  bool IsActive() const;

 private:
  friend class DirectMusicPerformance8;
  friend class DirectMusicSegment8;
  std::shared_ptr<Synthesizer> synth_;
  std::shared_ptr<DirectSoundSecondaryBuffer8> buffer_;
};

class DirectMusicSegmentState8 {
 public:
  explicit DirectMusicSegmentState8(const DirectMusicSegment8* segment) : segment_(segment) {}
  const DirectMusicSegment8* Segment() const { return segment_; }

 private:
  const DirectMusicSegment8* segment_;
};

class DirectMusicSegment8 {
 public:
  DirectMusicSegment8(std::string file, std::vector<std::uint8_t> bytes, const StandardMidiFile& smf)
      : file_(std::move(file)), bytes_(std::move(bytes)), smf_(smf) {}

  // General MIDI program changes and the General MIDI instrument set: the synthesizer is reset to
  // General MIDI before the segment plays.
  void SetStandardMidiFile() { standardMidi_ = true; }
  // Loads the instruments the tune needs into the path's synthesizer.
  void Download(DirectMusicAudioPath8& path);
  // Frees the instruments downloaded to the path.
  void Unload(DirectMusicAudioPath8& path);

  bool IsStandardMidiFile() const { return standardMidi_; }
  bool IsDownloaded() const { return downloaded_; }
  const std::string& File() const { return file_; }
  const std::vector<std::uint8_t>& Bytes() const { return bytes_; }
  const StandardMidiFile& Info() const { return smf_; }
  // The tune's length through its tempo map, in seconds.
  double LengthSeconds() const { return smf_.lengthSeconds; }

 private:
  std::string file_;
  std::vector<std::uint8_t> bytes_;
  StandardMidiFile smf_;
  bool standardMidi_ = false;
  bool downloaded_ = false;
};

class DirectMusicLoader8 {
 public:
  // Files the tune refers to by name are looked up in `directory`.
  void SetSearchDirectory(const std::string& directory);
  // Reads and checks the standard MIDI file at `file` (a path of the file system).
  std::shared_ptr<DirectMusicSegment8> LoadSegment(const std::string& file);

  const std::string& SearchDirectory() const { return searchDirectory_; }
  const std::string& LastLoadedFile() const { return lastLoaded_; }

 private:
  std::string searchDirectory_;
  std::string lastLoaded_;
};

class DirectMusicPerformance8 {
 public:
  explicit DirectMusicPerformance8(OutputMode mode) : mode_(mode) {}
  ~DirectMusicPerformance8();

  // Creates the synthesizer with the General MIDI SoundFont, the default audio path of type
  // `defaultPathType` (active) and its buffer; in device mode opens the SDL audio device and starts
  // it. `directSound` must be null: the performance makes its own output.
  void InitAudio(void* hWnd, DWORD flags, DMUS_AUDIOPARAMS* params, void* directSound, DWORD defaultPathType,
                 DWORD pChannelCount);
  // The same path every time.
  std::shared_ptr<DirectMusicAudioPath8> GetDefaultAudioPath();
  // Plays `segment` from its start on `path` (null: the default path), once, as the primary segment.
  // Start time 0 means at once; no transition source is supported.
  std::shared_ptr<DirectMusicSegmentState8> PlaySegmentEx(const std::shared_ptr<DirectMusicSegment8>& segment,
                                                          DWORD flags, std::int64_t startTime,
                                                          const DirectMusicSegment8* from,
                                                          DirectMusicAudioPath8* path);
  // Stops `segment` (null: whatever plays) at once: the output is silent from the next block on,
  // reverb tail included. Stop time 0 and flags 0 only.
  void StopEx(const DirectMusicSegment8* segment, std::int64_t stopTime, DWORD flags);
  bool IsPlaying(const DirectMusicSegment8* segment) const;

  // Offline mode: renders the next `frames` frames of interleaved stereo float samples.
  void RenderOffline(float* stereo, std::size_t frames);
  // Offline mode: renders until the playing segment has ended and its tail has died away, at most
  // `maxSeconds` seconds. Returns interleaved stereo samples.
  std::vector<float> RenderToEnd(double maxSeconds);

  OutputMode Mode() const { return mode_; }
  int SampleRate() const;
  bool InstrumentsLoaded() const;
  bool ReverbOn() const;
  OutputStats Stats() const;
  const std::string& SoundFont() const;

 private:
  Synthesizer& Synth(const char* call) const;

  OutputMode mode_;
  std::shared_ptr<Synthesizer> synth_;
  std::shared_ptr<DirectMusicAudioPath8> defaultPath_;
  std::shared_ptr<DirectMusicSegment8> playing_;
};

// The audio side of the DirectX 8 root object.
class DirectX8 {
 public:
  explicit DirectX8(OutputMode mode) : mode_(mode) {}
  std::shared_ptr<DirectMusicPerformance8> DirectMusicPerformanceCreate() const {
    return std::make_shared<DirectMusicPerformance8>(mode_);
  }
  std::shared_ptr<DirectMusicLoader8> DirectMusicLoaderCreate() const {
    return std::make_shared<DirectMusicLoader8>();
  }
  OutputMode Mode() const { return mode_; }

 private:
  OutputMode mode_;
};

}  // namespace audio
