#include "platform/audio/DirectMusic.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/audio/Synthesizer.h"
#include "platform/base/Error.h"

namespace audio {

void PreloadSynthesizer(DWORD channels, std::function<void()> onThreadStart) {
  if (channels == 0 || channels > 1024) return;  // InitAudio refuses these
  Synthesizer::Preload(static_cast<int>(channels), std::move(onThreadStart));
}

namespace {

std::vector<std::uint8_t> ReadWholeFile(const std::string& file, const std::string& call) {
  std::FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) throw platform::Error(call, std::string("cannot open the file: ") + std::strerror(errno), file);
  std::vector<std::uint8_t> bytes;
  std::uint8_t chunk[65536];
  std::size_t n = 0;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (bytes.size() > kMaxMidiFileBytes) break;
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) throw platform::Error(call, "cannot read the file", file);
  return bytes;
}

}  // namespace

void DirectSoundSecondaryBuffer8::SetFX(DWORD count, const DSEFFECTDESC* effects, DWORD* results) {
  if (count > 0 && (!effects || !results)) throw platform::Error("SetFX", "no effect list or no result list");
  if (synth_->Active())
    throw platform::Error("SetFX", "the buffer is playing: deactivate its audio path first");
  bool reverb = false;
  for (DWORD i = 0; i < count; ++i) {
    if (effects[i].guidDSFXClass != GUID_DSFX_WAVES_REVERB)
      throw platform::Error("SetFX", "effect class '" + effects[i].guidDSFXClass + "' is not available");
    reverb = true;
  }
  synth_->SetReverb(reverb);
  for (DWORD i = 0; i < count; ++i) results[i] = DSFXR_LOCSOFTWARE;
}

std::shared_ptr<DirectSoundSecondaryBuffer8> DirectMusicAudioPath8::GetObjectInPath(
    std::int32_t pChannel, DWORD stage, DWORD buffer, const std::string& guidObject, DWORD index,
    const std::string& iidInterface) {
  if (pChannel != DMUS_PCHANNEL_ALL || stage != DMUS_PATH_BUFFER || buffer != 0 ||
      guidObject != GUID_ALL_OBJECTS || index != 0)
    throw platform::Error("GetObjectInPath", "no such object in the audio path");
  if (iidInterface != IID_IDirectSoundBuffer8)
    throw platform::Error("GetObjectInPath", "the buffer does not offer interface '" + iidInterface + "'");
  return buffer_;
}

void DirectMusicAudioPath8::Activate(bool active) {
  synth_->SetActive(active);
}

bool DirectMusicAudioPath8::IsActive() const {
  return synth_->Active();
}

void DirectMusicSegment8::Download(DirectMusicAudioPath8& path) {
  path.synth_->LoadInstruments("Download");
  downloaded_ = true;
}

void DirectMusicSegment8::Unload(DirectMusicAudioPath8& path) {
  if (!downloaded_) return;
  path.synth_->UnloadInstruments("Unload");
  downloaded_ = false;
}

void DirectMusicLoader8::SetSearchDirectory(const std::string& directory) {
  if (directory.empty()) throw platform::Error("SetSearchDirectory", "empty directory");
  searchDirectory_ = directory;
}

std::shared_ptr<DirectMusicSegment8> DirectMusicLoader8::LoadSegment(const std::string& file) {
  lastLoaded_ = file;
  std::vector<std::uint8_t> bytes = ReadWholeFile(file, "LoadSegment");
  const StandardMidiFile smf = ReadStandardMidiFile(bytes, file, "LoadSegment");
  return std::make_shared<DirectMusicSegment8>(file, std::move(bytes), smf);
}

DirectMusicPerformance8::~DirectMusicPerformance8() = default;

Synthesizer& DirectMusicPerformance8::Synth(const char* call) const {
  if (!synth_) throw platform::Error(call, "the performance's audio is not initialised (InitAudio)");
  return *synth_;
}

void DirectMusicPerformance8::InitAudio(void* hWnd, DWORD flags, DMUS_AUDIOPARAMS* params, void* directSound,
                                        DWORD defaultPathType, DWORD pChannelCount) {
  (void)hWnd;
  if (synth_) throw platform::Error("InitAudio", "the performance's audio is already initialised");
  if (flags & ~DMUS_AUDIOF_ALL) throw platform::Error("InitAudio", "unknown audio feature flags");
  if (directSound)
    throw platform::Error("InitAudio", "a DirectSound object of the caller's is not supported");
  if (params && params->dwValidData != 0)
    throw platform::Error("InitAudio", "audio parameters other than the defaults are not supported");
  if (defaultPathType != DMUS_APATH_SHARED_STEREOPLUSREVERB && defaultPathType != DMUS_APATH_DYNAMIC_3D &&
      defaultPathType != DMUS_APATH_DYNAMIC_MONO && defaultPathType != DMUS_APATH_DYNAMIC_STEREO)
    throw platform::Error("InitAudio", "unknown audio path type " + std::to_string(defaultPathType));
  if (pChannelCount == 0 || pChannelCount > 1024)
    throw platform::Error("InitAudio", "performance channel count " + std::to_string(pChannelCount));
  auto synth = std::make_shared<Synthesizer>(mode_, static_cast<int>(pChannelCount), "InitAudio");
  auto path = std::make_shared<DirectMusicAudioPath8>(synth);
  path->buffer_ = std::make_shared<DirectSoundSecondaryBuffer8>(synth);
  synth_ = synth;
  defaultPath_ = path;
  synth_->Start();
}

