// libpng's reader for callers outside the texture loader that decide themselves what an image may
// hold (the terrain's height maps): the header first, then every row as stored grey samples.
#pragma once

#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>

namespace d3dx {

struct PngReadState;  // libpng's structures, known only to the reader's own source

class PngReader {
 public:
  // Whether the first `n` bytes of a file begin with PNG's signature.
  static bool HasSignature(const unsigned char* bytes, std::size_t n);

  // A reader of `in` from its current position on; Started() tells whether libpng could start.
  explicit PngReader(std::istream& in);
  ~PngReader();
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;

  bool Started() const;
  // Reads the header, accepting any size up to 2^31 - 1 on a side; false with Error() set when the
  // data is no readable PNG.
  bool ReadHeader();
  std::uint32_t Width() const { return width_; }
  std::uint32_t Height() const { return height_; }
  int BitDepth() const { return depth_; }
  bool IsPalette() const;
  bool HasColour() const;  // palette, RGB or RGBA
  bool HasAlpha() const;

  // After ReadHeader, on a grey image: every row into `rows` (Height() of them, each Width() samples
  // of one byte, or of two big-endian bytes at a depth of 16). Depths below 8 are widened to 8 bits,
  // alpha is dropped, interlaced passes are merged; the values are as stored, no gamma applied.
  // False with Error() set when the image data is broken or cut short.
  bool ReadGreyRows(std::uint8_t** rows);

  // libpng's message for the last failure.
  const char* Error() const;

 private:
  std::unique_ptr<PngReadState> state_;
  std::uint32_t width_ = 0, height_ = 0;
  int depth_ = 0, colour_ = 0;
};

}  // namespace d3dx
