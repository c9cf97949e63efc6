#include "platform/d3dx/Texture.h"

#include <png.h>
#include <stb_image_write.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/base/Error.h"
#include "platform/d3dx/ImageDecoders.h"
#include "platform/files/AtomicOutput.h"

namespace d3dx {

namespace {

constexpr const char* kCall = "D3DXCreateTextureFromFile";

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// TGA has no signature: a header whose every field holds a value the format defines is taken as one.
bool IsTga(const std::uint8_t* d, std::size_t size) {
  if (size < 18) return false;
  const unsigned mapType = d[1], type = d[2], mapEntryBits = d[7], depth = d[16], descriptor = d[17];
  const bool mapped = type == 1 || type == 9, trueColour = type == 2 || type == 10,
             grey = type == 3 || type == 11;
  if (!mapped && !trueColour && !grey) return false;
  if (mapType > 1 || (mapped && mapType != 1)) return false;
  if (mapType == 1 && mapEntryBits != 15 && mapEntryBits != 16 && mapEntryBits != 24 && mapEntryBits != 32)
    return false;
  if (mapped && depth != 8 && depth != 16) return false;
  if (trueColour && depth != 15 && depth != 16 && depth != 24 && depth != 32) return false;
  if (grey && depth != 8 && depth != 16) return false;
  return Le16(d + 12) > 0 && Le16(d + 14) > 0 && (descriptor & 0xC0) == 0;
}

std::int64_t Le32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
      (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
}

// The size a BMP, TGA or DDS header gives, read here so that an image too large for the library is
// refused before the library sees it.
void LibraryFormatSize(ImageFormat f, const std::uint8_t* d, std::size_t size, int& width, int& height) {
  std::int64_t w = 0, h = 0;
  if (f == ImageFormat::Bmp) {
    if (size < 26) throw image::DecodeError{"the header is cut short", false};
    if (Le32(d + 14) == 12) {  // OS/2's header: 16-bit sizes
      w = Le16(d + 18);
      h = Le16(d + 20);
    } else {
      w = Le32(d + 18);
      h = Le32(d + 22);
      if (h < 0) h = -h;  // rows stored top first
    }
  } else if (f == ImageFormat::Tga) {
    w = Le16(d + 12);
    h = Le16(d + 14);
  } else {
    if (size < 20) throw image::DecodeError{"the header is cut short", false};
    h = Le32(d + 12);
    w = Le32(d + 16);
  }
  const auto clamp = [](std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, -1, 0x7FFFFFFF));
  };
  width = clamp(w);
  height = clamp(h);
}

bool DecodedWhole(ImageFormat f) {
  return f == ImageFormat::Bmp || f == ImageFormat::Tga || f == ImageFormat::Dds;
}

struct Header {
  ImageFormat format;
  int width, height;
};

Header ReadHeader(const std::uint8_t* data, std::size_t size, const std::string& file) {
  if (size == 0) throw platform::Error(kCall, "empty file", file);
  if (size > 0x7FFFFFFF) throw platform::Error(kCall, "file too large", file);
  Header h{DetectImageFormat(data, size, file), 0, 0};
  try {
    if (h.format == ImageFormat::Jpeg)
      image::JpegSize(data, size, h.width, h.height);
    else if (h.format == ImageFormat::Png)
      image::PngSize(data, size, h.width, h.height);
    else
      LibraryFormatSize(h.format, data, size, h.width, h.height);
  } catch (const image::DecodeError& e) {
    throw platform::Error(
        kCall, std::string("not a readable ") + ImageFormatName(h.format) + " image: " + e.cause, file);
  }
  const auto w = static_cast<std::int64_t>(h.width), ht = static_cast<std::int64_t>(h.height);
  if (w <= 0 || ht <= 0)
    throw platform::Error(
        kCall, "image header with a size of " + std::to_string(w) + "x" + std::to_string(ht), file);
  if (w > kMaxImageSide || ht > kMaxImageSide)
    throw platform::Error(kCall,
                          "image of " + std::to_string(w) + "x" + std::to_string(ht) + " pixels exceeds " +
                              std::to_string(kMaxImageSide) + " on a side",
                          file);
  if (DecodedWhole(h.format) && w * ht > kMaxLibraryPixels)
    throw platform::Error(kCall,
                          std::string(ImageFormatName(h.format)) + " image of " + std::to_string(w) + "x" +
                              std::to_string(ht) + " pixels exceeds " + std::to_string(kMaxLibraryPixels) +
                              " pixels, the most a BMP, TGA or DDS image may have",
                          file);
  return h;
}

}  // namespace

