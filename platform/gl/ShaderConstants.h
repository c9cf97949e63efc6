// The Direct3D values the fixed-function shader compares against (texture operations and
// arguments, alpha-test functions, fog modes), kept in one table under their Direct3D names. The
// shader reads them from a #define block made from that table, and the C++ from d3d8types.h, so
// both sides name the same numbers from one place.
#pragma once

#include <string>

#include "platform/d3d/d3d8types.h"

namespace gl {

// The #define lines, one per constant, that the shader's source starts with.
const std::string& ShaderConstantBlock();
// The same for the constants only lit programs read (D3DMCS_, D3DLIGHT_).
const std::string& LightingConstantBlock();

// The shader's name for `value` among the constants whose names start with `family` ("D3DTOP_",
// "D3DTA_", "D3DCMP_", "D3DFOG_", "D3DMCS_"); null when the shader has none.
const char* ShaderConstantName(const char* family, d3d::DWORD value);

}  // namespace gl
