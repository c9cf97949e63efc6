#include "components/HeightMap.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>

#include "platform/base/Error.h"
#include "platform/d3dx/PngReader.h"

namespace components {

namespace {

constexpr const char* kCall = "InitLand";
constexpr std::streamoff kHeaderSize = 18;
constexpr std::int32_t kMaxSide = 32767;
constexpr const char* kFormats = "height maps are 8-bit greyscale TGA or 8- or 16-bit greyscale PNG";
constexpr const char* kToGrey =
    ": a height map is greyscale; convert it first, for instance with ImageMagick: "
    "convert IN -colorspace Gray -depth 16 OUT.png";

[[noreturn]] void Fail(const std::string& cause, const std::string& file) {
  throw platform::Error(kCall, cause, file);
}

std::string SizeText(std::int64_t w, std::int64_t h) {
  return std::to_string(w) + " x " + std::to_string(h);
}

std::int32_t ReadInt16(const unsigned char* p) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(p[0] | (p[1] << 8)));
}

void CheckSize(std::int64_t w, std::int64_t h, std::int64_t maxSamples, const std::string& file) {
  if (w <= 0 || h <= 0) Fail("grid size " + SizeText(w, h) + ": a size of 0 or less", file);
  if (w > kMaxSide || h > kMaxSide)
    Fail("grid size " + SizeText(w, h) + ": more than " + std::to_string(kMaxSide) + " samples on a side",
         file);
  if (w * h > maxSamples) Fail("a grid of " + SizeText(w, h) + " vertices is too large to allocate", file);
}

// `count` elements for a w x h map; running out of memory is the map's error, not a crash.
template <typename T>
std::vector<T> Allocate(std::int64_t count, std::int64_t w, std::int64_t h, const std::string& file) {
  try {
    return std::vector<T>(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    Fail("a grid of " + SizeText(w, h) + " vertices is too large to allocate", file);
  }
}

// What a file that is neither a TGA nor a PNG holds, told by its first bytes.
std::string FormatOf(const unsigned char* b, std::size_t n) {
  const auto starts = [&](const char* magic, std::size_t at = 0) {
    const std::size_t len = std::strlen(magic);
    return n >= at + len && std::memcmp(b + at, magic, len) == 0;
  };
  if (n >= 3 && b[0] == 0xFF && b[1] == 0xD8 && b[2] == 0xFF) return "a JPEG image";
  if (starts("GIF87a") || starts("GIF89a")) return "a GIF image";
  if (starts("BM")) return "a BMP image";
  if (starts("II*") || (n >= 4 && b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == '*'))
    return "a TIFF image";
  if (starts("RIFF") && starts("WEBP", 8)) return "a WebP image";
  if (starts("DDS ")) return "a DDS texture";
  if (starts("8BPS")) return "a Photoshop document";
  if (n >= 4 && b[0] == 0x76 && b[1] == 0x2F && b[2] == 0x31 && b[3] == 0x01) return "an OpenEXR image";
  if (n >= 2 && b[0] == 'P' && b[1] >= '1' && b[1] <= '7') return "a PNM image";
  std::string bytes;
  for (std::size_t i = 0; i < n && i < 4; ++i) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", b[i]);
    bytes += (i ? " " : "") + std::string(hex);
  }
  return "neither a TGA nor a PNG image (it begins " + bytes + ")";
}

// The samples of an uncompressed 8-bit TGA from `offset` on. The length is checked before the
// header's sizes allocate anything.
void ReadRawSamples(std::ifstream& in, std::streamoff offset, std::streamoff length, HeightMap& m,
                    const std::string& file) {
  const std::int64_t count = std::int64_t{m.width} * m.height;
  if (length - offset < count)
    Fail("the file is too short: " + std::to_string(length) + " bytes, but " + SizeText(m.width, m.height) +
             " samples need " + std::to_string(offset + count),
         file);
  std::vector<std::uint8_t> bytes = Allocate<std::uint8_t>(count, m.width, m.height, file);
  m.samples = Allocate<std::uint16_t>(count, m.width, m.height, file);
  in.seekg(offset);
  if (!in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(count)))
    Fail("cannot read the samples", file);
  for (std::size_t i = 0; i < bytes.size(); ++i) m.samples[i] = static_cast<std::uint16_t>(bytes[i] << 8);
}

