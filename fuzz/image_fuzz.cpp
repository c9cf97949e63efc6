// Texture images (JPEG and PNG) as the programs load them: decode, bound check, mip chain.
#include <stb_image.h>

#include <cstddef>
#include <cstdint>

#include "platform/d3d/Error.h"
#include "platform/d3dx/Texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // A few hundred bytes can declare a legal image of tens of millions of pixels, which the decoder
  // fills from whatever follows. Such images take the same paths as small ones, only seconds longer
  // under the sanitizers, so past a million pixels only the header check runs.
  int w = 0, h = 0, comp = 0;
  if (size > 0 && size < 0x7FFFFFFF && stbi_info_from_memory(data, static_cast<int>(size), &w, &h, &comp) &&
      static_cast<long long>(w) * h > (1LL << 20) && w <= d3dx::kMaxImageSide && h <= d3dx::kMaxImageSide)
    return 0;
  try {
    const auto levels = d3dx::DecodeImageWithMips(data, size, "fuzz-input");
    if (levels.empty() || levels.back().width != 1 || levels.back().height != 1) __builtin_trap();
  } catch (const platform::Error&) {
  }
  return 0;
}
