#include "platform/audio/Engine.h"

#include <fluidsynth.h>

#include <algorithm>

#include "platform/audio/Synthesizer.h"
#include "platform/base/Error.h"

namespace audio {

namespace {

void Setting(fluid_settings_t* s, const char* name, int value, const std::string& call) {
  if (fluid_settings_setint(s, name, value) != FLUID_OK)
    throw platform::Error(call, std::string("fluid_settings_setint(") + name + ") failed");
}

void Setting(fluid_settings_t* s, const char* name, double value, const std::string& call) {
  if (fluid_settings_setnum(s, name, value) != FLUID_OK)
    throw platform::Error(call, std::string("fluid_settings_setnum(") + name + ") failed");
}

// Two opposite velocity switches, so exactly one of them is on for every note: together they add
// the full +1000 to every voice's reverb send, whatever the file's controllers say. This turns
// FluidSynth's send reverb into an insert over the whole mix, with the dry signal left at unity.
void AddReverbInsertModulators(fluid_synth_t* synth, const std::string& call) {
  for (int polarity : {FLUID_MOD_POSITIVE, FLUID_MOD_NEGATIVE}) {
    fluid_mod_t* mod = new_fluid_mod();
    if (!mod) throw platform::Error(call, "new_fluid_mod failed");
    fluid_mod_set_source1(mod, FLUID_MOD_VELOCITY,
                          FLUID_MOD_GC | FLUID_MOD_SWITCH | FLUID_MOD_UNIPOLAR | polarity);
    fluid_mod_set_source2(mod, FLUID_MOD_NONE, 0);
    fluid_mod_set_dest(mod, GEN_REVERBSEND);
    fluid_mod_set_amount(mod, 1000.0);
    const int rc = fluid_synth_add_default_mod(synth, mod, FLUID_SYNTH_ADD);
    delete_fluid_mod(mod);
    if (rc != FLUID_OK) throw platform::Error(call, "fluid_synth_add_default_mod failed");
  }
}

}  // namespace

int ChannelsFor(int midiChannels) {
  return std::max(16, (midiChannels + 15) / 16 * 16);
}

void MakeEngine(Engine& e, int channels, const std::string& soundFont, const std::string& call) {
  e.channels = channels;
  e.soundFont = soundFont;
  e.settings = new_fluid_settings();
  if (!e.settings) throw platform::Error(call, "new_fluid_settings failed");
  Setting(e.settings, "synth.sample-rate", double{Synthesizer::kSampleRate}, call);
  Setting(e.settings, "synth.gain", double{Synthesizer::kGain}, call);
  Setting(e.settings, "synth.midi-channels", channels, call);
  Setting(e.settings, "synth.chorus.active", 0, call);
  Setting(e.settings, "synth.reverb.active", 1, call);
  Setting(e.settings, "synth.reverb.room-size", Synthesizer::kRoomSize, call);
  Setting(e.settings, "synth.reverb.damp", Synthesizer::kDamping, call);
  Setting(e.settings, "synth.reverb.width", Synthesizer::kWidth, call);
  Setting(e.settings, "synth.reverb.level", Synthesizer::kLevel, call);
  Setting(e.settings, "synth.cpu-cores", 1, call);
  // The performance resets the channels itself, for segments marked as standard MIDI files.
  Setting(e.settings, "player.reset-synth", 0, call);

  e.synth = new_fluid_synth(e.settings);
  if (!e.synth) throw platform::Error(call, "new_fluid_synth failed");
  AddReverbInsertModulators(e.synth, call);
  // The buffer carries no effect until SetFX puts one on it.
  fluid_synth_reverb_on(e.synth, -1, 0);

  e.soundFontId = fluid_synth_sfload(e.synth, soundFont.c_str(), 1);
  if (e.soundFontId == FLUID_FAILED) throw platform::Error(call, "fluid_synth_sfload failed", soundFont);
}

void FreeEngine(Engine& e) {
  if (e.synth) delete_fluid_synth(e.synth);
  if (e.settings) delete_fluid_settings(e.settings);
  e = Engine{};
}

fluid_sfont_t* LoadSoundFontApart(const std::string& soundFont, const std::string& call) {
  // The library loads SoundFonts only into a synthesizer: a bare one of its own, with settings of its
  // own, takes the file and hands the loaded font over. The font keeps no tie to it.
  fluid_settings_t* settings = new_fluid_settings();
  fluid_synth_t* loader = settings ? new_fluid_synth(settings) : nullptr;
  fluid_sfont_t* font = nullptr;
  if (loader) {
    const int id = fluid_synth_sfload(loader, soundFont.c_str(), 0);
    font = id == FLUID_FAILED ? nullptr : fluid_synth_get_sfont_by_id(loader, id);
    if (font && fluid_synth_remove_sfont(loader, font) != FLUID_OK) font = nullptr;
    delete_fluid_synth(loader);
  }
  if (settings) delete_fluid_settings(settings);
  if (!font) throw platform::Error(call, "fluid_synth_sfload failed", soundFont);
  return font;
}

}  // namespace audio
