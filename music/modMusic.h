// The music: the MIDI tune played once through the synthesizer, with a reverb on its output buffer.
#pragma once

#include <memory>
#include <string>

#include "platform/audio/DirectMusic.h"

namespace music {

// The folder part of `path` up to and including its last separator; empty when it holds none. The
// backslash of the application's own paths and the slash of this file system's both separate folders.
std::string ExtractFolder(const std::string& path);

class modMusic {
 public:
  // `TuneFile` is the standard MIDI file to play (the application folder's music/main.mid unless a
  // card brings another); `output` says where the root object that InitMusic creates sends the sound.
  modMusic(std::string TuneFile, audio::OutputMode output)
      : tuneFile_(std::move(TuneFile)), output_(output) {}

  // Starts making the synthesizer that InitMusic plays through, while the caller goes on.
  void Preload();
  void InitMusic(void* hWnd);
  // The music part of the window's unload: stop at once, unload the instruments, release the objects.
  void Shutdown();

  std::unique_ptr<audio::DirectX8> DX;
  std::shared_ptr<audio::DirectMusicPerformance8> MusicPerformance;
  std::shared_ptr<audio::DirectMusicLoader8> MusicLoader;
  std::shared_ptr<audio::DirectMusicSegment8> MusicSegment;
  std::shared_ptr<audio::DirectMusicSegmentState8> MusicSegmentState;

 private:
  std::string tuneFile_;
  audio::OutputMode output_;
};

}  // namespace music
