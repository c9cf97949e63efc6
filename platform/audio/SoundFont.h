// Which SoundFont the synthesizer plays with.
#pragma once

#include <string>
#include <vector>

namespace audio {

// $WG_SOUNDFONT when set, else the best General MIDI SoundFont installed (FluidR3_GM, then TimGM6mb).
// Throws naming `call` and the package that provides one when none is there.
std::string FindSoundFont(const std::string& call);
// The same over the given candidate files, in order of preference.
std::string FindSoundFont(const std::string& call, const std::vector<std::string>& candidates);

}  // namespace audio
