#include "platform/audio/Synthesizer.h"

#include <SDL.h>
#include <fcntl.h>
#include <fluidsynth.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <thread>

#include "platform/base/Error.h"
#include "platform/window/Heap.h"

namespace audio {

namespace {

bool Readable(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return f.good();
}

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

// The synthesizer's warnings and notes (a channel without a preset once the instruments are unloaded,
// and the like) are not for the user; its errors still reach stderr. The log handlers are the
// library's own process-wide setting, made once.
// Errors made while preloading are not printed: the constructor that then does the work prints and
// reports them itself, once.
thread_local bool tPreloading = false;

void PrintLibraryError(int level, const char* message, void*) {
  if (tPreloading) return;
  std::fprintf(stderr, "fluidsynth: %s: %s\n", level == FLUID_PANIC ? "panic" : "error", message);
}

void QuietenLibraryLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level : {FLUID_WARN, FLUID_INFO, FLUID_DBG}) fluid_set_log_function(level, nullptr, nullptr);
    for (int level : {FLUID_PANIC, FLUID_ERR}) fluid_set_log_function(level, PrintLibraryError, nullptr);
  });
}

// The audio back ends under SDL print their own complaints on stderr ("ALSA lib ... cannot find
// card") before SDL reports the failure that our message explains. While this lives, stderr goes
// nowhere.
class QuietStderr {
 public:
  QuietStderr() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (saved_ >= 0 && null >= 0) dup2(null, STDERR_FILENO);
    if (null >= 0) close(null);
  }
  ~QuietStderr() {
    std::fflush(stderr);
    if (saved_ < 0) return;
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};

// What a machine without a sound card can do instead.
constexpr const char* kNoDeviceHint =
    " (run with --mute to show the scene silently, or --headless to render it offscreen)";

// What making a synthesizer takes before any sound device is involved: its settings, the
// synthesizer with its reverb insert, and the SoundFont loaded (most of the time goes there: about
// 30 ms for TimGM6mb). Whatever is made is handed out at once, so the caller frees it on failure.
struct Made {
  fluid_settings_t* settings = nullptr;
  fluid_synth_t* synth = nullptr;
  int soundFontId = -1;
  int channels = 0;
  std::string soundFont;
};

void Free(Made& m) {
  if (m.synth) delete_fluid_synth(m.synth);
  if (m.settings) delete_fluid_settings(m.settings);
  m = Made{};
}

void MakeSynth(Made& m, int channels, const std::string& soundFont, const std::string& call) {
  m.channels = channels;
  m.soundFont = soundFont;
  m.settings = new_fluid_settings();
  if (!m.settings) throw platform::Error(call, "new_fluid_settings failed");
  Setting(m.settings, "synth.sample-rate", double{Synthesizer::kSampleRate}, call);
  Setting(m.settings, "synth.gain", double{Synthesizer::kGain}, call);
  Setting(m.settings, "synth.midi-channels", channels, call);
  Setting(m.settings, "synth.chorus.active", 0, call);
  Setting(m.settings, "synth.reverb.active", 1, call);
  Setting(m.settings, "synth.reverb.room-size", Synthesizer::kRoomSize, call);
  Setting(m.settings, "synth.reverb.damp", Synthesizer::kDamping, call);
  Setting(m.settings, "synth.reverb.width", Synthesizer::kWidth, call);
  Setting(m.settings, "synth.reverb.level", Synthesizer::kLevel, call);
  Setting(m.settings, "synth.cpu-cores", 1, call);
  // The performance resets the channels itself, for segments marked as standard MIDI files.
  Setting(m.settings, "player.reset-synth", 0, call);

  m.synth = new_fluid_synth(m.settings);
  if (!m.synth) throw platform::Error(call, "new_fluid_synth failed");
  AddReverbInsertModulators(m.synth, call);
  // The buffer carries no effect until SetFX puts one on it.
  fluid_synth_reverb_on(m.synth, -1, 0);

  m.soundFontId = fluid_synth_sfload(m.synth, soundFont.c_str(), 1);
  if (m.soundFontId == FLUID_FAILED) throw platform::Error(call, "fluid_synth_sfload failed", soundFont);
}

// A synthesizer being made on a thread of its own while the program starts up, until the next
// Synthesizer takes it. One at a time; what nobody takes is freed at exit.
class Preloaded {
 public:
  ~Preloaded() { discard(); }

