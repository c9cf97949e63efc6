// The image decoder and the PNG writer, compiled here rather than taken from the shared library so
// that they can be held to what textures need: only the JPEG and PNG decoders are built, and no
// single allocation may exceed what the largest image allowed needs. A PNG of a few hundred bytes
// can otherwise make the decoder grow its inflate buffer to gigabytes.
#include <cstddef>
#include <cstdlib>

#include "platform/d3dx/Texture.h"

namespace {

// The inflated rows of the largest image allowed (a filter byte and four bytes a pixel), and a page.
constexpr std::size_t kMaxAllocation =
    static_cast<std::size_t>(d3dx::kMaxImageSide) * (static_cast<std::size_t>(d3dx::kMaxImageSide) * 4 + 1) +
    4096;

void* CappedMalloc(std::size_t n) {
  return n > kMaxAllocation ? nullptr : std::malloc(n);
}

void* CappedRealloc(void* p, std::size_t n) {
  return n > kMaxAllocation ? nullptr : std::realloc(p, n);
}

}  // namespace

#define STBI_MALLOC(n) CappedMalloc(n)
#define STBI_REALLOC(p, n) CappedRealloc(p, n)
#define STBI_FREE(p) std::free(p)
#define STBI_ONLY_JPEG
#define STBI_ONLY_PNG
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>
