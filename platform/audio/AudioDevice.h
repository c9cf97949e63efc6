// The SDL audio output device: 32-bit float stereo, filled by a callback on SDL's audio thread.
// Only the files of platform/audio include this header.
#pragma once

#include <cstdint>
#include <string>

namespace audio {

class AudioDevice {
 public:
  // Called on the audio thread for `len` bytes of interleaved float stereo.
  using Fill = void (*)(void* user, std::uint8_t* stream, int len);

  // Opens the default output device at `sampleRate`, still paused. Throws naming `call`, with a hint
  // at --mute and --headless, where there is no usable device.
  AudioDevice(int sampleRate, Fill fill, void* user, const std::string& call);
  // Closes the device: once this returns, `fill` is not called again.
  ~AudioDevice();
  AudioDevice(const AudioDevice&) = delete;
  AudioDevice& operator=(const AudioDevice&) = delete;

  void Start();
  // While locked, `fill` is not running and does not start.
  void Lock();
  void Unlock();

 private:
  std::uint32_t id_ = 0;
};

}  // namespace audio
