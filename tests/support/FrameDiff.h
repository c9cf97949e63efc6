// How far one rendered frame is from another, colour channel by colour channel: what the tests of
// the browser's frames measure and the limits they hold them to.
#pragma once

#include <stb_image.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace wgtest {

// An RGB picture, top row first.
struct Picture {
  int w = 0, h = 0;
  std::vector<std::uint8_t> rgb;
};

inline Picture LoadPng(const std::string& path) {
  Picture p;
  int c = 0;
  unsigned char* data = stbi_load(path.c_str(), &p.w, &p.h, &c, 3);
  if (data) {
    p.rgb.assign(data, data + static_cast<std::size_t>(p.w) * p.h * 3);
    stbi_image_free(data);
  }
  return p;
}

inline Picture PngFromMemory(const std::string& bytes) {
  Picture p;
  int c = 0;
  unsigned char* data = stbi_load_from_memory(reinterpret_cast<const unsigned char*>(bytes.data()),
                                              static_cast<int>(bytes.size()), &p.w, &p.h, &c, 3);
  if (data) {
    p.rgb.assign(data, data + static_cast<std::size_t>(p.w) * p.h * 3);
    stbi_image_free(data);
  }
  return p;
}

inline Picture FromRgba(const std::vector<std::uint8_t>& rgba, int w, int h) {
  Picture p{w, h, {}};
  p.rgb.reserve(static_cast<std::size_t>(w) * h * 3);
  for (std::size_t i = 0; i + 3 < rgba.size(); i += 4)
    p.rgb.insert(p.rgb.end(), {rgba[i], rgba[i + 1], rgba[i + 2]});
  return p;
}

struct FrameDiff {
  double mean = 0;        // mean absolute difference over every colour channel of every pixel
  int max = 0;            // the largest difference of any channel
  double shareOver8 = 0;  // share of the pixels with some channel more than 8 levels off
  std::string text() const {
    std::ostringstream s;
    s << "mean " << mean << ", max " << max << ", " << 100.0 * shareOver8
      << " % of pixels off by more than 8";
    return s.str();
  }
};

// Rows [y0, y1) of both pictures (all rows by default); they must have the same size, and a size
// mismatch reads as the worst difference.
inline FrameDiff Compare(const Picture& a, const Picture& b, int y0 = 0, int y1 = -1) {
  FrameDiff d;
  if (y1 < 0) y1 = a.h;
  if (a.w != b.w || a.h != b.h || a.rgb.size() != b.rgb.size() || a.rgb.empty() || y0 < 0 || y1 > a.h ||
      y0 >= y1) {
    d.mean = 255;
    d.max = 255;
    d.shareOver8 = 1;
    return d;
  }
  std::uint64_t sum = 0, over = 0;
  const std::size_t begin = static_cast<std::size_t>(y0) * a.w * 3,
                    end = static_cast<std::size_t>(y1) * a.w * 3;
  for (std::size_t i = begin; i < end; i += 3) {
    int worst = 0;
    for (int c = 0; c < 3; ++c) {
      const int diff = std::abs(int{a.rgb[i + c]} - int{b.rgb[i + c]});
      sum += static_cast<std::uint64_t>(diff);
      worst = std::max(worst, diff);
    }
    d.max = std::max(d.max, worst);
    if (worst > 8) ++over;
  }
  const double pixels = static_cast<double>((end - begin) / 3);
  d.mean = static_cast<double>(sum) / (3.0 * pixels);
  d.shareOver8 = static_cast<double>(over) / pixels;
  return d;
}

}  // namespace wgtest
