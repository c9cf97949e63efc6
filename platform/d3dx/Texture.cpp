#include "platform/d3dx/Texture.h"

#include <png.h>
#include <stb_image_write.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/d3d/Error.h"

namespace d3dx {

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

constexpr const char* kCall = "D3DXCreateTextureFromFile";

bool IsJpeg(const std::uint8_t* data, std::size_t size) {
  return size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF;
}

// A TurboJPEG decompressor, released however the decode ends.
struct Jpeg {
  Jpeg() : handle(tjInitDecompress()) {
    if (!handle) throw platform::Error(kCall, std::string("tjInitDecompress: ") + tjGetErrorStr2(nullptr));
  }
  ~Jpeg() { tjDestroy(handle); }
  Jpeg(const Jpeg&) = delete;
  Jpeg& operator=(const Jpeg&) = delete;
  tjhandle handle;
};

// A libpng read of an image held in memory, released however the decode ends.
struct Png {
  Png(const std::uint8_t* data, std::size_t size) {
    image.version = PNG_IMAGE_VERSION;
    ok = png_image_begin_read_from_memory(&image, data, size) != 0;
  }
  ~Png() { png_image_free(&image); }
  Png(const Png&) = delete;
  Png& operator=(const Png&) = delete;
  png_image image{};
  bool ok = false;
};

}  // namespace

void ReadImageSize(const std::uint8_t* data, std::size_t size, const std::string& file, int& width,
                   int& height) {
  if (size == 0) throw platform::Error(kCall, "empty file", file);
  if (size > 0x7FFFFFFF) throw platform::Error(kCall, "file too large", file);
  std::int64_t w = 0, h = 0;
  if (IsJpeg(data, size)) {
    Jpeg jpeg;
    int jw = 0, jh = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(jpeg.handle, data, static_cast<unsigned long>(size), &jw, &jh, &subsampling,
                            &colorspace) != 0)
      throw platform::Error(kCall, std::string("not a readable JPEG image: ") + tjGetErrorStr2(jpeg.handle),
                            file);
    w = jw;
    h = jh;
  } else if (size >= 8 && png_sig_cmp(data, 0, 8) == 0) {
    Png png(data, size);
    if (!png.ok)
      throw platform::Error(kCall, std::string("not a readable PNG image: ") + png.image.message, file);
    w = png.image.width;
    h = png.image.height;
  } else {
    throw platform::Error(kCall, "not a JPEG or PNG image", file);
  }
  if (w <= 0 || h <= 0 || w > kMaxImageSide || h > kMaxImageSide)
    throw platform::Error(kCall,
                          "image of " + std::to_string(w) + "x" + std::to_string(h) + " pixels exceeds " +
                              std::to_string(kMaxImageSide) + " on a side",
                          file);
  width = static_cast<int>(w);
  height = static_cast<int>(h);
}

std::vector<d3d::Texture::Level> DecodeImageWithMips(const std::uint8_t* data, std::size_t size,
                                                     const std::string& file) {
  int w = 0, h = 0;
  ReadImageSize(data, size, file, w, h);
  std::vector<d3d::Texture::Level> levels(1);
  levels[0].width = w;
  levels[0].height = h;
  levels[0].rgba.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
  if (IsJpeg(data, size)) {
    Jpeg jpeg;
    // A damaged but readable file (cut short, say) decodes with warnings, as viewers show it.
    if (tjDecompress2(jpeg.handle, data, static_cast<unsigned long>(size), levels[0].rgba.data(), w, 0, h,
                      TJPF_RGBA, 0) != 0 &&
        tjGetErrorCode(jpeg.handle) != TJERR_WARNING)
      throw platform::Error(kCall, std::string("cannot decode the image: ") + tjGetErrorStr2(jpeg.handle),
                            file);
  } else {
    Png png(data, size);
    png.image.format = PNG_FORMAT_RGBA;
    if (!png.ok || PNG_IMAGE_SIZE(png.image) != levels[0].rgba.size() ||
        !png_image_finish_read(&png.image, nullptr, levels[0].rgba.data(), 0, nullptr))
      throw platform::Error(kCall, std::string("cannot decode the image: ") + png.image.message, file);
  }
  while (levels.back().width > 1 || levels.back().height > 1) levels.push_back(Downsample(levels.back()));
  return levels;
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
