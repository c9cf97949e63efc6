// How close a recorded video stays to the frames rendered for it: each frame decoded to 8-bit RGB
// and compared with the PNG that --frames-dir wrote for the same number. For tests and benchmarks;
// needs FFmpeg's libraries and stb_image.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace wgtest {

// Decodes the best stream of `type` in `path`, handing each decoded frame to `frame`. Returns false
// when the file cannot be opened or has no such stream that FFmpeg can decode.
inline bool DecodeStream(const std::string& path, AVMediaType type,
                         const std::function<void(const AVFrame&)>& frame) {
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
  AVCodecContext* dec = nullptr;
  AVPacket* pkt = av_packet_alloc();
  AVFrame* fr = av_frame_alloc();
  const int si =
      avformat_find_stream_info(fmt, nullptr) < 0 ? -1 : av_find_best_stream(fmt, type, -1, -1, nullptr, 0);
  const AVCodec* codec = si < 0 ? nullptr : avcodec_find_decoder(fmt->streams[si]->codecpar->codec_id);
  if (codec) dec = avcodec_alloc_context3(codec);
  const bool opened = dec && avcodec_parameters_to_context(dec, fmt->streams[si]->codecpar) >= 0 &&
                      avcodec_open2(dec, codec, nullptr) >= 0;
  if (opened) {
    const auto receive = [&] {
      while (avcodec_receive_frame(dec, fr) == 0) frame(*fr);
    };
    while (av_read_frame(fmt, pkt) >= 0) {
      if (pkt->stream_index == si && avcodec_send_packet(dec, pkt) >= 0) receive();
      av_packet_unref(pkt);
    }
    avcodec_send_packet(dec, nullptr);
    receive();
  }
  av_frame_free(&fr);
  av_packet_free(&pkt);
  avcodec_free_context(&dec);
  avformat_close_input(&fmt);
  return opened;
}

// Hands each decoded frame of `path`, as RGB rows top first, to `frame` with its number from 1.
// Returns an error text, empty when the file decoded.
inline std::string DecodeRgbFrames(const std::string& path,
                                   const std::function<void(int, const std::vector<std::uint8_t>&)>& frame) {
  SwsContext* sws = nullptr;
  std::vector<std::uint8_t> rgb;
  int n = 0;
  const bool decoded = DecodeStream(path, AVMEDIA_TYPE_VIDEO, [&](const AVFrame& fr) {
    if (!sws) {
      sws = sws_getContext(fr.width, fr.height, static_cast<AVPixelFormat>(fr.format), fr.width, fr.height,
                           AV_PIX_FMT_RGB24, SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                           nullptr, nullptr);
      rgb.resize(static_cast<std::size_t>(fr.width) * fr.height * 3);
    }
    std::uint8_t* dst[1] = {rgb.data()};
    const int stride[1] = {fr.width * 3};
    sws_scale(sws, fr.data, fr.linesize, 0, fr.height, dst, stride);
    frame(++n, rgb);
  });
  sws_freeContext(sws);
  return decoded ? std::string() : "no video stream to decode in " + path;
}

// The first audio stream of `path`, decoded to interleaved stereo floats (planar float, the AAC and
// Opus decoders' output); empty where there is none.
inline std::vector<float> DecodeStereo(const std::string& path) {
  std::vector<float> out;
  DecodeStream(path, AVMEDIA_TYPE_AUDIO, [&](const AVFrame& fr) {
    if (fr.format != AV_SAMPLE_FMT_FLTP || fr.ch_layout.nb_channels != 2) return;
    const auto* l = reinterpret_cast<const float*>(fr.data[0]);
    const auto* r = reinterpret_cast<const float*>(fr.data[1]);
    for (int i = 0; i < fr.nb_samples; ++i) {
      out.push_back(l[i]);
      out.push_back(r[i]);
    }
  });
  return out;
}

struct Fidelity {
  int frames = 0;
  double psnr = 0;       // over every channel of every frame, in dB
  double worstPsnr = 0;  // of the worst frame
  std::string error;     // what could not be read; empty when all was compared
};

// The video at `video` against frame-00001.png ... in `framesDir`.
inline Fidelity VideoAgainstFrames(const std::string& video, const std::string& framesDir) {
  Fidelity f;
  double totalMse = 0;
  f.worstPsnr = 1e9;
  const auto psnr = [](double mse) { return 10 * std::log10(255.0 * 255.0 / std::max(mse, 1e-12)); };
  f.error = DecodeRgbFrames(video, [&](int n, const std::vector<std::uint8_t>& rgb) {
    if (!f.error.empty()) return;
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%05d.png", n);
    int w = 0, h = 0, c = 0;
    unsigned char* ref = stbi_load((framesDir + name).c_str(), &w, &h, &c, 3);
    if (!ref || static_cast<std::size_t>(w) * h * 3 != rgb.size()) {
      f.error = "no frame of the same size in " + framesDir + name;
      stbi_image_free(ref);
      return;
    }
    double se = 0;
    for (std::size_t i = 0; i < rgb.size(); ++i) {
      const double d = static_cast<double>(ref[i]) - rgb[i];
      se += d * d;
    }
    stbi_image_free(ref);
    const double mse = se / static_cast<double>(rgb.size());
    totalMse += mse;
    f.worstPsnr = std::min(f.worstPsnr, psnr(mse));
    ++f.frames;
  });
  if (f.frames > 0) f.psnr = psnr(totalMse / f.frames);
  return f;
}

}  // namespace wgtest
