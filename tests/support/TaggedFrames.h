// A recorded video's frames as a player shows them: decoded with FFmpeg and turned back into RGB
// with the matrix and range that the decoded pictures are tagged with, not with a conversion the
// reader assumes. For the tests of playback; needs FFmpeg's libraries and stb_image.
#pragma once

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "tests/support/FrameDiff.h"
#include "tests/support/VideoFrames.h"

namespace wgtest {

// How a decoded picture says its numbers are to be read, in FFmpeg's names ("tv", "smpte170m", ...;
// "unknown" where nothing is said).
struct ColourTags {
  std::string range, space, primaries, transfer;
};

inline ColourTags TagsOf(const AVFrame& fr) {
  const auto name = [](const char* n) { return std::string(n ? n : "unknown"); };
  return {name(av_color_range_name(fr.color_range)), name(av_color_space_name(fr.colorspace)),
          name(av_color_primaries_name(fr.color_primaries)), name(av_color_transfer_name(fr.color_trc))};
}

// The luma weights of red and blue for the matrices a player knows; false for any other.
inline bool LumaWeights(AVColorSpace space, double& kr, double& kb) {
  switch (space) {
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_BT470BG:
      kr = 0.299, kb = 0.114;
      return true;
    case AVCOL_SPC_BT709:
      kr = 0.2126, kb = 0.0722;
      return true;
    case AVCOL_SPC_BT2020_NCL:
      kr = 0.2627, kb = 0.0593;
      return true;
    default:
      return false;
  }
}

// An 8-bit 4:2:0 picture as RGB, each pixel taking the colour difference of its 2 x 2 block, with
// the matrix and range the picture is tagged with. Empty, with `error` set, when the picture is of
// another layout or its tags name no matrix or range.
inline Picture TaggedToRgb(const AVFrame& fr, std::string& error) {
  double kr = 0, kb = 0;
  const bool studio = fr.color_range == AVCOL_RANGE_MPEG;
  if (fr.format != AV_PIX_FMT_YUV420P && fr.format != AV_PIX_FMT_YUVJ420P) {
    const char* layout = av_get_pix_fmt_name(static_cast<AVPixelFormat>(fr.format));
    error = std::string("pictures of layout ") + (layout ? layout : "?") + ", not yuv420p";
  } else if (!LumaWeights(fr.colorspace, kr, kb)) {
    error = "pictures tagged with no known matrix (" + TagsOf(fr).space + ")";
  } else if (!studio && fr.color_range != AVCOL_RANGE_JPEG) {
    error = "pictures tagged with no range";
  }
  if (!error.empty()) return {};
  const double kg = 1 - kr - kb;
  const double yScale = studio ? 219 : 255, cScale = studio ? 224 : 255, yZero = studio ? 16 : 0;
  const auto level = [](double v) {
    return static_cast<std::uint8_t>(std::nearbyint(std::clamp(v, 0.0, 1.0) * 255));
  };
  Picture p{fr.width, fr.height, {}};
  p.rgb.resize(static_cast<std::size_t>(fr.width) * fr.height * 3);
  for (int y = 0; y < fr.height; ++y) {
    const std::uint8_t* luma = fr.data[0] + static_cast<std::ptrdiff_t>(y) * fr.linesize[0];
    const std::uint8_t* u = fr.data[1] + static_cast<std::ptrdiff_t>(y / 2) * fr.linesize[1];
    const std::uint8_t* v = fr.data[2] + static_cast<std::ptrdiff_t>(y / 2) * fr.linesize[2];
    std::uint8_t* out = p.rgb.data() + static_cast<std::size_t>(y) * fr.width * 3;
    for (int x = 0; x < fr.width; ++x) {
      const double ey = (luma[x] - yZero) / yScale;
      const double cb = (u[x / 2] - 128) / cScale, cr = (v[x / 2] - 128) / cScale;
      const double r = ey + 2 * (1 - kr) * cr, b = ey + 2 * (1 - kb) * cb;
      const double g = (ey - kr * r - kb * b) / kg;
      out[3 * x] = level(r);
      out[3 * x + 1] = level(g);
      out[3 * x + 2] = level(b);
    }
  }
  return p;
}

struct TaggedFrames {
  std::map<int, Picture> frames;  // by number from 1, in the order they are shown
  std::set<std::string> tags;     // each distinct description the decoded pictures carried
  std::string error;              // empty when every wanted frame was decoded and converted
};

inline std::string TagsText(const ColourTags& t) {
  return "range " + t.range + ", space " + t.space + ", primaries " + t.primaries + ", transfer " +
         t.transfer;
}

// Frames `wanted` of the video at `path`, converted as their tags say.
inline TaggedFrames DecodeTaggedFrames(const std::string& path, const std::set<int>& wanted) {
  TaggedFrames t;
  int n = 0;
  const bool decoded = DecodeStream(path, AVMEDIA_TYPE_VIDEO, [&](const AVFrame& fr) {
    t.tags.insert(TagsText(TagsOf(fr)));
    if (!wanted.count(++n) || !t.error.empty()) return;
    Picture p = TaggedToRgb(fr, t.error);
    if (t.error.empty()) t.frames[n] = std::move(p);
  });
  if (!decoded) t.error = "no video stream to decode in " + path;
  if (t.error.empty() && t.frames.size() != wanted.size())
    t.error = path + " has " + std::to_string(n) + " frames, fewer than asked for";
  return t;
}

// When the first video frame of `path` is to be shown, in seconds from the file's zero: the offset
// a player's clock has for every frame. NaN when the file has no video stream.
inline double VideoStartSeconds(const std::string& path) {
  AVFormatContext* fmt = nullptr;
  if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return NAN;
  double start = NAN;
  if (avformat_find_stream_info(fmt, nullptr) >= 0) {
    const int si = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (si >= 0 && fmt->streams[si]->start_time != AV_NOPTS_VALUE)
      start = static_cast<double>(fmt->streams[si]->start_time) * av_q2d(fmt->streams[si]->time_base);
  }
  avformat_close_input(&fmt);
  return start;
}

// How far one picture is from another, red, green and blue apart: the mean absolute difference and
// the mean signed difference (`got` less `want`). Coding noise leaves the signed mean near zero; a
// conversion with the wrong matrix or range moves it. 255 each where the sizes differ.
struct ChannelDiff {
  std::array<double, 3> mean{255, 255, 255}, bias{255, 255, 255};
};

inline ChannelDiff CompareChannels(const Picture& got, const Picture& want) {
  ChannelDiff d;
  if (got.w != want.w || got.h != want.h || got.rgb.size() != want.rgb.size() || got.rgb.empty()) return d;
  std::array<std::int64_t, 3> absolute{}, signedSum{};
  for (std::size_t i = 0; i < got.rgb.size(); ++i) {
    const int diff = got.rgb[i] - want.rgb[i];
    absolute[i % 3] += std::abs(diff);
    signedSum[i % 3] += diff;
  }
  const double pixels = static_cast<double>(got.rgb.size() / 3);
  for (int c = 0; c < 3; ++c) {
    d.mean[c] = static_cast<double>(absolute[c]) / pixels;
    d.bias[c] = static_cast<double>(signedSum[c]) / pixels;
  }
  return d;
}

}  // namespace wgtest
