// The program that stands in for Direct3D 8's fixed-function pipeline with lighting off: the
// transforms, point sizes, the blending of texture stages 0 and 1, alpha test and fog, all driven by
// uniforms. Desktop OpenGL and WebGL2 compile the same body; only a preamble of version, precision
// and a few defines differs. The backend compiles it per combination of the states that choose what
// it computes, with those uniforms turned into constants (GlBackend.cpp, kKeyUniforms).
#pragma once

#include <string>

namespace gl {

// Which OpenGL the backend speaks: desktop 3.3 core, or the subset WebGL2 offers (OpenGL ES 3.0 with
// the browser's limits), whose missing fixed-function rules are rebuilt as WebGl2Rules.h says.
enum class GlDialect { Desktop33, WebGl2 };

enum class ShaderStage { Vertex, Fragment };

// How the fixed-function states reach the shader: each combination of the states that change what
// it computes gets its own program with those states as constants, made on the combination's first
// draw; or one program reads them all as uniforms and branches on them (kept for comparison).
enum class Programs { Specialised, Uber };

std::string FixedFunctionShaderSource(ShaderStage stage, GlDialect dialect);

// Vertex attribute slots of the program.
enum Attribute : unsigned {
  kAttrPosition = 0,
  kAttrDiffuse = 1,
  kAttrTexCoord0 = 2,  // the coordinate set stage 0 reads
  kAttrPointSize = 3,
  kAttrTexCoord1 = 4,  // the coordinate set stage 1 reads
};

}  // namespace gl
