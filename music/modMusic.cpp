#include "music/modMusic.h"

#include <vector>

#include "platform/process/Heap.h"

namespace music {

namespace {

constexpr audio::DWORD kAudioFlags = audio::DMUS_AUDIOF_EAX | audio::DMUS_AUDIOF_BUFFERS;
constexpr audio::DWORD kPerformanceChannels = 128;

}  // namespace

std::string ExtractFolder(const std::string& path) {
  for (std::size_t n = path.size(); n >= 1; --n)
    if (path[n - 1] == '\\' || path[n - 1] == '/') return path.substr(0, n);
  return {};
}

void modMusic::Preload() {
  // The SoundFont's samples and the synthesizer's tables fill the preload thread's own heap while the
  // main thread starts the device: on 2 MB pages that takes a fraction of the page faults.
  audio::PreloadSynthesizer(kPerformanceChannels, [] { platform::MarkThisThreadsHeapForLargePages(); });
}

void modMusic::InitMusic(void* hWnd) {
  if (!DX) DX = std::make_unique<audio::DirectX8>(output_);
  MusicPerformance = DX->DirectMusicPerformanceCreate();
  MusicLoader = DX->DirectMusicLoaderCreate();

  audio::DMUS_AUDIOPARAMS params{};
  MusicPerformance->InitAudio(hWnd, kAudioFlags, &params, nullptr, audio::DMUS_APATH_DYNAMIC_3D,
                              kPerformanceChannels);

  // A tune named without a folder lies in the current one.
  const std::string folder = ExtractFolder(tuneFile_);
  MusicLoader->SetSearchDirectory(folder.empty() ? "./" : folder);
  MusicSegment = MusicLoader->LoadSegment(tuneFile_);
  MusicSegment->SetStandardMidiFile();
  MusicSegment->Download(*MusicPerformance->GetDefaultAudioPath());

  std::vector<audio::DSEFFECTDESC> effects(1);
  effects[0].guidDSFXClass = audio::GUID_DSFX_WAVES_REVERB;
  std::vector<audio::DWORD> results(1);

  const std::shared_ptr<audio::DirectMusicAudioPath8> path = MusicPerformance->GetDefaultAudioPath();
  const std::shared_ptr<audio::DirectSoundSecondaryBuffer8> buffer =
      path->GetObjectInPath(audio::DMUS_PCHANNEL_ALL, audio::DMUS_PATH_BUFFER, 0, audio::GUID_ALL_OBJECTS, 0,
                            audio::IID_IDirectSoundBuffer8);
  path->Activate(false);
  buffer->SetFX(1, effects.data(), results.data());
  path->Activate(true);

  MusicSegmentState =
      MusicPerformance->PlaySegmentEx(MusicSegment, audio::DMUS_SEGF_DEFAULT, 0, nullptr, path.get());
}

void modMusic::Shutdown() {
  // A start-up that failed before the music was set up leaves nothing to stop.
  if (MusicPerformance && MusicSegment) {
    MusicPerformance->StopEx(MusicSegment.get(), 0, 0);
    MusicSegment->Unload(*MusicPerformance->GetDefaultAudioPath());
  }
  MusicPerformance.reset();
  MusicSegmentState.reset();
  MusicSegment.reset();
  MusicLoader.reset();
}

}  // namespace music
