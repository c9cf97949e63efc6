// The video writer and the web page's sound encoder live in a module of their own,
// winter-greeting-video.so in the application folder, because FFmpeg's libraries and the more than
// ninety libraries they pull in take about 60 ms to load and relocate: a greeting that only plays
// never pays for them, and --record or --export-web loads them on first use.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/video/Container.h"
#include "platform/video/SizePlan.h"

namespace video {

// A video file being written: frames and their sound in order, then Finish once.
class VideoSink {
 public:
  virtual ~VideoSink() = default;
  // One video frame, top row first, width x height x 4 bytes of RGBA.
  virtual void AddFrame(const std::uint8_t* rgba) = 0;
  // Interleaved stereo samples, any count.
  virtual void AddAudio(const float* stereo, std::size_t frames) = 0;
  // Flushes both encoders and writes the trailer.
  virtual void Finish() = 0;
};

// What the module offers. Both functions throw platform::Error naming the FFmpeg call and the file.
struct Codecs {
  int version;
  // Opens `path` for writing (see Mp4Writer for the arguments).
  std::unique_ptr<VideoSink> (*openVideo)(const std::string& path, int width, int height, int fps,
                                          int audioSampleRate, Container container,
                                          const std::string& shownName, RateLimit rate);
  // Writes interleaved stereo samples as Ogg Opus (see WriteOggOpus).
  void (*writeOggOpus)(const std::string& path, const std::vector<float>& stereo, int sampleRate,
                       int bitRate);
};

// Changes whenever Codecs or VideoSink change, so that a module from another build is refused
// rather than called wrongly.
inline constexpr int kCodecsVersion = 3;
inline constexpr const char* kCodecsModule = "winter-greeting-video.so";
// The function the module exports, returning its Codecs.
inline constexpr const char* kCodecsEntry = "wg_video_codecs";

// Loads the module from `folder` the first time it is asked for (later calls return the same
// functions). Throws platform::Error naming the module's file and why it could not be loaded.
const Codecs& LoadCodecs(const std::string& folder);

}  // namespace video
