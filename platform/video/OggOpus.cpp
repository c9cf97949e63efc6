#include "platform/video/OggOpus.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libswresample/swresample.h>
}

#include <cstring>

#include "platform/base/Error.h"
#include "platform/video/AvError.h"

namespace video {

namespace {

constexpr int kOpusRate = 48000;

// Everything an encode holds, released however it ends.
struct Encode {
  AVFormatContext* fmt = nullptr;
  AVCodecContext* enc = nullptr;
  SwrContext* swr = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  bool opened = false;
  ~Encode() {
    if (fmt && opened) avio_closep(&fmt->pb);
    avformat_free_context(fmt);
    avcodec_free_context(&enc);
    swr_free(&swr);
    av_frame_free(&frame);
    av_packet_free(&pkt);
  }
};

}  // namespace

void WriteOggOpus(const std::string& path, const std::vector<float>& stereo, int sampleRate, int bitRate) {
  av_log_set_level(AV_LOG_ERROR);
  Encode e;
  CheckAv(avformat_alloc_output_context2(&e.fmt, nullptr, "ogg", path.c_str()),
          "avformat_alloc_output_context2", path);
  const AVCodec* codec = avcodec_find_encoder_by_name("libopus");
  if (!codec) throw platform::Error("avcodec_find_encoder", "no Opus encoder (libopus) in this FFmpeg", path);
  AVStream* st = avformat_new_stream(e.fmt, nullptr);
  e.enc = avcodec_alloc_context3(codec);
  if (!st || !e.enc) throw platform::Error("avformat_new_stream", "out of memory", path);
  e.enc->sample_fmt = AV_SAMPLE_FMT_FLT;
  e.enc->sample_rate = kOpusRate;
  e.enc->bit_rate = bitRate;
  av_channel_layout_default(&e.enc->ch_layout, 2);
  e.enc->time_base = AVRational{1, kOpusRate};
  CheckAv(avcodec_open2(e.enc, codec, nullptr), "avcodec_open2(Opus)", path);
  CheckAv(avcodec_parameters_from_context(st->codecpar, e.enc), "avcodec_parameters_from_context", path);
  st->time_base = e.enc->time_base;

  AVChannelLayout layout;
  av_channel_layout_default(&layout, 2);
  CheckAv(swr_alloc_set_opts2(&e.swr, &layout, AV_SAMPLE_FMT_FLT, kOpusRate, &layout, AV_SAMPLE_FMT_FLT,
                              sampleRate, 0, nullptr),
          "swr_alloc_set_opts2", path);
  CheckAv(swr_init(e.swr), "swr_init", path);

  e.frame = av_frame_alloc();
  e.pkt = av_packet_alloc();
  if (!e.frame || !e.pkt) throw platform::Error("av_frame_alloc", "out of memory", path);
  e.frame->format = AV_SAMPLE_FMT_FLT;
  e.frame->sample_rate = kOpusRate;
  av_channel_layout_copy(&e.frame->ch_layout, &e.enc->ch_layout);
  e.frame->nb_samples = e.enc->frame_size;
  CheckAv(av_frame_get_buffer(e.frame, 0), "av_frame_get_buffer", path);

  CheckAv(avio_open(&e.fmt->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open", path);
  e.opened = true;
  CheckAv(avformat_write_header(e.fmt, nullptr), "avformat_write_header", path);

  const auto drain = [&] {
    for (;;) {
      const int ret = avcodec_receive_packet(e.enc, e.pkt);
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
      CheckAv(ret, "avcodec_receive_packet", path);
      av_packet_rescale_ts(e.pkt, e.enc->time_base, st->time_base);
      e.pkt->stream_index = st->index;
      CheckAv(av_interleaved_write_frame(e.fmt, e.pkt), "av_interleaved_write_frame", path);
    }
  };
  std::int64_t pts = 0;
  const auto send = [&](int samples) {
    e.frame->nb_samples = samples;
    e.frame->pts = pts;
    pts += samples;
    CheckAv(avcodec_send_frame(e.enc, e.frame), "avcodec_send_frame", path);
    drain();
  };
  // Resample in slices and hand the encoder whole frames; the last frame may be short.
  const int frameSize = e.enc->frame_size;
  std::vector<float> pending;
  const std::size_t total = stereo.size() / 2;
  const std::size_t slice = 4096;
  std::vector<float> out;
  for (std::size_t at = 0;; at += slice) {
    const bool last = at >= total;
    const int in = last ? 0 : static_cast<int>(std::min(slice, total - at));
    const int room = swr_get_out_samples(e.swr, in);
    out.resize(static_cast<std::size_t>(std::max(room, 0)) * 2);
    auto* dst = reinterpret_cast<std::uint8_t*>(out.data());
    const auto* src = reinterpret_cast<const std::uint8_t*>(stereo.data() + 2 * (last ? 0 : at));
    const int got = swr_convert(e.swr, &dst, room, last ? nullptr : &src, in);
    CheckAv(got, "swr_convert", path);
    pending.insert(pending.end(), out.begin(), out.begin() + 2 * got);
    while (pending.size() >= static_cast<std::size_t>(frameSize) * 2) {
      CheckAv(av_frame_make_writable(e.frame), "av_frame_make_writable", path);
      std::memcpy(e.frame->data[0], pending.data(), sizeof(float) * 2 * static_cast<std::size_t>(frameSize));
      pending.erase(pending.begin(), pending.begin() + 2 * frameSize);
      send(frameSize);
    }
    if (last) break;
  }
  if (!pending.empty()) {
    CheckAv(av_frame_make_writable(e.frame), "av_frame_make_writable", path);
    std::memcpy(e.frame->data[0], pending.data(), sizeof(float) * pending.size());
    send(static_cast<int>(pending.size() / 2));
  }
  CheckAv(avcodec_send_frame(e.enc, nullptr), "avcodec_send_frame(flush)", path);
  drain();
  CheckAv(av_write_trailer(e.fmt), "av_write_trailer", path);
  e.opened = false;
  CheckAv(avio_closep(&e.fmt->pb), "avio_close", path);
}

}  // namespace video
