// The arithmetic of a recording that must fit a size (--max-size): how many bits per second the video
// may take once the sound and the container have had theirs. Pure numbers, without FFmpeg, so that a
// limit too small is refused before the codec module is loaded or a frame is drawn.
#pragma once

#include <cstdint>
#include <string>

#include "platform/video/Container.h"

namespace video {

// The sound's bit rate in each container: AAC in MP4 and Matroska, Opus in WebM.
std::int64_t AudioBitrate(Container container);

// The video encoder's bounds: its average and largest rate in bits per second, and its rate buffer in
// bits (what it may spend above the rate at one moment, on a key frame). A rate of 0 asks for the
// constant quality a recording without a size limit gets.
struct RateLimit {
  std::int64_t bitrate = 0;
  std::int64_t bufferBits = 0;
};

// What a recording of `seconds` (whole frames of 1/fps), width x height at fps, in `container` may
// spend on its video to stay under maxBytes.
struct SizePlan {
  RateLimit video;  // a rate of 0 when the limit is too small
  // The smallest limit accepted for this length and frame, in bytes.
  std::int64_t smallestBytes = 0;
  bool Fits() const { return video.bitrate > 0; }
};
SizePlan PlanForSize(std::int64_t maxBytes, double seconds, int width, int height, int fps,
                     Container container);

// A size rounded up to two significant digits, in bytes and as the user writes it ("2.4M", "140K",
// "1.2G"): a limit that is never below the size it was made from.
struct RoundSize {
  std::int64_t bytes;
  std::string text;
};
RoundSize RoundUpSize(std::int64_t bytes);
// Bytes with their thousands apart: "2 400 000".
std::string GroupedBytes(std::int64_t bytes);

}  // namespace video
