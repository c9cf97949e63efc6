#include "platform/video/Mp4Writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstring>

#include "platform/d3d/Error.h"

namespace video {

namespace {

std::string averr(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

void check(int ret, const char* call, const std::string& file) {
  if (ret < 0) throw platform::Error(call, averr(ret), file);
}

}  // namespace

struct Mp4Writer::Impl {
  std::string path;
  int width = 0, height = 0, fps = 0, sampleRate = 0;
  AVFormatContext* fmt = nullptr;
  AVCodecContext* venc = nullptr;
  AVCodecContext* aenc = nullptr;
  AVStream* vst = nullptr;
  AVStream* ast = nullptr;
  SwsContext* sws = nullptr;
  AVFrame* vframe = nullptr;
  AVFrame* aframe = nullptr;
  AVPacket* pkt = nullptr;
  std::int64_t nextVideoPts = 0, nextAudioPts = 0;
  std::vector<float> pendingLeft, pendingRight;  // samples not yet a whole encoder frame
  bool headerWritten = false, finished = false;

  ~Impl() {
    if (fmt && headerWritten && !finished) av_write_trailer(fmt);
    if (fmt && fmt->pb) avio_closep(&fmt->pb);
    avformat_free_context(fmt);
    avcodec_free_context(&venc);
    avcodec_free_context(&aenc);
    sws_freeContext(sws);
    av_frame_free(&vframe);
    av_frame_free(&aframe);
    av_packet_free(&pkt);
  }

  void drain(AVCodecContext* enc, AVStream* st) {
    for (;;) {
      const int ret = avcodec_receive_packet(enc, pkt);
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
      check(ret, "avcodec_receive_packet", path);
      av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
      pkt->stream_index = st->index;
      check(av_interleaved_write_frame(fmt, pkt), "av_interleaved_write_frame", path);
    }
  }

  void encodeAudioFrame(int samples) {
    check(av_frame_make_writable(aframe), "av_frame_make_writable", path);
    aframe->nb_samples = samples;
    auto* l = reinterpret_cast<float*>(aframe->data[0]);
    auto* r = reinterpret_cast<float*>(aframe->data[1]);
    std::memcpy(l, pendingLeft.data(), sizeof(float) * static_cast<std::size_t>(samples));
    std::memcpy(r, pendingRight.data(), sizeof(float) * static_cast<std::size_t>(samples));
    pendingLeft.erase(pendingLeft.begin(), pendingLeft.begin() + samples);
    pendingRight.erase(pendingRight.begin(), pendingRight.begin() + samples);
    aframe->pts = nextAudioPts;
    nextAudioPts += samples;
    check(avcodec_send_frame(aenc, aframe), "avcodec_send_frame(audio)", path);
    drain(aenc, ast);
  }
};

Mp4Writer::Mp4Writer(const std::string& path, int width, int height, int fps, int audioSampleRate)
    : impl_(std::make_unique<Impl>()) {
  // The encoders' statistics and notes are not for the user; errors still reach stderr. This is the
  // library's process-wide log level.
  av_log_set_level(AV_LOG_ERROR);
  Impl& m = *impl_;
  m.path = path;
  m.width = width;
  m.height = height;
  m.fps = fps;
  m.sampleRate = audioSampleRate;
  check(avformat_alloc_output_context2(&m.fmt, nullptr, "mp4", path.c_str()), "avformat_alloc_output_context2", path);

  const AVCodec* vcodec = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (!vcodec) throw platform::Error("avcodec_find_encoder", "no H.264 encoder in this FFmpeg", path);
  m.vst = avformat_new_stream(m.fmt, nullptr);
  m.venc = avcodec_alloc_context3(vcodec);
  if (!m.vst || !m.venc) throw platform::Error("avformat_new_stream", "out of memory", path);
  m.venc->width = width;
  m.venc->height = height;
  m.venc->time_base = AVRational{1, fps};
  m.venc->framerate = AVRational{fps, 1};
  m.venc->pix_fmt = AV_PIX_FMT_YUV420P;
  m.venc->gop_size = fps * 2;
  m.venc->max_b_frames = 2;
  if (m.fmt->oformat->flags & AVFMT_GLOBALHEADER) m.venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(m.venc->priv_data, "preset", "veryfast", 0);
  av_opt_set(m.venc->priv_data, "crf", "20", 0);
  check(avcodec_open2(m.venc, vcodec, nullptr), "avcodec_open2(H.264)", path);
  check(avcodec_parameters_from_context(m.vst->codecpar, m.venc), "avcodec_parameters_from_context", path);
  m.vst->time_base = m.venc->time_base;
  m.vst->avg_frame_rate = AVRational{fps, 1};

  if (audioSampleRate > 0) {
    const AVCodec* acodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!acodec) throw platform::Error("avcodec_find_encoder", "no AAC encoder in this FFmpeg", path);
    m.ast = avformat_new_stream(m.fmt, nullptr);
    m.aenc = avcodec_alloc_context3(acodec);
    if (!m.ast || !m.aenc) throw platform::Error("avformat_new_stream", "out of memory", path);
    m.aenc->sample_fmt = AV_SAMPLE_FMT_FLTP;
    m.aenc->sample_rate = audioSampleRate;
    m.aenc->bit_rate = 192000;
    av_channel_layout_default(&m.aenc->ch_layout, 2);
    m.aenc->time_base = AVRational{1, audioSampleRate};
    if (m.fmt->oformat->flags & AVFMT_GLOBALHEADER) m.aenc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(m.aenc, acodec, nullptr), "avcodec_open2(AAC)", path);
    check(avcodec_parameters_from_context(m.ast->codecpar, m.aenc), "avcodec_parameters_from_context", path);
    m.ast->time_base = m.aenc->time_base;
    m.aframe = av_frame_alloc();
    m.aframe->format = AV_SAMPLE_FMT_FLTP;
    m.aframe->sample_rate = audioSampleRate;
    av_channel_layout_copy(&m.aframe->ch_layout, &m.aenc->ch_layout);
    m.aframe->nb_samples = m.aenc->frame_size;
    check(av_frame_get_buffer(m.aframe, 0), "av_frame_get_buffer(audio)", path);
  }

