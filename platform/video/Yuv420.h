// RGBA8 images to the planar YUV 4:2:0 the video encoders take (BT.601, studio range).
#pragma once

#include <cstdint>

namespace video {

// Converts a width x height RGBA image (rows of width * 4 bytes, top row first) into the Y plane at
// full size and the U and V planes at half size, rounded up. Each chroma sample averages the two
// pixels of its block's lower row, which is what FFmpeg's point-sampled conversion gives (to within
// one level) and what decoders' upsampling reproduces best; a block cut short by an odd width or
// height takes the pixels it has.
void RgbaToYuv420(const std::uint8_t* rgba, int width, int height, std::uint8_t* const planes[3],
                  const int strides[3]);

}  // namespace video