  void start(int channels) {
    std::lock_guard<std::mutex> lock(m_);
    discardLocked();
    thread_ = std::thread([this, channels] {
      tPreloading = true;
      try {
        // The SoundFont's samples and the synthesizer's tables fill this thread's own heap while the
        // main thread starts the device: on 2 MB pages that takes a fraction of the page faults.
        platform::MarkThisThreadsHeapForLargePages();
        QuietenLibraryLog();
        MakeSynth(made_, channels, FindSoundFont("InitAudio"), "InitAudio");
        ok_ = true;
      } catch (...) {
        // The constructor that would have taken it does the work again and reports what fails.
        Free(made_);
      }
    });
  }

  // What was made for `channels` channels from `soundFont`, waiting for it where it is still being
  // made; false where nothing was started, it failed, or it was made for something else.
  bool take(Made& out, int channels, const std::string& soundFont) {
    std::lock_guard<std::mutex> lock(m_);
    if (thread_.joinable()) thread_.join();
    if (!ok_) return false;
    ok_ = false;
    if (made_.channels != channels || made_.soundFont != soundFont) {
      Free(made_);
      return false;
    }
    out = made_;
    made_ = Made{};
    return true;
  }

  void discard() {
    std::lock_guard<std::mutex> lock(m_);
    discardLocked();
  }

 private:
  void discardLocked() {
    if (thread_.joinable()) thread_.join();
    Free(made_);
    ok_ = false;
  }

  std::mutex m_;
  std::thread thread_;
  Made made_;
  bool ok_ = false;
};

Preloaded& ThePreloaded() {
  static Preloaded preloaded;
  return preloaded;
}

