// Texture images (JPEG and PNG) as the programs load them: header checks, decode, mip chain.
#include <cstddef>
#include <cstdint>

#include "platform/d3d/Error.h"
#include "platform/d3dx/Texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    // A few hundred bytes can declare a legal image of tens of millions of pixels, which the
    // decoder fills from whatever follows. Such images take the same paths as small ones, only
    // seconds longer under the sanitizers, so past a million pixels only the header checks run.
    int w = 0, h = 0;
    d3dx::ReadImageSize(data, size, "fuzz-input", w, h);
    if (static_cast<long long>(w) * h > (1LL << 20)) return 0;
    const auto levels = d3dx::DecodeImageWithMips(data, size, "fuzz-input");
    if (levels.empty() || levels.back().width != 1 || levels.back().height != 1) __builtin_trap();
  } catch (const platform::Error&) {
  }
  return 0;
}
