// The entry of winter-greeting-video.so: the FFmpeg-backed writers behind the Codecs table.
#include "platform/video/Codecs.h"
#include "platform/video/Mp4Writer.h"
#include "platform/video/OggOpus.h"

namespace video {
namespace {

class Mp4Sink final : public VideoSink {
 public:
  Mp4Sink(const std::string& path, int width, int height, int fps, int sampleRate, Container container,
          const std::string& shownName, RateLimit rate)
      : writer_(path, width, height, fps, sampleRate, container, shownName, rate) {}
  void AddFrame(const std::uint8_t* rgba) override { writer_.AddFrame(rgba); }
  void AddAudio(const float* stereo, std::size_t frames) override { writer_.AddAudio(stereo, frames); }
  void Finish() override { writer_.Finish(); }

 private:
  Mp4Writer writer_;
};

std::unique_ptr<VideoSink> openVideo(const std::string& path, int width, int height, int fps, int sampleRate,
                                     Container container, const std::string& shownName, RateLimit rate) {
  return std::make_unique<Mp4Sink>(path, width, height, fps, sampleRate, container, shownName, rate);
}

const Codecs kCodecs{kCodecsVersion, openVideo, WriteOggOpus};

}  // namespace
}  // namespace video

extern "C" const video::Codecs* wg_video_codecs() {
  return &video::kCodecs;
}
