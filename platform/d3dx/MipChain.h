// Mip levels made from a texture's own texels, the same way wherever a texture is read: by the
// desktop's decoders and by the web page's runtime from the texels the browser decoded.
#pragma once

#include <vector>

#include "platform/d3d/Device.h"

namespace d3dx {

// The next mip level of an RGBA8 image: each pixel the mean of the 2 x 2 (or, at an odd edge,
// smaller) block above it.
d3d::Texture::Level Downsample(const d3d::Texture::Level& src);

// Adds every smaller level after the last one `levels` holds, down to 1 x 1.
void CompleteMipChain(std::vector<d3d::Texture::Level>& levels);

}  // namespace d3dx
