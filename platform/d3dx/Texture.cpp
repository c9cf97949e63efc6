#include "platform/d3dx/Texture.h"

#include <stb_image.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/d3d/Error.h"

namespace d3dx {

std::vector<std::uint8_t> ReadFile(const std::string& call, const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw platform::Error(call, std::strerror(errno), path);
  // A folder opens like a file here and reports an end position near 2^63.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw platform::Error(call, "not a regular file", path);
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0) throw platform::Error(call, "cannot read the file", path);
  in.seekg(0, std::ios::beg);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size))
    throw platform::Error(call, "cannot read the file", path);
  return bytes;
}

d3d::Texture::Level Downsample(const d3d::Texture::Level& src) {
  d3d::Texture::Level dst;
  dst.width = std::max(1, src.width / 2);
  dst.height = std::max(1, src.height / 2);
  dst.rgba.resize(static_cast<std::size_t>(dst.width) * dst.height * 4);
  for (int y = 0; y < dst.height; ++y) {
    const int y0 = std::min(2 * y, src.height - 1), y1 = std::min(2 * y + 1, src.height - 1);
    for (int x = 0; x < dst.width; ++x) {
      const int x0 = std::min(2 * x, src.width - 1), x1 = std::min(2 * x + 1, src.width - 1);
      for (int c = 0; c < 4; ++c) {
        auto at = [&](int xx, int yy) {
          return static_cast<unsigned>(src.rgba[(static_cast<std::size_t>(yy) * src.width + xx) * 4 + c]);
        };
        dst.rgba[(static_cast<std::size_t>(y) * dst.width + x) * 4 + c] =
            static_cast<std::uint8_t>((at(x0, y0) + at(x1, y0) + at(x0, y1) + at(x1, y1) + 2) / 4);
      }
    }
  }
  return dst;
}

namespace {

// Checks every Huffman table of a JPEG file: its sixteen code-length counts may name at most 256
// symbols. The decoder builds each table into arrays of 257 entries without that check, and writes
// past them for a table that names more. It finds its markers leniently (skipping stray bytes and
// reading a table by its counts rather than its segment's length), so every FF C4 pair in the file
// is checked as the decoder would read a table segment there.
void CheckJpegHuffmanTables(const std::uint8_t* data, std::size_t size, const std::string& file) {
  const auto byte = [&](std::size_t i) -> std::size_t { return i < size ? data[i] : 0; };
  for (std::size_t at = 0; at + 1 < size; ++at) {
    if (data[at] != 0xFF || data[at + 1] != 0xC4) continue;
    std::int64_t left = static_cast<std::int64_t>(byte(at + 2) << 8 | byte(at + 3)) - 2;
    for (std::size_t p = at + 4; left > 0 && p < size;) {
      std::size_t symbols = 0;
      for (std::size_t i = 1; i <= 16; ++i) symbols += byte(p + i);
      if (symbols > 256)
        throw platform::Error("D3DXCreateTextureFromFile",
                              "corrupt JPEG: a Huffman table names " + std::to_string(symbols) + " symbols", file);
      left -= static_cast<std::int64_t>(17 + symbols);
      p += 17 + symbols;
    }
  }
}

}  // namespace

void ReadImageSize(const std::uint8_t* data, std::size_t size, const std::string& file, int& width, int& height) {
  const char* call = "D3DXCreateTextureFromFile";
  if (size == 0) throw platform::Error(call, "empty file", file);
  if (size > 0x7FFFFFFF) throw platform::Error(call, "file too large", file);
  // The decoder would take TGA, BMP, PSD and more; textures are JPEG or PNG, and nothing else is
  // handed to it.
  static constexpr std::uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const bool jpeg = size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
  const bool png = size >= 8 && std::memcmp(data, kPng, 8) == 0;
  if (!jpeg && !png) throw platform::Error(call, "not a JPEG or PNG image", file);
  if (jpeg) CheckJpegHuffmanTables(data, size, file);
  int w = 0, h = 0, comp = 0;
  if (!stbi_info_from_memory(data, static_cast<int>(size), &w, &h, &comp))
    throw platform::Error(call, std::string("not a JPEG or PNG image: ") + stbi_failure_reason(), file);
  if (w <= 0 || h <= 0 || w > kMaxImageSide || h > kMaxImageSide)
    throw platform::Error(call,
                          "image of " + std::to_string(w) + "x" + std::to_string(h) + " pixels exceeds " +
                              std::to_string(kMaxImageSide) + " on a side",
                          file);
  width = w;
  height = h;
}

std::vector<d3d::Texture::Level> DecodeImageWithMips(const std::uint8_t* data, std::size_t size,
                                                     const std::string& file) {
  const char* call = "D3DXCreateTextureFromFile";
  int w = 0, h = 0, comp = 0;
  ReadImageSize(data, size, file, w, h);
  stbi_uc* pixels = stbi_load_from_memory(data, static_cast<int>(size), &w, &h, &comp, 4);
  if (!pixels) throw platform::Error(call, std::string("cannot decode the image: ") + stbi_failure_reason(), file);
  std::vector<d3d::Texture::Level> levels(1);
  levels[0].width = w;
  levels[0].height = h;
  levels[0].rgba.assign(pixels, pixels + static_cast<std::size_t>(w) * h * 4);
  stbi_image_free(pixels);
  while (levels.back().width > 1 || levels.back().height > 1) levels.push_back(Downsample(levels.back()));
  return levels;
}

std::shared_ptr<d3d::Texture> D3DXCreateTextureFromFile(d3d::Device& device, const std::string& path) {
  const auto bytes = ReadFile("D3DXCreateTextureFromFile", path);
  return device.CreateTexture(DecodeImageWithMips(bytes.data(), bytes.size(), path), path);
}

void WritePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height) {
  const std::string tmp = path + ".tmp";
  if (!stbi_write_png(tmp.c_str(), width, height, 4, rgba.data(), width * 4)) {
    std::remove(tmp.c_str());
    throw platform::Error("WritePng", "cannot write the image", path);
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    const std::string err = std::strerror(errno);
    std::remove(tmp.c_str());
    throw platform::Error("WritePng", err, path);
  }
}

}  // namespace d3dx
