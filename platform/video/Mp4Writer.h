// An MP4 file with one H.264 video stream and, optionally, one AAC audio stream, written through
// FFmpeg's libraries. Frames arrive as RGBA8 images, sound as interleaved stereo floats.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace video {

class Mp4Writer {
 public:
  // Opens `path` for writing (the caller passes a temporary name and renames it once Finish has
  // returned). Throws platform::Error naming the FFmpeg call and the file.
  Mp4Writer(const std::string& path, int width, int height, int fps, int audioSampleRate);
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

// What a reader of an MP4 finds in it: for tests and for the user's own checks.
struct Mp4Info {
  std::string videoCodec, audioCodec;
  int width = 0, height = 0;
  double fps = 0;
  std::int64_t videoFrames = 0;
  double videoSeconds = 0, audioSeconds = 0;
  double audioRms = 0;
  std::vector<std::uint64_t> frameHashes;  // a hash of each decoded video frame's pixels
};
Mp4Info ProbeMp4(const std::string& path, bool decodeVideo);

}  // namespace video
