// 16-bit PCM WAV files of rendered stereo float samples, to listen to the tune without a sound card.
#pragma once

#include <string>
#include <vector>

namespace audio {

// Writes interleaved stereo samples in -1..1 (clipped) at `sampleRate`. Throws naming the file.
void WriteWav(const std::string& file, const std::vector<float>& stereo, int sampleRate);

}  // namespace audio
