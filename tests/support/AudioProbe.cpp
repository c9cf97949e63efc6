#include "tests/support/AudioProbe.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include <cmath>
#include <cstdint>

#include "platform/base/Error.h"
#include "platform/video/AvError.h"

namespace wgtest {

using video::CheckAv;

namespace {

AudioInfo decode(const std::string& path, std::vector<float>* kept) {
  av_log_set_level(AV_LOG_ERROR);
  AudioInfo info;
  AVFormatContext* fmt = nullptr;
  CheckAv(avformat_open_input(&fmt, path.c_str(), nullptr, nullptr), "avformat_open_input", path);
  struct Closer {
    AVFormatContext*& f;
    AVCodecContext* dec = nullptr;
    AVPacket* pkt = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    ~Closer() {
      av_frame_free(&frame);
      av_packet_free(&pkt);
      avcodec_free_context(&dec);
      avformat_close_input(&f);
    }
  } c{fmt};
  CheckAv(avformat_find_stream_info(fmt, nullptr), "avformat_find_stream_info", path);
  const int ai = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  CheckAv(ai, "av_find_best_stream(audio)", path);
  const AVCodecParameters* p = fmt->streams[ai]->codecpar;
  info.container = fmt->iformat->name;
  info.codec = avcodec_get_name(p->codec_id);
  const AVCodec* codec = avcodec_find_decoder(p->codec_id);
  if (!codec) throw platform::Error("avcodec_find_decoder", "no decoder for " + info.codec, path);
  c.dec = avcodec_alloc_context3(codec);
  CheckAv(avcodec_parameters_to_context(c.dec, p), "avcodec_parameters_to_context", path);
  CheckAv(avcodec_open2(c.dec, codec, nullptr), "avcodec_open2(decoder)", path);
  double sum = 0;
  std::int64_t samples = 0, values = 0;
  const auto receive = [&] {
    while (avcodec_receive_frame(c.dec, c.frame) == 0) {
      samples += c.frame->nb_samples;
      info.sampleRate = c.frame->sample_rate;
      info.channels = c.frame->ch_layout.nb_channels;
      const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(c.frame->format)) != 0;
      if (c.frame->format != AV_SAMPLE_FMT_FLT && c.frame->format != AV_SAMPLE_FMT_FLTP) continue;
      for (int ch = 0; ch < (planar ? info.channels : 1); ++ch) {
        const auto* d = reinterpret_cast<const float*>(c.frame->data[ch]);
        const int n = c.frame->nb_samples * (planar ? 1 : info.channels);
        for (int i = 0; i < n; ++i) sum += static_cast<double>(d[i]) * d[i];
        values += n;
      }
      if (!kept) continue;
      const std::size_t at = kept->size();
      const int chans = info.channels;
      kept->resize(at + static_cast<std::size_t>(c.frame->nb_samples) * chans);
      for (int i = 0; i < c.frame->nb_samples; ++i)
        for (int ch = 0; ch < chans; ++ch)
          (*kept)[at + static_cast<std::size_t>(i) * chans + ch] =
              planar ? reinterpret_cast<const float*>(c.frame->data[ch])[i]
                     : reinterpret_cast<const float*>(c.frame->data[0])[i * chans + ch];
    }
  };
  while (av_read_frame(fmt, c.pkt) >= 0) {
    if (c.pkt->stream_index == ai) {
      avcodec_send_packet(c.dec, c.pkt);
      receive();
    }
    av_packet_unref(c.pkt);
  }
  avcodec_send_packet(c.dec, nullptr);
  receive();
  if (info.sampleRate > 0) info.seconds = static_cast<double>(samples) / info.sampleRate;
  if (values > 0) info.rms = std::sqrt(sum / static_cast<double>(values));
  return info;
}

}  // namespace

AudioInfo ProbeAudio(const std::string& path) {
  return decode(path, nullptr);
}

AudioInfo DecodeAudio(const std::string& path, std::vector<float>& samples) {
  samples.clear();
  return decode(path, &samples);
}

}  // namespace wgtest