// Run-length packets: a header byte whose top bit marks a run of one repeated sample and whose low
// seven bits count 1 to 128 samples. Packets may run on from one row into the next, as many
// writers let them.
void ReadRleSamples(std::ifstream& in, std::streamoff offset, std::streamoff length, HeightMap& m,
                    const std::string& file) {
  const std::int64_t count = std::int64_t{m.width} * m.height;
  // At most 128 samples from every two bytes, and never more than two bytes a sample.
  const std::int64_t least = (count + 127) / 128 * 2;
  if (length - offset < least)
    Fail("the file is too short: " + std::to_string(length) + " bytes cannot hold " +
             SizeText(m.width, m.height) + " run-length compressed samples",
         file);
  const std::int64_t most = std::min<std::int64_t>(length - offset, 2 * count);
  std::vector<std::uint8_t> packed = Allocate<std::uint8_t>(most, m.width, m.height, file);
  m.samples = Allocate<std::uint16_t>(count, m.width, m.height, file);
  in.seekg(offset);
  if (!in.read(reinterpret_cast<char*>(packed.data()), static_cast<std::streamsize>(most)))
    Fail("cannot read the samples", file);
  std::size_t at = 0, n = 0;
  const auto need = [&](std::size_t bytes) {
    if (packed.size() - at < bytes)
      Fail("the file ends inside its run-length compressed samples, after " + std::to_string(n) + " of " +
               std::to_string(count),
           file);
  };
  while (n < m.samples.size()) {
    need(1);
    const std::uint8_t head = packed[at++];
    const std::size_t run = std::min<std::size_t>((head & 0x7F) + 1u, m.samples.size() - n);
    if (head & 0x80) {
      need(1);
      const auto s = static_cast<std::uint16_t>(packed[at++] << 8);
      for (std::size_t k = 0; k < run; ++k) m.samples[n++] = s;
    } else {
      need((head & 0x7F) + 1u);
      for (std::size_t k = 0; k < run; ++k) m.samples[n++] = static_cast<std::uint16_t>(packed[at + k] << 8);
      at += (head & 0x7F) + 1u;
    }
  }
}

HeightMap ReadTga(std::ifstream& in, const unsigned char* h, std::streamoff length, std::int64_t maxSamples,
                  const std::string& file) {
  const unsigned idLength = h[0], mapType = h[1], type = h[2], depth = h[16];
  const unsigned mapLength = static_cast<unsigned>(h[5] | (h[6] << 8)), mapBits = h[7];
  switch (type) {
    case 1:
    case 9:
      Fail("a colour-mapped TGA" + std::string(kToGrey), file);
    case 2:
    case 10:
      Fail("a true-colour TGA of " + std::to_string(depth) + " bits per pixel" + kToGrey, file);
    case 32:
    case 33:
      Fail("a Huffman-compressed TGA, which the terrain does not read: " + std::string(kFormats), file);
    default:
      break;
  }
  HeightMap m;
  m.width = ReadInt16(h + 12);
  m.height = ReadInt16(h + 14);
  // Image type 0 promises no image data, so a file that says so is laid out as the terrain's own
  // format: the size at 12 and 14, the samples from 18, no other header byte read.
  if (type == 0) {
    m.format = "height map with an 18-byte header";
    CheckSize(m.width, m.height, maxSamples, file);
    ReadRawSamples(in, kHeaderSize, length, m, file);
    return m;
  }
  if (depth != 8)
    Fail("a greyscale TGA of " + std::to_string(depth) + " bits per pixel" +
             (depth == 16 ? " (grey with alpha)" : "") +
             ": the terrain reads 8 bits per pixel; save it as 8-bit grey without alpha or as a 16-bit "
             "greyscale PNG",
         file);
  const std::streamoff offset =
      kHeaderSize + idLength + (mapType == 1 ? std::streamoff{mapLength} * ((mapBits + 7) / 8) : 0);
  CheckSize(m.width, m.height, maxSamples, file);
  if (type == 3) {
    m.format = "8-bit greyscale TGA";
    ReadRawSamples(in, offset, length, m, file);
  } else {
    m.format = "run-length compressed 8-bit greyscale TGA";
    ReadRleSamples(in, offset, length, m, file);
  }
  return m;
}

