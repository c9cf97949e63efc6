#include "app/WebMedia.h"

#include <zlib.h>

#include <cstring>

#include "platform/base/Error.h"
#include "platform/d3dx/Texture.h"

namespace app {

bool BrowserDecodesAlike(const std::vector<std::uint8_t>& b) {
  const std::size_t n = b.size();
  if (n < 4 || b[0] != 0xFF || b[1] != 0xD8) return false;
  std::size_t at = 2;
  bool frame = false;
  while (at + 4 <= n) {
    if (b[at] != 0xFF) return false;
    const unsigned marker = b[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    const std::size_t length = (static_cast<std::size_t>(b[at + 2]) << 8) | b[at + 3];
    if (length < 2 || at + 2 + length > n) return false;
    const std::uint8_t* body = b.data() + at + 4;
    const std::size_t bodySize = length - 2;
    const auto tagged = [&](const char* tag, std::size_t size) {
      return bodySize >= size && std::memcmp(body, tag, size) == 0;
    };
    if (marker == 0xE1 && tagged("Exif\0", 5)) return false;
    if (marker == 0xE2 && tagged("ICC_PROFILE\0", 12)) return false;
    if (marker == 0xEE && tagged("Adobe", 5)) return false;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      // Baseline, extended and progressive Huffman frames only: no lossless, hierarchical or
      // arithmetic coding.
      if (marker != 0xC0 && marker != 0xC1 && marker != 0xC2) return false;
      if (bodySize < 6) return false;
      const int height = (body[1] << 8) | body[2], width = (body[3] << 8) | body[4], components = body[5];
      if (width < 1 || height < 1 || width > d3dx::kMaxTextureSide || height > d3dx::kMaxTextureSide)
        return false;
      if (components != 1 && components != 3) return false;
      frame = true;
    }
    if (marker == 0xDA) return frame;  // the scan: every header has been seen
    at += 2 + length;
  }
  return false;
}

std::vector<std::uint8_t> Gzip(const std::vector<std::uint8_t>& bytes, const std::string& file) {
  z_stream z{};
  // 15 window bits, +16 for a gzip header and trailer.
  if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
    throw platform::Error("deflateInit2", "cannot start compressing", file);
  std::vector<std::uint8_t> out(deflateBound(&z, static_cast<uLong>(bytes.size())) + 32);
  z.next_in = const_cast<Bytef*>(bytes.data());
  z.avail_in = static_cast<uInt>(bytes.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (result != Z_STREAM_END) throw platform::Error("deflate", "cannot compress", file);
  return out;
}

}  // namespace app