std::shared_ptr<DirectMusicAudioPath8> DirectMusicPerformance8::GetDefaultAudioPath() {
  Synth("GetDefaultAudioPath");
  return defaultPath_;
}

std::shared_ptr<DirectMusicSegmentState8> DirectMusicPerformance8::PlaySegmentEx(
    const std::shared_ptr<DirectMusicSegment8>& segment, DWORD flags, std::int64_t startTime,
    const DirectMusicSegment8* from, DirectMusicAudioPath8* path) {
  Synthesizer& synth = Synth("PlaySegmentEx");
  if (!segment) throw platform::Error("PlaySegmentEx", "no segment");
  if (flags != 0 && flags != DMUS_SEGF_DEFAULT)
    throw platform::Error("PlaySegmentEx", "segment flags other than DMUS_SEGF_DEFAULT are not supported",
                          segment->File());
  if (startTime != 0)
    throw platform::Error("PlaySegmentEx", "only start time 0 (at once) is supported", segment->File());
  if (from)
    throw platform::Error("PlaySegmentEx", "transitions from another segment are not supported",
                          segment->File());
  if (path && path != defaultPath_.get())
    throw platform::Error("PlaySegmentEx", "the audio path belongs to another performance", segment->File());
  synth.Play(segment->Bytes(), segment->IsStandardMidiFile(), segment->File());
  playing_ = segment;
  return std::make_shared<DirectMusicSegmentState8>(segment.get());
}

void DirectMusicPerformance8::StopEx(const DirectMusicSegment8* segment, std::int64_t stopTime, DWORD flags) {
  Synthesizer& synth = Synth("StopEx");
  if (stopTime != 0 || flags != 0)
    throw platform::Error("StopEx", "only an immediate stop (time 0, flags 0) is supported");
  if (segment && segment != playing_.get()) return;
  synth.Stop();
  playing_.reset();
}

bool DirectMusicPerformance8::IsPlaying(const DirectMusicSegment8* segment) const {
  if (!synth_ || !playing_) return false;
  if (segment && segment != playing_.get()) return false;
  return synth_->Playing();
}

void DirectMusicPerformance8::RenderOffline(float* stereo, std::size_t frames) {
  Synth("RenderOffline").RenderOffline(stereo, frames);
}

std::vector<float> DirectMusicPerformance8::RenderToEnd(double maxSeconds) {
  Synthesizer& synth = Synth("RenderToEnd");
  const std::size_t block = Synthesizer::kBlockFrames;
  const std::size_t maxFrames =
      static_cast<std::size_t>(std::max(0.0, maxSeconds) * Synthesizer::kSampleRate);
  // After the player is done, the tail counts as over once a quarter second has stayed below -100 dB.
  const std::size_t quietNeeded = Synthesizer::kSampleRate / 4;
  std::vector<float> out;
  std::size_t quiet = 0;
  while (out.size() / 2 < maxFrames) {
    const std::size_t frames = std::min(block, maxFrames - out.size() / 2);
    const std::size_t at = out.size();
    out.resize(at + frames * 2);
    synth.RenderOffline(out.data() + at, frames);
    if (synth.Playing()) {
      quiet = 0;
      continue;
    }
    float peak = 0;
    for (std::size_t i = at; i < out.size(); ++i) peak = std::max(peak, std::fabs(out[i]));
    quiet = peak < 1e-5f ? quiet + frames : 0;
    if (quiet >= quietNeeded) break;
  }
  return out;
}

int DirectMusicPerformance8::SampleRate() const {
  return Synthesizer::kSampleRate;
}

bool DirectMusicPerformance8::InstrumentsLoaded() const {
  return Synth("InstrumentsLoaded").InstrumentsLoaded();
}

bool DirectMusicPerformance8::ReverbOn() const {
  return Synth("ReverbOn").ReverbOn();
}

OutputStats DirectMusicPerformance8::Stats() const {
  return Synth("Stats").Stats();
}

const std::string& DirectMusicPerformance8::SoundFont() const {
  return Synth("SoundFont").SoundFont();
}

}  // namespace audio
