#include "platform/video/Mp4Writer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "platform/base/Error.h"
#include "platform/video/AvError.h"
#include "platform/video/Yuv420.h"

namespace video {

namespace {

struct Format {
  const char* muxer;
  AVCodecID video, audio;
  const char* audioEncoder;  // by name where FFmpeg has several, or null
};

Format formatOf(Container c) {
  switch (c) {
    case Container::Matroska:
      return {"matroska", AV_CODEC_ID_H264, AV_CODEC_ID_AAC, nullptr};
    case Container::WebM:
      return {"webm", AV_CODEC_ID_VP9, AV_CODEC_ID_OPUS, "libopus"};
    case Container::Mp4:
      break;
  }
  return {"mp4", AV_CODEC_ID_H264, AV_CODEC_ID_AAC, nullptr};
}

}  // namespace

struct Mp4Writer::Impl {
  std::string path;  // as named in messages
  int width = 0, height = 0, fps = 0, sampleRate = 0;
  AVFormatContext* fmt = nullptr;
  AVCodecContext* venc = nullptr;
  AVCodecContext* aenc = nullptr;
  AVStream* vst = nullptr;
  AVStream* ast = nullptr;
  SwrContext* swr = nullptr;     // interleaved floats at the synthesizer's rate -> the encoder's format
  AVAudioFifo* fifo = nullptr;   // converted samples not yet a whole encoder frame
  AVFrame* converted = nullptr;  // swr's output, grown as needed
  AVFrame* vframe = nullptr;
  AVFrame* aframe = nullptr;
  AVPacket* pkt = nullptr;
  std::int64_t nextVideoPts = 0, nextAudioPts = 0;
  bool headerWritten = false, finished = false;

  ~Impl() {
    if (fmt && headerWritten && !finished) av_write_trailer(fmt);
    if (fmt && fmt->pb) avio_closep(&fmt->pb);
    avformat_free_context(fmt);
    avcodec_free_context(&venc);
    avcodec_free_context(&aenc);
    swr_free(&swr);
    if (fifo) av_audio_fifo_free(fifo);
    av_frame_free(&converted);
    av_frame_free(&vframe);
    av_frame_free(&aframe);
    av_packet_free(&pkt);
  }

  void drain(AVCodecContext* enc, AVStream* st) {
    for (;;) {
      const int ret = avcodec_receive_packet(enc, pkt);
      if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return;
      CheckAv(ret, "avcodec_receive_packet", path);
      av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
      pkt->stream_index = st->index;
      CheckAv(av_interleaved_write_frame(fmt, pkt), "av_interleaved_write_frame", path);
    }
  }

