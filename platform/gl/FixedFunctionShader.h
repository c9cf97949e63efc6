// The program that stands in for Direct3D 8's fixed-function pipeline: the transforms, vertex
// lighting, point sizes, the blending of texture stages 0 and 1, alpha test and fog. Desktop
// OpenGL and WebGL2 compile the same body; only a preamble of version, precision and a few defines
// differs. The states that choose what it computes (kFogMode, kColorOp0, ...) come from a #define
// block per program (ProgramKey.h); the numbers it computes with are uniforms.
#pragma once

#include <string>

#include "platform/gl/ProgramKey.h"

namespace gl {

// Which OpenGL the backend speaks: desktop 3.3 core, or the subset WebGL2 offers (OpenGL ES 3.0 with
// the browser's limits), whose missing fixed-function rules are rebuilt as WebGl2Rules.h says.
enum class GlDialect { Desktop33, WebGl2 };

enum class ShaderStage { Vertex, Fragment };

// The shader's source for one program: the dialect's preamble, the Direct3D constants it compares
// against (ShaderConstants.h), `keyDefines` (the k... names of the states that choose what it
// computes), then the body; `key` says whether the body lights its vertices (ProgramKey::lighting)
// and adds their specular colour.
std::string FixedFunctionShaderSource(ShaderStage stage, GlDialect dialect, const std::string& keyDefines,
                                      const ProgramKey& key);

// Vertex attribute slots of the program.
enum Attribute : unsigned {
  kAttrPosition = 0,
  kAttrDiffuse = 1,
  kAttrTexCoord0 = 2,  // the coordinate set stage 0 reads
  kAttrPointSize = 3,
  kAttrTexCoord1 = 4,  // the coordinate set stage 1 reads
  kAttrNormal = 5,     // lit programs only
  kAttrSpecular = 6,   // lit programs only
};

}  // namespace gl