int ChannelsFor(int midiChannels) {
  return std::max(16, (midiChannels + 15) / 16 * 16);
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

Synthesizer::Lock::Lock(const Synthesizer& s) : device_(s.device_) {
  if (device_) SDL_LockAudioDevice(device_);
}

Synthesizer::Lock::~Lock() {
  if (device_) SDL_UnlockAudioDevice(device_);
}

void Synthesizer::Preload(int midiChannels) {
  ThePreloaded().start(ChannelsFor(midiChannels));
}

Synthesizer::Synthesizer(OutputMode mode, int midiChannels, const std::string& call)
    : mode_(mode), soundFont_(FindSoundFont(call)) {
  QuietenLibraryLog();
  try {
    Made made;
    const int channels = ChannelsFor(midiChannels);
    const bool preloaded = ThePreloaded().take(made, channels, soundFont_);
    if (!preloaded) {
      try {
        MakeSynth(made, channels, soundFont_, call);
      } catch (...) {
        Free(made);
        throw;
      }
    }
    settings_ = made.settings;
    synth_ = made.synth;
    soundFontId_ = made.soundFontId;

    if (mode_ == OutputMode::Device) {
      const QuietStderr quiet;
      if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        throw platform::Error(call,
                              std::string("no usable audio device: SDL_InitSubSystem(SDL_INIT_AUDIO): ") +
                                  SDL_GetError() + kNoDeviceHint);
      sdlAudio_ = true;
      SDL_AudioSpec want{};
      SDL_AudioSpec have{};
      want.freq = kSampleRate;
      want.format = AUDIO_F32SYS;
      want.channels = 2;
      want.samples = 1024;
      want.callback = &Synthesizer::Callback;
      want.userdata = this;
      device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
      if (device_ == 0)
        throw platform::Error(call, std::string("no usable audio device: SDL_OpenAudioDevice: ") +
                                        SDL_GetError() + kNoDeviceHint);
    }
  } catch (...) {
    Release();
    throw;
  }
}

Synthesizer::~Synthesizer() {
  Release();
}

void Synthesizer::Release() {
  // The device goes first: once it is closed the callback can no longer touch the player or synth.
  if (device_) SDL_CloseAudioDevice(device_);
  device_ = 0;
  if (sdlAudio_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
  sdlAudio_ = false;
  DeletePlayer();
  if (synth_) delete_fluid_synth(synth_);
  synth_ = nullptr;
  if (settings_) delete_fluid_settings(settings_);
  settings_ = nullptr;
}

void Synthesizer::Start() {
  if (device_) SDL_PauseAudioDevice(device_, 0);
}

void Synthesizer::SetActive(bool active) {
  Lock lock(*this);
  active_ = active;
}

void Synthesizer::SetReverb(bool on) {
  Lock lock(*this);
  if (fluid_synth_reverb_on(synth_, -1, on ? 1 : 0) != FLUID_OK)
    throw platform::Error("SetFX", "fluid_synth_reverb_on failed");
  reverb_ = on;
}

void Synthesizer::DeletePlayer() {
  if (!player_) return;
  fluid_player_stop(player_);
  delete_fluid_player(player_);
  player_ = nullptr;
}

void Synthesizer::Play(const std::vector<std::uint8_t>& smf, bool gmReset, const std::string& file) {
  Lock lock(*this);
  DeletePlayer();
  if (gmReset) fluid_synth_system_reset(synth_);
  player_ = new_fluid_player(synth_);
  if (!player_) throw platform::Error("PlaySegmentEx", "new_fluid_player failed", file);
  if (fluid_player_add_mem(player_, smf.data(), smf.size()) != FLUID_OK ||
      fluid_player_play(player_) != FLUID_OK) {
    DeletePlayer();
    throw platform::Error("PlaySegmentEx", "the player did not start", file);
  }
  silenced_ = false;
}

void Synthesizer::Stop() {
  Lock lock(*this);
  DeletePlayer();
  // Ends every voice and empties the reverb's delay lines, so a later tune starts clean.
  fluid_synth_system_reset(synth_);
  silenced_ = true;
  blocksSinceStop_ = 0;
  peakSinceStop_ = 0;
}

bool Synthesizer::Playing() const {
  Lock lock(*this);
  return player_ && fluid_player_get_status(player_) == FLUID_PLAYER_PLAYING;
}

void Synthesizer::LoadInstruments(const std::string& call) {
  Lock lock(*this);
  if (soundFontId_ >= 0) return;
  soundFontId_ = fluid_synth_sfload(synth_, soundFont_.c_str(), 1);
  if (soundFontId_ == FLUID_FAILED) {
    soundFontId_ = -1;
    throw platform::Error(call, "fluid_synth_sfload failed", soundFont_);
  }
}

void Synthesizer::UnloadInstruments(const std::string& call) {
  Lock lock(*this);
  if (soundFontId_ < 0) return;
  if (fluid_synth_sfunload(synth_, soundFontId_, 1) != FLUID_OK)
    throw platform::Error(call, "fluid_synth_sfunload failed", soundFont_);
  soundFontId_ = -1;
}

bool Synthesizer::InstrumentsLoaded() const {
  Lock lock(*this);
  return soundFontId_ >= 0 && fluid_synth_sfcount(synth_) > 0;
}

void Synthesizer::Callback(void* self, std::uint8_t* stream, int len) {
  static_cast<Synthesizer*>(self)->Render(reinterpret_cast<float*>(stream),
                                          static_cast<std::size_t>(len) / (2 * sizeof(float)));
}

void Synthesizer::Render(float* stereo, std::size_t frames) {
  if (!active_ || silenced_) {
    std::memset(stereo, 0, frames * 2 * sizeof(float));
    // Silence is immediate: what the limiter held back is dropped, not played after the stop.
    limiter_.Reset();
  } else {
    for (std::size_t done = 0; done < frames;) {
      const int n = static_cast<int>(std::min<std::size_t>(frames - done, kBlockFrames));
      float* out = stereo + done * 2;
      fluid_synth_write_float(synth_, n, out, 0, 2, out, 1, 2);
      done += static_cast<std::size_t>(n);
    }
    limiter_.Process(stereo, frames);
  }
  float peak = peakSinceStop_.load(std::memory_order_relaxed);
  for (std::size_t i = 0; i < frames * 2; ++i) peak = std::max(peak, std::fabs(stereo[i]));
  peakSinceStop_.store(peak, std::memory_order_relaxed);
  ++blocks_;
  ++blocksSinceStop_;
}

void Synthesizer::RenderOffline(float* stereo, std::size_t frames) {
  if (mode_ != OutputMode::Offline)
    throw platform::Error("RenderOffline", "the audio device renders this performance");
  Render(stereo, frames);
}

OutputStats Synthesizer::Stats() const {
  OutputStats s;
  s.blocks = blocks_.load();
  s.blocksSinceStop = blocksSinceStop_.load();
  s.peakSinceStop = peakSinceStop_.load();
  return s;
}

}  // namespace audio
