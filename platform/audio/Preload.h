// The synthesizer made ahead: its settings, the synthesizer and the SoundFont, made on a thread of
// their own while the program starts, for the next Synthesizer to take ready. Only the files of
// platform/audio include this header.
#pragma once

#include <functional>
#include <string>

#include "platform/audio/Engine.h"

namespace audio {

// Starts making an engine for `channels` MIDI channels from the SoundFont FindSoundFont names, after
// dropping one made before and not taken. `onThreadStart` (where given) runs first on the new thread:
// the caller's chance to tune that thread before it fills tens of megabytes. Failures are not
// reported here: the taker then does the work again itself and reports them.
void StartPreload(int channels, std::function<void()> onThreadStart);

// Moves what the preload made for `channels` channels from `soundFont` into `out`, waiting for it
// where it is still being made; false where nothing was started, it failed, or it was made for
// something else (then it is freed).
bool TakePreloaded(Engine& out, int channels, const std::string& soundFont);

}  // namespace audio