const char* ImageFormatName(ImageFormat format) {
  switch (format) {
    case ImageFormat::Jpeg:
      return "JPEG";
    case ImageFormat::Png:
      return "PNG";
    case ImageFormat::Bmp:
      return "BMP";
    case ImageFormat::Tga:
      return "TGA";
    case ImageFormat::Dds:
      return "DDS";
  }
  return "?";
}

ImageFormat DetectImageFormat(const std::uint8_t* data, std::size_t size, const std::string& file) {
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) return ImageFormat::Jpeg;
  if (size >= 8 && png_sig_cmp(data, 0, 8) == 0) return ImageFormat::Png;
  if (size >= 2 && data[0] == 'B' && data[1] == 'M') return ImageFormat::Bmp;
  if (size >= 4 && std::memcmp(data, "DDS ", 4) == 0) return ImageFormat::Dds;
  if (IsTga(data, size)) return ImageFormat::Tga;
  throw platform::Error(kCall, "not an image in a format textures are read from (JPEG, PNG, BMP, TGA or DDS)",
                        file);
}

void ReadImageSize(const std::uint8_t* data, std::size_t size, const std::string& file, int& width,
                   int& height) {
  const Header h = ReadHeader(data, size, file);
  width = h.width;
  height = h.height;
}

DecodedImage DecodeImage(const std::uint8_t* data, std::size_t size, const std::string& file) {
  const Header h = ReadHeader(data, size, file);
  const int factor = image::ReductionFactor(h.width, h.height, kMaxTextureSide);
  DecodedImage out{h.format, h.width, h.height, {}};
  try {
    if (h.format == ImageFormat::Jpeg)
      out.level = image::JpegDecode(data, size, factor);
    else if (h.format == ImageFormat::Png)
      out.level = image::PngDecode(data, size, factor);
    else
      out.level = image::MagickDecode(ImageFormatName(h.format), data, size, factor);
  } catch (const image::DecodeError& e) {
    throw platform::Error(
        kCall,
        (e.header ? "cannot decode the image: "
                  : std::string("not a readable ") + ImageFormatName(h.format) + " image: ") +
            e.cause,
        file);
  }
  return out;
}

std::vector<d3d::Texture::Level> DecodeImageWithMips(const std::uint8_t* data, std::size_t size,
                                                     const std::string& file) {
  std::vector<d3d::Texture::Level> levels;
  levels.push_back(DecodeImage(data, size, file).level);
  CompleteMipChain(levels);
  return levels;
}

std::vector<std::uint8_t> EncodePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width,
                                    int height) {
  std::vector<std::uint8_t> png;
  const auto append = [](void* to, void* data, int size) {
    auto& out = *static_cast<std::vector<std::uint8_t>*>(to);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out.insert(out.end(), bytes, bytes + size);
  };
  if (!stbi_write_png_to_func(append, &png, width, height, 4, rgba.data(), width * 4))
    throw platform::Error("WritePng", "cannot write the image", path);
  return png;
}

void WritePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height) {
  const std::vector<std::uint8_t> png = EncodePng(path, rgba, width, height);
  platform::WriteFileAtomically(path, png.data(), png.size());
}

}  // namespace d3dx
