// Sound for a web page: interleaved stereo samples encoded as Opus in an Ogg file, the one
// compressed audio format that Chromium and Firefox both play on every system, through FFmpeg's
// libraries.
#pragma once

#include <string>
#include <vector>

namespace video {

// Writes `stereo` (interleaved float samples at `sampleRate`) as Ogg Opus at 48 kHz and `bitRate`
// bits per second (variable rate, averaging that). Throws platform::Error naming the FFmpeg call and
// the file.
void WriteOggOpus(const std::string& path, const std::vector<float>& stereo, int sampleRate, int bitRate);

}  // namespace video
