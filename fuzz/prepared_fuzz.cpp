// Media prepared for the browser (textures, models, faces) as its D3DX reads them: every reader on
// every input, since the signature decides which one accepts it.
#include <cstddef>
#include <cstdint>

#include "platform/base/Error.h"
#include "platform/d3dx/Prepared.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const auto levels = d3dx::ReadPreparedTexture(data, size, "fuzz-input", "fuzz");
    for (const auto& l : levels)
      if (l.rgba.size() != static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.height) * 4)
        __builtin_trap();
  } catch (const platform::Error&) {
  }
  try {
    const d3dx::XModel m = d3dx::ReadPreparedModel(data, size, "fuzz-input", "fuzz");
    for (const std::uint32_t i : m.indices)
      if (i >= m.vertices.size()) __builtin_trap();
  } catch (const platform::Error&) {
  }
  try {
    const d3dx::PreparedFace f = d3dx::ReadPreparedFace(data, size, "fuzz-input", "fuzz");
    for (const auto& [id, g] : f.glyphs)
      if (g.coverage.size() !=
          static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height) * (g.colour ? 4 : 1))
        __builtin_trap();
    for (const auto& [text, line] : f.lines)
      for (const char32_t c : text)
        if (c > 0x10FFFF) __builtin_trap();
  } catch (const platform::Error&) {
  }
  return 0;
}
