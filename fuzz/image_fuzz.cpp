// Texture images (JPEG and PNG) as the programs load them: decode, bound check, mip chain.
#include <cstddef>
#include <cstdint>

#include "platform/d3d/Error.h"
#include "platform/d3dx/Texture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto levels = d3dx::DecodeImageWithMips(data, size, "fuzz-input");
    if (levels.empty() || levels.back().width != 1 || levels.back().height != 1) __builtin_trap();
  } catch (const platform::Error&) {
  }
  return 0;
}
