// BMP, TGA and DDS through ImageMagick's MagickCore: it reads every bit depth of BMP (palettes,
// 16-bit bit fields, RLE, 32-bit with alpha), every TGA variant and DDS (uncompressed, DXT1, DXT3,
// DXT5), and it is fuzzed continuously upstream. Each call names the one format the data is read
// as, so no other of the library's many readers (nor any delegate program) is ever reached, and
// the library's resource limits bound what a file may make it allocate.
#include <magick/MagickCore.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "platform/d3dx/ImageDecoders.h"
#include "platform/d3dx/Texture.h"

namespace d3dx::image {

namespace {

// The library's process-wide state, started once with limits that keep its pixel cache in memory
// and within the texture loader's budget; it lives until the process ends.
void StartMagick() {
  static std::once_flag once;
  std::call_once(once, [] {
    MagickCoreGenesis(nullptr, MagickFalse);
    SetMagickResourceLimit(WidthResource, kMaxImageSide);
    SetMagickResourceLimit(HeightResource, kMaxImageSide);
    SetMagickResourceLimit(AreaResource, static_cast<MagickSizeType>(kMaxLibraryPixels) * 2);
    SetMagickResourceLimit(MemoryResource, 256u << 20);
    SetMagickResourceLimit(MapResource, 0);
    SetMagickResourceLimit(DiskResource, 0);
    SetMagickResourceLimit(ThreadResource, 1);
    SetMagickResourceLimit(ListLengthResource, 64);
  });
}

struct Exception {
  Exception() : ex(AcquireExceptionInfo()) {}
  ~Exception() { DestroyExceptionInfo(ex); }
  Exception(const Exception&) = delete;
  Exception& operator=(const Exception&) = delete;
  // The library's reason and description, as one cause.
  std::string Cause() const {
    std::string s = ex->reason ? ex->reason : "the image could not be read";
    if (ex->description && *ex->description) s += std::string(" (") + ex->description + ")";
    return s;
  }
  ExceptionInfo* ex;
};

struct ImageList {
  ~ImageList() {
    if (image) DestroyImageList(image);
  }
  Image* image = nullptr;
};

struct Info {
  explicit Info(const char* magick) : info(AcquireImageInfo()) {
    std::snprintf(info->magick, sizeof info->magick, "%s", magick);
    info->affirm = MagickTrue;
  }
  ~Info() { DestroyImageInfo(info); }
  Info(const Info&) = delete;
  Info& operator=(const Info&) = delete;
  ImageInfo* info;
};

// Reads the data as `magick`; an error (not a mere warning) refuses the image.
Image* Read(const char* magick, const std::uint8_t* data, std::size_t size, ImageList& list) {
  StartMagick();
  Info info(magick);
  Exception e;
  list.image = BlobToImage(info.info, data, size, e.ex);
  if (!list.image || e.ex->severity >= ErrorException) throw DecodeError{e.Cause(), true};
  return list.image;
}

}  // namespace

d3d::Texture::Level MagickDecode(const char* magick, const std::uint8_t* data, std::size_t size, int factor) {
  ImageList list;
  const Image* image = Read(magick, data, size, list);
  const int width = static_cast<int>(image->columns), height = static_cast<int>(image->rows);
  Reducer reducer(width, height, factor, true);
  // An image without alpha is opaque, whatever its unused bytes hold.
  const bool alpha = image->matte != MagickFalse;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 4, 255);
  Exception e;
  for (int y = 0; y < height; ++y) {
    if (!ExportImagePixels(image, 0, y, static_cast<std::size_t>(width), 1, alpha ? "RGBA" : "RGB", CharPixel,
                           row.data(), e.ex))
      throw DecodeError{e.Cause(), true};
    if (!alpha)
      for (int x = width - 1; x >= 0; --x) {
        std::memmove(&row[static_cast<std::size_t>(x) * 4], &row[static_cast<std::size_t>(x) * 3], 3);
        row[static_cast<std::size_t>(x) * 4 + 3] = 255;
      }
    reducer.Add(y, row.data(), 0, 1, width);
  }
  return reducer.Finish();
}

}  // namespace d3dx::image
