// The music: the MIDI tune played once through the synthesizer, with a reverb on its output buffer.
#pragma once

#include <memory>
#include <string>

#include "platform/audio/DirectMusic.h"

namespace music {

// The folder part of `path` up to and including its last backslash; empty when it holds none. Only
// the backslash separates folders.
std::string ExtractFolder(const std::string& path);

class modMusic {
 public:
  // `AppPath` is the application folder (no trailing separator); `output` says where the root object
  // that InitMusic creates sends the sound.
  modMusic(std::string AppPath, audio::OutputMode output) : appPath_(std::move(AppPath)), output_(output) {}

  void InitMusic(void* hWnd);
  // The music part of the window's unload: stop at once, unload the instruments, release the objects.
  void Shutdown();

  std::unique_ptr<audio::DirectX8> DX;
  std::shared_ptr<audio::DirectMusicPerformance8> MusicPerformance;
  std::shared_ptr<audio::DirectMusicLoader8> MusicLoader;
  std::shared_ptr<audio::DirectMusicSegment8> MusicSegment;
  std::shared_ptr<audio::DirectMusicSegmentState8> MusicSegmentState;

 private:
  std::string appPath_;
  audio::OutputMode output_;
};

}  // namespace music
