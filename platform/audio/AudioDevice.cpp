#include "platform/audio/AudioDevice.h"

#include <SDL.h>
#include <dlfcn.h>

#include <mutex>

#include "platform/base/Error.h"

namespace audio {

namespace {

// What a machine without a sound card can do instead.
constexpr const char* kNoDeviceHint =
    " (run with --mute to show the scene silently, or --headless to render it offscreen)";

void Silent(const char*, int, const char*, int, const char*, ...) {}

// ALSA, the back end SDL tries on Linux, prints its own complaints on stderr ("ALSA lib ... cannot
// find card") before SDL reports the failure that our message explains. Its library takes a handler
// for them, process-wide: SDL opens the same library, so the silent one set here is the one it
// meets. Where the library is not installed, nothing is loaded and nothing needs silencing.
void SilenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] {
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    if (auto set = reinterpret_cast<SetHandler>(dlsym(alsa, "snd_lib_error_set_handler"))) set(Silent);
    // Kept loaded for the rest of the run, so the handler stays in place.
  });
}

}  // namespace

AudioDevice::AudioDevice(int sampleRate, Fill fill, void* user, const std::string& call) {
  SilenceAlsa();
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
    throw platform::Error(call, std::string("no usable audio device: SDL_InitSubSystem(SDL_INIT_AUDIO): ") +
                                    SDL_GetError() + kNoDeviceHint);
  SDL_AudioSpec want{};
  SDL_AudioSpec have{};
  want.freq = sampleRate;
  want.format = AUDIO_F32SYS;
  want.channels = 2;
  want.samples = 1024;
  want.callback = fill;
  want.userdata = user;
  id_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (id_ == 0) {
    const std::string error = SDL_GetError();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    throw platform::Error(call, "no usable audio device: SDL_OpenAudioDevice: " + error + kNoDeviceHint);
  }
}

AudioDevice::~AudioDevice() {
  SDL_CloseAudioDevice(id_);
  SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

void AudioDevice::Start() {
  SDL_PauseAudioDevice(id_, 0);
}

void AudioDevice::Lock() {
  SDL_LockAudioDevice(id_);
}

void AudioDevice::Unlock() {
  SDL_UnlockAudioDevice(id_);
}

}  // namespace audio
