// Linear per-pixel fog in the sky colour, and the bit pattern of a float for float-valued states.
#pragma once

#include <cstdint>

namespace d3d {
class Device;
}

namespace render {

// The four bytes of the float reinterpreted as a signed 32-bit integer.
std::int32_t FloatBits(float value);

// Fog from 50 to 150 units of view depth, in the sky colour.
void InitFog(d3d::Device& device);

}  // namespace render
