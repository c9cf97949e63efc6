// The decoders behind the texture loader, one per library: JPEG through libjpeg-turbo, PNG through
// libpng, BMP, TGA and DDS through ImageMagick. Each reads the header alone or the whole image, at
// the size the loader asks for. Internal to d3dx/.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"

namespace d3dx::image {

// An image's pixels as they are decoded, gathered at 1/factor of its size: each texel is the mean of
// the factor x factor block of pixels it covers (fewer at the right and bottom edges, where the
// size is rounded up, as the JPEG decoder's scaling rounds it). Rows that arrive in order need only
// one band of sums, and memory grows with the rows the file really holds; rows in any order (an
// interlaced image's passes) are summed over the whole reduced image.
class Reducer {
 public:
  // `factor` is a power of two from 1 to 16.
  Reducer(int width, int height, int factor, bool rowsInOrder);
  int Width() const { return out_.width; }
  int Height() const { return out_.height; }
  // `n` RGBA8 pixels of row y, at columns x0, x0 + step, ...
  void Add(int y, const std::uint8_t* rgba, int x0, int step, int n);
  // The texels; rows the image never delivered are zero.
  d3d::Texture::Level Finish();

 private:
  void flushBand();

  int width_, height_, shift_;
  bool inOrder_;
  int band_ = 0;  // in order: the texel row the band sums
  d3d::Texture::Level out_;
  std::vector<std::uint16_t> sums_;  // per texel and channel: of the band, or of the whole image
};

// The smallest power of two that brings both sides within `maxSide` when they are divided by it
// and rounded up.
int ReductionFactor(int width, int height, int maxSide);

// The libraries' own messages become the cause of a platform::Error the loader throws; these throw
// DecodeError with that cause, and `header` tells whether the image's header was already read.
struct DecodeError {
  std::string cause;
  bool header;
};

// Width and height from the header; nothing is decoded.
void JpegSize(const std::uint8_t* data, std::size_t size, int& width, int& height);
void PngSize(const std::uint8_t* data, std::size_t size, int& width, int& height);

// The whole image as RGBA8, reduced by `factor` (a power of two), texels as stored in the file.
d3d::Texture::Level JpegDecode(const std::uint8_t* data, std::size_t size, int factor);
d3d::Texture::Level PngDecode(const std::uint8_t* data, std::size_t size, int factor);
// `magick` is "BMP", "TGA" or "DDS": the library reads the data as that format and no other.
d3d::Texture::Level MagickDecode(const char* magick, const std::uint8_t* data, std::size_t size, int factor);

}  // namespace d3dx::image
