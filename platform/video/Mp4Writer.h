// A video file with one video stream and, optionally, one audio stream, written through FFmpeg's
// libraries: MP4 or Matroska with H.264 and AAC, or WebM with VP9 and Opus. Frames arrive as RGBA8
// images, sound as interleaved stereo floats at any rate (resampled where the codec needs another).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/video/Container.h"
#include "platform/video/SizePlan.h"

namespace video {

class Mp4Writer {
 public:
  // Opens `path` for writing (the caller passes a temporary name and renames it once Finish has
  // returned). Throws platform::Error naming the FFmpeg call and `shownName` (the file the user
  // asked for; `path` when empty). The video keeps a constant quality, or to `rate` where one is
  // given (see PlanForSize).
  Mp4Writer(const std::string& path, int width, int height, int fps, int audioSampleRate,
            Container container = Container::Mp4, const std::string& shownName = {}, RateLimit rate = {});
  ~Mp4Writer();
  Mp4Writer(const Mp4Writer&) = delete;
  Mp4Writer& operator=(const Mp4Writer&) = delete;

  // One video frame, top row first, width x height x 4 bytes.
  void AddFrame(const std::uint8_t* rgba);
  // Interleaved stereo samples; any count, buffered into the encoder's frame size.
  void AddAudio(const float* stereo, std::size_t frames);
  // Flushes both encoders and writes the trailer.
  void Finish();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// What a reader of a video file finds in it: for tests and for the user's own checks.
struct Mp4Info {
  std::string format;  // the demuxer's name, such as "mov,mp4,m4a,3gp,3g2,mj2" or "matroska,webm"
  std::string videoCodec, audioCodec;
  int audioSampleRate = 0;
  int width = 0, height = 0;
  // The video's colour description as FFmpeg names it ("tv", "smpte170m", "bt709", ...; "unknown"
  // where the file says nothing).
  std::string colorRange, colorSpace, colorPrimaries, colorTransfer;
  // The video's profile as FFmpeg names it ("Main", "High", "Profile 0"; "unknown" where the file
  // says nothing) and its level times ten (40 for H.264's 4.0; 0 where the file gives none).
  std::string profile;
  int level = 0;
  double fps = 0;
  std::int64_t videoFrames = 0;
  double videoSeconds = 0, audioSeconds = 0;
  double audioRms = 0;
  std::vector<std::uint64_t> frameHashes;  // a hash of each decoded video frame's pixels
};
Mp4Info ProbeMp4(const std::string& path, bool decodeVideo);

}  // namespace video