  void encodeAudioFrame(int samples) {
    CheckAv(av_frame_make_writable(aframe), "av_frame_make_writable", path);
    const int frameSize = aenc->frame_size;
    CheckAv(av_audio_fifo_read(fifo, reinterpret_cast<void**>(aframe->data), samples), "av_audio_fifo_read",
            path);
    // A short last frame is padded with silence where the encoder takes only whole frames.
    const bool shortFrameOk = (aenc->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    if (samples < frameSize && !shortFrameOk) {
      av_samples_set_silence(aframe->data, samples, frameSize - samples, aenc->ch_layout.nb_channels,
                             aenc->sample_fmt);
      samples = frameSize;
    }
    aframe->nb_samples = samples;
    aframe->pts = nextAudioPts;
    nextAudioPts += samples;
    CheckAv(avcodec_send_frame(aenc, aframe), "avcodec_send_frame(audio)", path);
    drain(aenc, ast);
  }

  // Converts `frames` stereo samples (none, with null: what the resampler still holds) into the
  // queue and encodes every whole frame in it.
  void convertAudio(const float* stereo, int frames) {
    const int room = swr_get_out_samples(swr, frames);
    CheckAv(room, "swr_get_out_samples", path);
    if (!converted || converted->nb_samples < room) {
      av_frame_free(&converted);
      converted = av_frame_alloc();
      if (!converted) throw platform::Error("av_frame_alloc", "out of memory", path);
      converted->format = aenc->sample_fmt;
      converted->nb_samples = std::max(room, 4096);
      CheckAv(av_channel_layout_copy(&converted->ch_layout, &aenc->ch_layout), "av_channel_layout_copy",
              path);
      CheckAv(av_frame_get_buffer(converted, 0), "av_frame_get_buffer(audio)", path);
    }
    const std::uint8_t* in[1] = {reinterpret_cast<const std::uint8_t*>(stereo)};
    const int got = swr_convert(swr, converted->data, converted->nb_samples, stereo ? in : nullptr, frames);
    CheckAv(got, "swr_convert", path);
    if (got > 0)
      CheckAv(av_audio_fifo_write(fifo, reinterpret_cast<void**>(converted->data), got),
              "av_audio_fifo_write", path);
    while (av_audio_fifo_size(fifo) >= aenc->frame_size) encodeAudioFrame(aenc->frame_size);
  }
};

Mp4Writer::Mp4Writer(const std::string& path, int width, int height, int fps, int audioSampleRate,
                     Container container, const std::string& shownName, RateLimit rate)
    : impl_(std::make_unique<Impl>()) {
  // The encoders' statistics and notes are not for the user; errors still reach stderr. This is the
  // library's process-wide log level.
  av_log_set_level(AV_LOG_ERROR);
  Impl& m = *impl_;
  m.path = shownName.empty() ? path : shownName;
  m.width = width;
  m.height = height;
  m.fps = fps;
  m.sampleRate = audioSampleRate;
  const Format f = formatOf(container);
  CheckAv(avformat_alloc_output_context2(&m.fmt, nullptr, f.muxer, path.c_str()),
          "avformat_alloc_output_context2", m.path);

  const AVCodec* vcodec = avcodec_find_encoder(f.video);
  if (!vcodec)
    throw platform::Error("avcodec_find_encoder",
                          std::string("no ") + avcodec_get_name(f.video) + " encoder in this FFmpeg", m.path);
  m.vst = avformat_new_stream(m.fmt, nullptr);
  m.venc = avcodec_alloc_context3(vcodec);
  if (!m.vst || !m.venc) throw platform::Error("avformat_new_stream", "out of memory", m.path);
  m.venc->width = width;
  m.venc->height = height;
  m.venc->time_base = AVRational{1, fps};
  m.venc->framerate = AVRational{fps, 1};
  m.venc->pix_fmt = AV_PIX_FMT_YUV420P;
  // What the frames are, told to every player rather than guessed: the renderer's sRGB colours
  // (BT.709 primaries, the sRGB curve), converted with BT.601's matrix into studio range (Yuv420.h).
  m.venc->color_range = AVCOL_RANGE_MPEG;
  m.venc->colorspace = AVCOL_SPC_SMPTE170M;
  m.venc->color_primaries = AVCOL_PRI_BT709;
  m.venc->color_trc = AVCOL_TRC_IEC61966_2_1;
  m.venc->gop_size = fps * 2;
  if (m.fmt->oformat->flags & AVFMT_GLOBALHEADER) m.venc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (f.video == AV_CODEC_ID_H264) {
    m.venc->max_b_frames = 2;
    // Chosen by measurement on a ten-second recording of the greeting (2 cores, llvmpipe), where the
    // encoder competes with the rasteriser for the CPU: the quickest preset with arithmetic coding
    // and the deblocking filter put back takes about 40 % less CPU than veryfast with one partition
    // size at crf 21, at the same PSNR against the rendered frames (39.1 dB over RGB) and a similar
    // file. Without adaptive quantisation the bits go where the error is, which PSNR rewards.
    av_opt_set(m.venc->priv_data, "preset", "ultrafast", 0);
    av_opt_set(m.venc->priv_data, "x264-params", "cabac=1:deblock=1", 0);
    // What these settings make, said outright: arithmetic coding and B-frames without the 8x8
    // transform are the Main profile, which every phone plays.
    av_opt_set(m.venc->priv_data, "profile", "main", 0);
    if (rate.bitrate > 0) {
      // An average rate bounded by a buffer: the video never takes more than the rate over the
      // recording plus one buffer, whatever the frames hold.
      m.venc->bit_rate = rate.bitrate;
      m.venc->rc_max_rate = rate.bitrate;
      m.venc->rc_buffer_size = static_cast<int>(rate.bufferBits);
    } else {
      av_opt_set(m.venc->priv_data, "crf", "24", 0);
    }
    // On two cores the encoder runs on the writer's thread alone: frame threads that wait for the
    // next frame cost more than they give while the rasteriser needs both cores (0.3 s less of a
    // ten-second recording's 4.5 s).
    if (std::thread::hardware_concurrency() <= 2) m.venc->thread_count = 1;
  } else {
    // Constant quality at about H.264's crf 20, at the encoder's fastest speed: a recording should
    // not take much longer than the greeting lasts.
    if (rate.bitrate > 0) {
      // A constant rate with its buffer (equal least and largest rates are libvpx's CBR mode).
      m.venc->bit_rate = rate.bitrate;
      m.venc->rc_min_rate = rate.bitrate;
      m.venc->rc_max_rate = rate.bitrate;
      m.venc->rc_buffer_size = static_cast<int>(rate.bufferBits);
    } else {
      m.venc->bit_rate = 0;
      av_opt_set(m.venc->priv_data, "crf", "31", 0);
    }
    av_opt_set(m.venc->priv_data, "deadline", "realtime", 0);
    av_opt_set(m.venc->priv_data, "cpu-used", "8", 0);
    av_opt_set_int(m.venc->priv_data, "row-mt", 1, 0);
  }
  CheckAv(avcodec_open2(m.venc, vcodec, nullptr), "avcodec_open2(video)", m.path);
  CheckAv(avcodec_parameters_from_context(m.vst->codecpar, m.venc), "avcodec_parameters_from_context",
          m.path);
  m.vst->time_base = m.venc->time_base;
  m.vst->avg_frame_rate = AVRational{fps, 1};

  if (audioSampleRate > 0) {
    const AVCodec* acodec = f.audioEncoder ? avcodec_find_encoder_by_name(f.audioEncoder) : nullptr;
    if (!acodec) acodec = avcodec_find_encoder(f.audio);
    if (!acodec)
      throw platform::Error("avcodec_find_encoder",
                            std::string("no ") + avcodec_get_name(f.audio) + " encoder in this FFmpeg",
                            m.path);
    m.ast = avformat_new_stream(m.fmt, nullptr);
    m.aenc = avcodec_alloc_context3(acodec);
    if (!m.ast || !m.aenc) throw platform::Error("avformat_new_stream", "out of memory", m.path);
    // The encoder's own sample format, and its rate: Opus takes 48 kHz only.
    m.aenc->sample_fmt = acodec->sample_fmts ? acodec->sample_fmts[0] : AV_SAMPLE_FMT_FLTP;
    for (const AVSampleFormat* sf = acodec->sample_fmts; sf && *sf != AV_SAMPLE_FMT_NONE; ++sf)
      if (*sf == AV_SAMPLE_FMT_FLTP || *sf == AV_SAMPLE_FMT_FLT) m.aenc->sample_fmt = *sf;
    m.aenc->sample_rate = f.audio == AV_CODEC_ID_OPUS ? 48000 : audioSampleRate;
    m.aenc->bit_rate = AudioBitrate(container);
    av_channel_layout_default(&m.aenc->ch_layout, 2);
    m.aenc->time_base = AVRational{1, m.aenc->sample_rate};
    // FFmpeg's own AAC encoder: its quick coder takes about a quarter of the default's CPU and, on
    // the greeting's tune, comes closer to the synthesizer's samples (31 dB SNR against 28).
    if (std::strcmp(acodec->name, "aac") == 0) av_opt_set(m.aenc->priv_data, "aac_coder", "fast", 0);
    if (m.fmt->oformat->flags & AVFMT_GLOBALHEADER) m.aenc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    CheckAv(avcodec_open2(m.aenc, acodec, nullptr), "avcodec_open2(audio)", m.path);
    CheckAv(avcodec_parameters_from_context(m.ast->codecpar, m.aenc), "avcodec_parameters_from_context",
            m.path);
    m.ast->time_base = m.aenc->time_base;
    m.aframe = av_frame_alloc();
    if (!m.aframe) throw platform::Error("av_frame_alloc", "out of memory", m.path);
    m.aframe->format = m.aenc->sample_fmt;
    m.aframe->sample_rate = m.aenc->sample_rate;
    av_channel_layout_copy(&m.aframe->ch_layout, &m.aenc->ch_layout);
    m.aframe->nb_samples = m.aenc->frame_size;
    CheckAv(av_frame_get_buffer(m.aframe, 0), "av_frame_get_buffer(audio)", m.path);

    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    CheckAv(swr_alloc_set_opts2(&m.swr, &m.aenc->ch_layout, m.aenc->sample_fmt, m.aenc->sample_rate, &stereo,
                                AV_SAMPLE_FMT_FLT, audioSampleRate, 0, nullptr),
            "swr_alloc_set_opts2", m.path);
    CheckAv(swr_init(m.swr), "swr_init", m.path);
    m.fifo = av_audio_fifo_alloc(m.aenc->sample_fmt, m.aenc->ch_layout.nb_channels, m.aenc->frame_size * 2);
    if (!m.fifo) throw platform::Error("av_audio_fifo_alloc", "out of memory", m.path);
  }

  m.vframe = av_frame_alloc();
  if (!m.vframe) throw platform::Error("av_frame_alloc", "out of memory", m.path);
  m.vframe->format = AV_PIX_FMT_YUV420P;
  m.vframe->width = width;
  m.vframe->height = height;
  CheckAv(av_frame_get_buffer(m.vframe, 0), "av_frame_get_buffer(video)", m.path);
  m.pkt = av_packet_alloc();
  if (!m.pkt) throw platform::Error("av_packet_alloc", "out of memory", m.path);

  CheckAv(avio_open(&m.fmt->pb, path.c_str(), AVIO_FLAG_WRITE), "avio_open", m.path);
  // The index before the media data, so that a browser or a messenger can start playing, and show a
  // thumbnail, before the whole file has arrived: MP4 moves its index to the front when it finishes;
  // Matroska and WebM write their cues into room kept after the header (one cue per key frame, two
  // seconds apart: an hour, the longest recording, takes under 40 KB).
  AVDictionary* options = nullptr;
  if (container == Container::Mp4)
    av_dict_set(&options, "movflags", "+faststart", 0);
  else
    av_dict_set(&options, "reserve_index_space", "65536", 0);
  const int header = avformat_write_header(m.fmt, &options);
  av_dict_free(&options);
  CheckAv(header, "avformat_write_header", m.path);
  m.headerWritten = true;
}

Mp4Writer::~Mp4Writer() = default;

void Mp4Writer::AddFrame(const std::uint8_t* rgba) {
  Impl& m = *impl_;
  CheckAv(av_frame_make_writable(m.vframe), "av_frame_make_writable", m.path);
  RgbaToYuv420(rgba, m.width, m.height, m.vframe->data, m.vframe->linesize);
  m.vframe->pts = m.nextVideoPts++;
  CheckAv(avcodec_send_frame(m.venc, m.vframe), "avcodec_send_frame(video)", m.path);
  m.drain(m.venc, m.vst);
}

void Mp4Writer::AddAudio(const float* stereo, std::size_t frames) {
  Impl& m = *impl_;
  if (!m.aenc || frames == 0) return;
  m.convertAudio(stereo, static_cast<int>(frames));
}

void Mp4Writer::Finish() {
  Impl& m = *impl_;
  if (m.finished) return;
  if (m.aenc) {
    m.convertAudio(nullptr, 0);
    if (av_audio_fifo_size(m.fifo) > 0) m.encodeAudioFrame(av_audio_fifo_size(m.fifo));
    CheckAv(avcodec_send_frame(m.aenc, nullptr), "avcodec_send_frame(audio flush)", m.path);
    m.drain(m.aenc, m.ast);
  }
  CheckAv(avcodec_send_frame(m.venc, nullptr), "avcodec_send_frame(video flush)", m.path);
  m.drain(m.venc, m.vst);
  CheckAv(av_write_trailer(m.fmt), "av_write_trailer", m.path);
  m.finished = true;
  CheckAv(avio_closep(&m.fmt->pb), "avio_close", m.path);
}

Mp4Info ProbeMp4(const std::string& path, bool decodeVideo) {
  Mp4Info info;
  AVFormatContext* fmt = nullptr;
  CheckAv(avformat_open_input(&fmt, path.c_str(), nullptr, nullptr), "avformat_open_input", path);
  struct Closer {
    AVFormatContext*& f;
    ~Closer() { avformat_close_input(&f); }
  } closer{fmt};
  CheckAv(avformat_find_stream_info(fmt, nullptr), "avformat_find_stream_info", path);
  info.format = fmt->iformat->name;
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
    CheckAv(avcodec_open2(c, codec, nullptr), "avcodec_open2(decoder)", path);
    return c;
  };
  if (vi >= 0) {
    const AVStream* s = fmt->streams[vi];
    info.videoCodec = avcodec_get_name(s->codecpar->codec_id);
    info.width = s->codecpar->width;
    info.height = s->codecpar->height;
    auto named = [](const char* name) { return std::string(name ? name : "unknown"); };
    info.colorRange = named(av_color_range_name(s->codecpar->color_range));
    info.colorSpace = named(av_color_space_name(s->codecpar->color_space));
    info.colorPrimaries = named(av_color_primaries_name(s->codecpar->color_primaries));
    info.colorTransfer = named(av_color_transfer_name(s->codecpar->color_trc));
    const char* profile = avcodec_profile_name(s->codecpar->codec_id, s->codecpar->profile);
    info.profile = named(profile);
    info.level = std::max(0, s->codecpar->level);
    info.fps = av_q2d(s->avg_frame_rate);
    if (s->duration > 0) info.videoSeconds = static_cast<double>(s->duration) * av_q2d(s->time_base);
    if (decodeVideo) vdec = openDecoder(vi);
  }
  if (ai >= 0) {
    const AVStream* s = fmt->streams[ai];
    info.audioCodec = avcodec_get_name(s->codecpar->codec_id);
    info.audioSampleRate = s->codecpar->sample_rate;
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
            const std::uint8_t* row =
                frame->data[plane] + static_cast<std::ptrdiff_t>(y) * frame->linesize[plane];
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
  // Matroska and WebM give no stream duration: there the packets' own times tell the length.
  double videoEnd = 0, audioEnd = 0;
  while (av_read_frame(fmt, pkt) >= 0) {
    if (pkt->pts != AV_NOPTS_VALUE && (pkt->stream_index == vi || pkt->stream_index == ai)) {
      const AVStream* s = fmt->streams[pkt->stream_index];
      const std::int64_t start = s->start_time == AV_NOPTS_VALUE ? 0 : s->start_time;
      const double end = static_cast<double>(pkt->pts + pkt->duration - start) * av_q2d(s->time_base);
      double& e = pkt->stream_index == vi ? videoEnd : audioEnd;
      e = std::max(e, end);
    }
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
  if (info.videoSeconds == 0) info.videoSeconds = videoEnd;
  if (info.audioSeconds == 0) info.audioSeconds = audioEnd;
  if (samples > 0) info.audioRms = std::sqrt(sumSquares / static_cast<double>(samples));
  av_frame_free(&frame);
  av_packet_free(&pkt);
  avcodec_free_context(&vdec);
  avcodec_free_context(&adec);
  return info;
}

}  // namespace video