HeightMap ReadPng(std::ifstream& in, std::streamoff length, std::int64_t maxSamples,
                  const std::string& file) {
  in.seekg(0);
  d3dx::PngReader r(in);
  if (!r.Started()) Fail("cannot start the PNG decoder", file);
  if (!r.ReadHeader()) Fail(std::string("not a readable PNG image: ") + r.Error(), file);
  if (r.IsPalette()) Fail("a palette PNG" + std::string(kToGrey), file);
  if (r.HasColour()) Fail(std::string(r.HasAlpha() ? "an RGBA" : "an RGB") + " colour PNG" + kToGrey, file);
  const std::uint32_t w = r.Width(), h = r.Height();
  const int depth = r.BitDepth();
  HeightMap m;
  m.format = std::to_string(depth) + "-bit greyscale PNG";
  CheckSize(w, h, maxSamples, file);
  m.width = static_cast<std::int32_t>(w);
  m.height = static_cast<std::int32_t>(h);
  // Deflate packs at most 1032 bytes into one, so a file too short for the image data its header
  // claims is refused before that much is allocated.
  const std::int64_t channels = r.HasAlpha() ? 2 : 1;
  const std::int64_t rowBytes = 1 + (std::int64_t{m.width} * channels * depth + 7) / 8;
  if (rowBytes * m.height > 1100 * static_cast<std::int64_t>(length))
    Fail("the file is too short: " + std::to_string(length) + " bytes cannot hold " +
             SizeText(m.width, m.height) + " compressed samples",
         file);

  const std::size_t stride =
      depth == 16 ? 2 * static_cast<std::size_t>(m.width) : static_cast<std::size_t>(m.width);
  std::vector<std::uint8_t> pixels =
      Allocate<std::uint8_t>(static_cast<std::int64_t>(stride) * m.height, m.width, m.height, file);
  std::vector<std::uint8_t*> rows = Allocate<std::uint8_t*>(m.height, m.width, m.height, file);
  // The picture's bottom row is grid row 0.
  for (std::size_t y = 0; y < rows.size(); ++y) rows[rows.size() - 1 - y] = pixels.data() + y * stride;
  if (!r.ReadGreyRows(rows.data())) Fail(std::string("cannot decode the PNG image: ") + r.Error(), file);

  m.samples = Allocate<std::uint16_t>(std::int64_t{m.width} * m.height, m.width, m.height, file);
  if (depth == 16) {
    for (std::size_t i = 0; i < m.samples.size(); ++i)
      m.samples[i] = static_cast<std::uint16_t>(pixels[2 * i] << 8 | pixels[2 * i + 1]);
  } else {
    for (std::size_t i = 0; i < m.samples.size(); ++i)
      m.samples[i] = static_cast<std::uint16_t>(pixels[i] << 8);
  }
  return m;
}

}  // namespace

HeightMap ReadHeightMap(const std::string& file, std::int64_t maxSamples) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) Fail("is a folder, not a height map", file);
  std::ifstream in(file, std::ios::binary);
  if (!in) Fail(std::strerror(errno), file);
  unsigned char header[kHeaderSize];
  in.read(reinterpret_cast<char*>(header), kHeaderSize);
  const std::streamsize got = in.gcount();
  if (in.bad()) Fail("cannot read the file", file);
  if (got == 0) Fail("the file is empty", file);
  in.clear();
  in.seekg(0, std::ios::end);
  const std::streamoff length = in.tellg();
  if (length < 0) Fail("cannot read the file", file);

  const auto n = static_cast<std::size_t>(got);
  if (d3dx::PngReader::HasSignature(header, n)) return ReadPng(in, length, maxSamples, file);
  const bool tga =
      n >= 3 && header[1] <= 1 &&
      (header[2] <= 3 || (header[2] >= 9 && header[2] <= 11) || header[2] == 32 || header[2] == 33);
  if (!tga) Fail(FormatOf(header, n) + ", which the terrain does not read: " + kFormats, file);
  if (got < kHeaderSize)
    Fail("the file ends inside its 18-byte header (" + std::to_string(got) + " bytes)", file);
  return ReadTga(in, header, length, maxSamples, file);
}

}  // namespace components