  m.vframe = av_frame_alloc();
  m.vframe->format = AV_PIX_FMT_YUV420P;
  m.vframe->width = width;
  m.vframe->height = height;
  check(av_frame_get_buffer(m.vframe, 0), "av_frame_get_buffer(video)", path);
  m.sws = sws_getContext(width, height, AV_PIX_FMT_RGBA, width, height, AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr,
                         nullptr, nullptr);
  if (!m.sws) throw platform::Error("sws_getContext", "cannot convert RGBA to YUV 4:2:0", path);
  m.pkt = av_packet_alloc();

  check(avio_open(&m.fmt->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open", path);
  check(avformat_write_header(m.fmt, nullptr), "avformat_write_header", path);
  m.headerWritten = true;
}

Mp4Writer::~Mp4Writer() = default;

void Mp4Writer::AddFrame(const std::uint8_t* rgba) {
  Impl& m = *impl_;
  check(av_frame_make_writable(m.vframe), "av_frame_make_writable", m.path);
  const std::uint8_t* src[1] = {rgba};
  const int stride[1] = {m.width * 4};
  sws_scale(m.sws, src, stride, 0, m.height, m.vframe->data, m.vframe->linesize);
  m.vframe->pts = m.nextVideoPts++;
  check(avcodec_send_frame(m.venc, m.vframe), "avcodec_send_frame(video)", m.path);
  m.drain(m.venc, m.vst);
}

void Mp4Writer::AddAudio(const float* stereo, std::size_t frames) {
  Impl& m = *impl_;
  if (!m.aenc) return;
  for (std::size_t i = 0; i < frames; ++i) {
    m.pendingLeft.push_back(stereo[2 * i]);
    m.pendingRight.push_back(stereo[2 * i + 1]);
  }
  const int frameSize = m.aenc->frame_size;
  while (static_cast<int>(m.pendingLeft.size()) >= frameSize) m.encodeAudioFrame(frameSize);
}

void Mp4Writer::Finish() {
  Impl& m = *impl_;
  if (m.finished) return;
  if (m.aenc) {
    if (!m.pendingLeft.empty()) m.encodeAudioFrame(static_cast<int>(m.pendingLeft.size()));
    check(avcodec_send_frame(m.aenc, nullptr), "avcodec_send_frame(audio flush)", m.path);
    m.drain(m.aenc, m.ast);
  }
  check(avcodec_send_frame(m.venc, nullptr), "avcodec_send_frame(video flush)", m.path);
  m.drain(m.venc, m.vst);
  check(av_write_trailer(m.fmt), "av_write_trailer", m.path);
  m.finished = true;
  check(avio_closep(&m.fmt->pb), "avio_close", m.path);
}

Mp4Info ProbeMp4(const std::string& path, bool decodeVideo) {
  Mp4Info info;
  AVFormatContext* fmt = nullptr;
  check(avformat_open_input(&fmt, path.c_str(), nullptr, nullptr), "avformat_open_input", path);
  struct Closer {
    AVFormatContext*& f;
    ~Closer() { avformat_close_input(&f); }
  } closer{fmt};
  check(avformat_find_stream_info(fmt, nullptr), "avformat_find_stream_info", path);
  int vi = -1, ai = -1;
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    const AVCodecParameters* p = fmt->streams[i]->codecpar;
    if (p->codec_type == AVMEDIA_TYPE_VIDEO && vi < 0) vi = static_cast<int>(i);
    if (p->codec_type == AVMEDIA_TYPE_AUDIO && ai < 0) ai = static_cast<int>(i);
  }
  AVCodecContext* vdec = nullptr;
  AVCodecContext* adec = nullptr;
  auto openDecoder = [&](int index) {
    const AVCodecParameters* p = fmt->streams[index]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(p->codec_id);
    if (!codec) throw platform::Error("avcodec_find_decoder", "no decoder", path);
    AVCodecContext* c = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(c, p);
    c->thread_count = 1;
    check(avcodec_open2(c, codec, nullptr), "avcodec_open2(decoder)", path);
    return c;
  };
  if (vi >= 0) {
    const AVStream* s = fmt->streams[vi];
    info.videoCodec = avcodec_get_name(s->codecpar->codec_id);
    info.width = s->codecpar->width;
    info.height = s->codecpar->height;
    info.fps = av_q2d(s->avg_frame_rate);
    if (s->duration > 0) info.videoSeconds = static_cast<double>(s->duration) * av_q2d(s->time_base);
    if (decodeVideo) vdec = openDecoder(vi);
  }
  if (ai >= 0) {
    const AVStream* s = fmt->streams[ai];
    info.audioCodec = avcodec_get_name(s->codecpar->codec_id);
    if (s->duration > 0) info.audioSeconds = static_cast<double>(s->duration) * av_q2d(s->time_base);
    adec = openDecoder(ai);
  }
  AVPacket* pkt = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  double sumSquares = 0;
  std::int64_t samples = 0;
  auto receive = [&](AVCodecContext* dec, bool video) {
    while (avcodec_receive_frame(dec, frame) == 0) {
      if (video) {
        ++info.videoFrames;
        std::uint64_t h = 1469598103934665603ull;
        for (int plane = 0; plane < 3; ++plane) {
          const int rows = plane == 0 ? frame->height : (frame->height + 1) / 2;
          const int cols = plane == 0 ? frame->width : (frame->width + 1) / 2;
          for (int y = 0; y < rows; ++y) {
            const std::uint8_t* row = frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane];
            for (int x = 0; x < cols; ++x) h = (h ^ row[x]) * 1099511628211ull;
          }
        }
        info.frameHashes.push_back(h);
      } else if (frame->format == AV_SAMPLE_FMT_FLTP) {
        for (int ch = 0; ch < frame->ch_layout.nb_channels; ++ch) {
          const auto* d = reinterpret_cast<const float*>(frame->data[ch]);
          for (int i = 0; i < frame->nb_samples; ++i) sumSquares += static_cast<double>(d[i]) * d[i];
        }
        samples += static_cast<std::int64_t>(frame->nb_samples) * frame->ch_layout.nb_channels;
      }
    }
  };
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->stream_index == vi && vdec) {
      avcodec_send_packet(vdec, pkt);
      receive(vdec, true);
    } else if (pkt->stream_index == vi) {
      ++info.videoFrames;
    } else if (pkt->stream_index == ai && adec) {
      avcodec_send_packet(adec, pkt);
      receive(adec, false);
    }
    av_packet_unref(pkt);
  }
  if (vdec) {
    avcodec_send_packet(vdec, nullptr);
    receive(vdec, true);
  }
  if (adec) {
    avcodec_send_packet(adec, nullptr);
    receive(adec, false);
  }
  if (samples > 0) info.audioRms = std::sqrt(sumSquares / static_cast<double>(samples));
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&vdec);
  avcodec_free_context(&adec);
  return info;
}

}  // namespace video
