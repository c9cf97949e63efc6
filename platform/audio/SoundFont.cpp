#include "platform/audio/SoundFont.h"

#include <cstdlib>
#include <fstream>

#include "platform/base/Error.h"

namespace audio {

namespace {

bool Readable(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return f.good();
}

}  // namespace

std::string FindSoundFont(const std::string& call) {
  return FindSoundFont(call, {"/usr/share/sounds/sf2/FluidR3_GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2",
                              "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/soundfonts/default.sf2"});
}

std::string FindSoundFont(const std::string& call, const std::vector<std::string>& candidates) {
  if (const char* chosen = std::getenv("WG_SOUNDFONT"); chosen && *chosen) {
    if (!Readable(chosen))
      throw platform::Error(call, "the SoundFont named by WG_SOUNDFONT cannot be read", chosen);
    return chosen;
  }
  for (const std::string& candidate : candidates)
    if (Readable(candidate)) return candidate;
  throw platform::Error(
      call,
      "no General MIDI SoundFont is installed: install the Debian package timgm6mb-soundfont "
      "(or fluid-soundfont-gm), or set WG_SOUNDFONT to an .sf2 file");
}

}  // namespace audio
