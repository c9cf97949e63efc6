// What a reader finds in an audio file once every packet is decoded, through FFmpeg's libraries: for
// the tests that check the sound the web export writes.
#pragma once

#include <string>
#include <vector>

namespace wgtest {

struct AudioInfo {
  std::string codec, container;
  int sampleRate = 0, channels = 0;
  double seconds = 0;  // decoded samples over the sample rate
  double rms = 0;      // over every channel
};

// Throws platform::Error naming the FFmpeg call and the file.
AudioInfo ProbeAudio(const std::string& path);
// The same, keeping the decoded samples too: interleaved floats at info.sampleRate.
AudioInfo DecodeAudio(const std::string& path, std::vector<float>& samples);

}  // namespace wgtest
