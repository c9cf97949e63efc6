// Writes one X file's data objects as text, binary (32- or 64-bit floats) or MSZIP-compressed
// text or binary, so tests can feed the loader the same model in every form.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace wgtest {

class XFileWriter {
 public:
  XFileWriter& Open(const std::string& type, const std::string& name = "") {
    items_.push_back({Item::Open, type, name, {}, {}});
    return *this;
  }
  XFileWriter& Close() {
    items_.push_back({Item::Close, {}, {}, {}, {}});
    return *this;
  }
  XFileWriter& Ints(std::vector<std::uint32_t> v) {
    items_.push_back({Item::Ints, {}, {}, std::move(v), {}});
    return *this;
  }
  // Text writes these with `precision` significant digits; binary stores them as float or double.
  XFileWriter& Floats(std::vector<double> v) {
    items_.push_back({Item::Floats, {}, {}, {}, std::move(v)});
    return *this;
  }
  XFileWriter& String(const std::string& s) {
    items_.push_back({Item::String, s, {}, {}, {}});
    return *this;
  }
  XFileWriter& Ref(const std::string& name) {
    items_.push_back({Item::Ref, name, {}, {}, {}});
    return *this;
  }

  // Text strings are written with each backslash doubled.
  std::string TextBody(int precision = 9) const {
    std::string s;
    for (const Item& it : items_) {
      switch (it.kind) {
        case Item::Open:
          s += it.a + (it.b.empty() ? "" : " " + it.b) + " {\n";
          break;
        case Item::Close:
          s += "}\n";
          break;
        case Item::Ints:
          for (auto v : it.ints) s += std::to_string(v) + ";";
          s += "\n";
          break;
        case Item::Floats:
          for (double v : it.floats) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.*g;", precision, v);
            s += buf;
          }
          s += "\n";
          break;
        case Item::String: {
          s += "\"";
          for (char c : it.a) s += c == '\\' ? std::string("\\\\") : std::string(1, c);
          s += "\";\n";
          break;
        }
        case Item::Ref:
          s += "{" + it.a + "}\n";
          break;
      }
    }
    return s;
  }

  std::vector<std::uint8_t> BinaryBody(bool doubles) const {
    std::vector<std::uint8_t> b;
    for (const Item& it : items_) {
      switch (it.kind) {
        case Item::Open:
          Name(b, it.a);
          if (!it.b.empty()) Name(b, it.b);
          W16(b, 0x0A);
          break;
        case Item::Close:
          W16(b, 0x0B);
          break;
        case Item::Ints:
          W16(b, 6);
          W32(b, static_cast<std::uint32_t>(it.ints.size()));
          for (auto v : it.ints) W32(b, v);
          break;
        case Item::Floats:
          W16(b, 7);
          W32(b, static_cast<std::uint32_t>(it.floats.size()));
          for (double v : it.floats) {
            if (doubles) {
              std::uint64_t bits;
              std::memcpy(&bits, &v, 8);
              W32(b, static_cast<std::uint32_t>(bits));
              W32(b, static_cast<std::uint32_t>(bits >> 32));
            } else {
              const float f = static_cast<float>(v);
              std::uint32_t bits;
              std::memcpy(&bits, &f, 4);
              W32(b, bits);
            }
          }
          break;
        case Item::String:
          W16(b, 2);
          W32(b, static_cast<std::uint32_t>(it.a.size()));
          b.insert(b.end(), it.a.begin(), it.a.end());
          W16(b, 0x14);
          break;
        case Item::Ref:
          W16(b, 0x0A);
          Name(b, it.a);
          W16(b, 0x0B);
          break;
      }
    }
    return b;
  }

  std::vector<std::uint8_t> Text(int precision = 9) const {
    return WithHeader("txt ", false, Bytes(TextBody(precision)));
  }
  std::vector<std::uint8_t> Binary(bool doubles = false) const {
    return WithHeader("bin ", doubles, BinaryBody(doubles));
  }
  // The compressed forms split the body into blocks of `block` bytes, each deflated with the
  // previous block as its dictionary.
  std::vector<std::uint8_t> CompressedText(std::size_t block = 64) const {
    return WithHeader("tzip", false, Mszip(Bytes(TextBody()), block));
  }
  std::vector<std::uint8_t> CompressedBinary(bool doubles = false, std::size_t block = 64) const {
    return WithHeader("bzip", doubles, Mszip(BinaryBody(doubles), block));
  }

  static std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

  static std::vector<std::uint8_t> WithHeader(const char* format, bool doubles,
                                              const std::vector<std::uint8_t>& body) {
    std::string h = std::string("xof 0302") + format + (doubles ? "0064" : "0032");
    std::vector<std::uint8_t> out(h.begin(), h.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
  }

  // Total size (header included), then {uncompressed size, compressed size, "CK", raw deflate}.
  static std::vector<std::uint8_t> Mszip(const std::vector<std::uint8_t>& body, std::size_t block) {
    std::vector<std::uint8_t> out;
    W32(out, static_cast<std::uint32_t>(body.size() + 16));
    for (std::size_t pos = 0; pos < body.size(); pos += block) {
      const std::size_t n = std::min(block, body.size() - pos);
      z_stream zs{};
      if (deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2");
      if (pos > 0) {
        const std::size_t prev = std::min(block, pos);
        deflateSetDictionary(&zs, body.data() + pos - prev, static_cast<uInt>(prev));
      }
      std::vector<std::uint8_t> buf(deflateBound(&zs, static_cast<uLong>(n)) + 16);
      zs.next_in = const_cast<Bytef*>(body.data() + pos);
      zs.avail_in = static_cast<uInt>(n);
      zs.next_out = buf.data();
      zs.avail_out = static_cast<uInt>(buf.size());
      if (deflate(&zs, Z_FINISH) != Z_STREAM_END) throw std::runtime_error("deflate");
      buf.resize(zs.total_out);
      deflateEnd(&zs);
      W16(out, static_cast<std::uint16_t>(n));
      W16(out, static_cast<std::uint16_t>(buf.size() + 2));
      out.push_back('C');
      out.push_back('K');
      out.insert(out.end(), buf.begin(), buf.end());
    }
    return out;
  }

  static void W16(std::vector<std::uint8_t>& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  static void W32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }

 private:
  struct Item {
    enum Kind { Open, Close, Ints, Floats, String, Ref } kind;
    std::string a, b;
    std::vector<std::uint32_t> ints;
    std::vector<double> floats;
  };
  static void Name(std::vector<std::uint8_t>& b, const std::string& n) {
    W16(b, 1);
    W32(b, static_cast<std::uint32_t>(n.size()));
    b.insert(b.end(), n.begin(), n.end());
  }
  std::vector<Item> items_;
};

}  // namespace wgtest
