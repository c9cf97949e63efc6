// The FluidSynth objects under one synthesizer: its settings, the synthesizer with its reverb insert,
// and the SoundFont loaded into it. Only the files of platform/audio include this header.
#pragma once

#include <string>

typedef struct _fluid_hashtable_t fluid_settings_t;
typedef struct _fluid_synth_t fluid_synth_t;
typedef struct _fluid_sfont_t fluid_sfont_t;

namespace audio {

// What making a synthesizer takes before any sound device is involved (most of the time goes to the
// SoundFont: about 30 ms for TimGM6mb). Whatever is made is handed out at once, so the caller frees it
// on failure.
struct Engine {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  int soundFontId = -1;
  int channels = 0;
  std::string soundFont;
};

// The MIDI channels a synthesizer gets for `midiChannels` performance channels: whole groups of 16.
int ChannelsFor(int midiChannels);

// Fills `e` for `channels` MIDI channels with `soundFont` loaded; throws naming `call`, with what was
// made so far left in `e`.
void MakeEngine(Engine& e, int channels, const std::string& soundFont, const std::string& call);
void FreeEngine(Engine& e);

// Loads `soundFont` on its own, into no synthesizer, for fluid_synth_add_sfont: the file is read and
// its samples decoded without touching any synthesizer in use. Throws naming `call`.
fluid_sfont_t* LoadSoundFontApart(const std::string& soundFont, const std::string& call);

}  // namespace audio
