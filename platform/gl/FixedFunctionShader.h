// The one program that stands in for Direct3D 8's fixed-function pipeline with lighting off: the
// transforms, point sizes, the blending of texture stages 0 and 1, alpha test and fog, all driven by
// uniforms.
#pragma once

namespace gl {

extern const char* const kFixedFunctionVertexShader;
extern const char* const kFixedFunctionFragmentShader;

// Vertex attribute slots of the program.
enum Attribute : unsigned {
  kAttrPosition = 0,
  kAttrDiffuse = 1,
  kAttrTexCoord0 = 2,  // the coordinate set stage 0 reads
  kAttrPointSize = 3,
  kAttrTexCoord1 = 4,  // the coordinate set stage 1 reads
};

}  // namespace gl
