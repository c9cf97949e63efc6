// Points that can change no pixel: the snow keeps its fallen flakes in the buffer with alpha 0, and
// sending them to the rasteriser costs as much as drawing them. Under states where a zero vertex
// alpha leaves every pixel as it was, such points are left out of the draw.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/gl/GlTranslate.h"

namespace gl {

// Whether a point whose vertex colour has alpha 0 can change no pixel under these states.
bool zeroAlphaPointIsInvisible(const d3d::DeviceState& s);

// Fills `visible` with first + i for each of the call's records at `records` that may change a
// pixel; returns false when all of them may (then the draw goes as it is).
bool collectVisiblePoints(const d3d::DrawCall& c, const d3d::DeviceState& s, const VertexLayout& l,
                          const std::uint8_t* records, std::size_t first,
                          std::vector<std::uint32_t>& visible);

}  // namespace gl
