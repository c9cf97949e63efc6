// The fixed-function rules that WebGL2 lacks, rebuilt for the backend's WebGL2 dialect. This is the
// one place that knows how the browser differs from desktop OpenGL; the rest of the backend and the
// shader body are shared, so a change to either reaches both.
//
// Shared, needing nothing here: the 1024 x 768 target with its 16-bit depth renderbuffer; fog by
// depth in view space, the point-scale rule with the device's 1..64 pixel clamp, D3D's pixel
// centres and clip depth (all in the shader body).
//
// Rebuilt here:
// - Flat shading from the first vertex. WebGL2's flat inputs take the last vertex of a primitive and
//   it has no provoking-vertex switch (the extension is missing on software renderers), so a draw
//   that shades flat with vertex colours goes out as an index list whose primitives are rotated to
//   end on the vertex D3D takes the colour from, winding kept.
// - Base vertices. WebGL2 has none: indexed draws are rebased on the CPU into 32-bit indices, which
//   also keeps D3D's index 0xFFFF an ordinary vertex (WebGL2 always restarts primitives at it).
// - Vertex colours. There is no BGRA attribute format: the shader swizzles the colour's bytes.
// - Point-sprite coordinates. ES starts them at the upper left, the screen's bottom row in our
//   upside-down target: the shader flips them.
// - Point sizes. Sprites grow to 64 pixels; the browser must draw points that large.
// - Border addressing. WebGL2 has no border colour: an axis addressed D3DTADDRESS_BORDER is sampled
//   clamped to its edge, and the shader mixes in the stage's border colour by the share of the
//   filter's footprint that lies outside the texture, as the sampler would. Exact for point
//   filtering and for magnified linear filtering; minified, the blend band at the edge is the width
//   of a base-level texel rather than of the level sampled.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d/d3d8types.h"

namespace gl::webgl2 {

// Version, precision and the defines that adapt the shared shader body to GLSL ES 3.00.
extern const char* const kShaderPreamble;
// What the fragment stage adds: WG_SAMPLE0 and WG_SAMPLE1(sampler, coordinates), each stage's
// texture read, with border addressing rebuilt where `borders` says the stage's draws ask for it (and
// only then the code for it). Its uniforms: uBorder[stage] (x, y: the u and v axes address the
// border; z, w: magnification and minification filter linearly) and uBorderColor[stage] (r, g, b, a).
std::string FragmentSampling(const std::array<bool, 2>& borders);

// The largest point the device draws (D3DRS_POINTSIZE_MAX's default); the browser's point size range
// must reach it.
constexpr float kLargestPointSize = 64.0f;

// The index list for one draw of `primitiveCount` primitives of `type`. The draw's vertex numbers are
// `indices` when given, else 0, 1, 2, ...; each becomes the element number `number + offset`. With
// `flatFromFirstVertex`, lines and triangles are expanded into lists and each is rotated so that the
// vertex desktop OpenGL's first-vertex convention picks (a list's first, a strip's i-th, a fan's
// (i+1)-th) comes last. Returns the primitive type the list draws as.
d3d::D3DPRIMITIVETYPE BuildIndices(d3d::D3DPRIMITIVETYPE type, d3d::DWORD primitiveCount,
                                   const std::uint16_t* indices, std::int64_t offset,
                                   bool flatFromFirstVertex, std::vector<std::uint32_t>& out);

}  // namespace gl::webgl2
