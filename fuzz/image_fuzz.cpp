// Texture images (JPEG, PNG, BMP, TGA, DDS) as the programs load them: format detection, header
// checks, decode with reduction, mip chain.
#include <cstddef>
#include <cstdint>

#include "platform/base/Error.h"
#include "platform/d3dx/Texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    // A few hundred bytes can declare a legal image of tens of millions of pixels, which the
    // decoder fills from whatever follows. Such images take the same paths as small ones, only
    // seconds longer under the sanitizers, so past four million pixels only the header checks run;
    // wide or tall images below that still reach the reduction to 4096 a side.
    int w = 0, h = 0;
    d3dx::ReadImageSize(data, size, "fuzz-input", w, h);
    if (static_cast<long long>(w) * h > (1LL << 22)) return 0;
    const auto levels = d3dx::DecodeImageWithMips(data, size, "fuzz-input");
    if (levels.empty() || levels.back().width != 1 || levels.back().height != 1) __builtin_trap();
    if (levels.front().width > d3dx::kMaxTextureSide || levels.front().height > d3dx::kMaxTextureSide)
      __builtin_trap();
  } catch (const platform::Error&) {
  }
  return 0;
}
