// Height-map files written byte by byte for the loader's tests: TGA headers and run-length packets,
// and PNG images of any colour type and bit depth through libpng.
#pragma once

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace wgtest {

inline std::string WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
}

struct TgaHeader {
  std::uint8_t idLength = 0, mapType = 0, type = 3;
  std::uint16_t mapLength = 0;
  std::uint8_t mapBits = 0;
  std::int32_t width = 0, height = 0;
  std::uint8_t depth = 8, descriptor = 0;

  std::vector<std::uint8_t> Bytes() const {
    std::vector<std::uint8_t> b(18, 0);
    b[0] = idLength;
    b[1] = mapType;
    b[2] = type;
    b[5] = static_cast<std::uint8_t>(mapLength & 0xFF);
    b[6] = static_cast<std::uint8_t>(mapLength >> 8);
    b[7] = mapBits;
    b[12] = static_cast<std::uint8_t>(width & 0xFF);
    b[13] = static_cast<std::uint8_t>((width >> 8) & 0xFF);
    b[14] = static_cast<std::uint8_t>(height & 0xFF);
    b[15] = static_cast<std::uint8_t>((height >> 8) & 0xFF);
    b[16] = depth;
    b[17] = descriptor;
    return b;
  }
};

// Run-length packets as TGA writers make them: runs of three or more equal samples become run
// packets, the rest raw packets, neither longer than 128 and free to cross rows.
inline std::vector<std::uint8_t> RlePackets(const std::vector<std::uint8_t>& s) {
  std::vector<std::uint8_t> out;
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t run = 1;
    while (i + run < s.size() && run < 128 && s[i + run] == s[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<std::uint8_t>(0x80 | (run - 1)));
      out.push_back(s[i]);
      i += run;
      continue;
    }
    std::size_t raw = 0;
    while (i + raw < s.size() && raw < 128 &&
           !(i + raw + 2 < s.size() && s[i + raw] == s[i + raw + 1] && s[i + raw] == s[i + raw + 2]))
      ++raw;
    out.push_back(static_cast<std::uint8_t>(raw - 1));
    out.insert(out.end(), s.begin() + static_cast<std::ptrdiff_t>(i),
               s.begin() + static_cast<std::ptrdiff_t>(i + raw));
    i += raw;
  }
  return out;
}

// Recomputes the CRC of the PNG chunk that starts at `at` (its length field), after an edit.
inline void FixChunkCrc(std::vector<std::uint8_t>& png, std::size_t at) {
  const std::size_t length =
      static_cast<std::size_t>(png[at] << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3]);
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = at + 4; i < at + 8 + length; ++i) {
    crc ^= png[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  crc ^= 0xFFFFFFFFu;
  for (int k = 0; k < 4; ++k)
    png[at + 8 + length + static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(crc >> (24 - 8 * k));
}

// A PNG of `width` x `height` pixels whose channel samples (grey, grey + alpha, RGB, RGBA or palette
// indices, as `colourType` says) are given top row first, each at most 2^depth - 1.
inline std::string WritePng(const std::string& path, int width, int height, int depth, int colourType,
                            const std::vector<std::uint16_t>& samples, bool interlaced = false) {
  const int channels = colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                       : colourType == PNG_COLOR_TYPE_RGB      ? 3
                       : colourType == PNG_COLOR_TYPE_RGBA     ? 4
                                                               : 1;
  const std::size_t perRow = static_cast<std::size_t>(width) * channels;
  const std::size_t rowBytes = (perRow * depth + 7) / 8;
  std::vector<std::uint8_t> pixels(rowBytes * height, 0);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = pixels.data() + rowBytes * y;
    for (std::size_t k = 0; k < perRow; ++k) {
      const std::uint16_t v = samples.at(y * perRow + k);
      if (depth == 16) {
        row[2 * k] = static_cast<std::uint8_t>(v >> 8);
        row[2 * k + 1] = static_cast<std::uint8_t>(v & 0xFF);
      } else {
        const std::size_t bit = k * depth;
        row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - depth - bit % 8));
      }
    }
  }
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    throw std::runtime_error("cannot write " + path);
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), depth,
               colourType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[4] = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    png_set_PLTE(png, info, palette, 4);
  }
  png_write_info(png, info);
  std::vector<png_bytep> rows(height);
  for (int y = 0; y < height; ++y) rows[y] = pixels.data() + rowBytes * y;
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
  return path;
}

}  // namespace wgtest
