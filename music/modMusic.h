// The music: the MIDI tune played once through the synthesizer, with a reverb on its output buffer.
#pragma once

#include <string>

namespace music {

class modMusic {
 public:
  explicit modMusic(std::string AppPath) : appPath_(std::move(AppPath)) {}

  void InitMusic(void* hWnd);
  // The music part of the window's unload: stop at once, unload the instruments, release the objects.
  void Shutdown();

 private:
  std::string appPath_;
};

}  // namespace music
