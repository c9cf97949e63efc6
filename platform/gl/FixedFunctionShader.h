// The one program that stands in for Direct3D 8's fixed-function pipeline with lighting off: the
// transforms, point sizes, stage-0 texture blending, alpha test and fog, all driven by uniforms.
#pragma once

namespace gl {

extern const char* const kFixedFunctionVertexShader;
extern const char* const kFixedFunctionFragmentShader;

// Vertex attribute slots of the program.
enum Attribute : unsigned { kAttrPosition = 0, kAttrDiffuse = 1, kAttrTexCoord = 2, kAttrPointSize = 3 };

}  // namespace gl
