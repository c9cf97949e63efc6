#include "platform/gl/WebGl2Rules.h"

#include "platform/d3d/Device.h"
#include "platform/base/Error.h"

namespace gl::webgl2 {

const char* const kShaderPreamble =
    "#version 300 es\n"
    "precision highp float;\n"
    "precision highp int;\n"
    "precision highp sampler2D;\n"
    // The colour's bytes in memory are B, G, R, A.
    "#define WG_DIFFUSE(c) (c).bgra\n"
    "#define WG_SPRITE_COORD vec2(gl_PointCoord.x, 1.0 - gl_PointCoord.y)\n";

namespace {

const char* const kBorderedTexture =
    "uniform ivec4 uBorder[2];\n"
    "uniform vec4 uBorderColor[2];\n"
    "vec4 borderedTexture(sampler2D t, vec2 uv, ivec4 border, vec4 color) {\n"
    "  if (border.x == 0 && border.y == 0) return texture(t, uv);\n"
    "  vec2 size = vec2(textureSize(t, 0));\n"
    "  vec2 dx = dFdx(uv), dy = dFdy(uv);\n"
    // The level-of-detail rule picks the magnification filter where a texel covers a pixel or more.
    "  bool magnified = max(length(dx * size), length(dy * size)) <= 1.0;\n"
    "  bool linear = magnified ? border.z != 0 : border.w != 0;\n"
    // The share of each axis's footprint on texels inside the texture.
    "  vec2 inside = linear ? clamp(min(uv, 1.0 - uv) * size + 0.5, 0.0, 1.0)\n"
    "                       : vec2(greaterThanEqual(uv, vec2(0.0))) * vec2(lessThan(uv, vec2(1.0)));\n"
    // Those texels, read at the edge texels' centres where the footprint leaves the texture; the
    // level of detail stays that of the coordinates given.
    "  vec2 edge = 0.5 / size;\n"
    "  vec2 at = clamp(uv, edge, 1.0 - edge);\n"
    "  if (border.x == 0) { inside.x = 1.0; at.x = uv.x; }\n"
    "  if (border.y == 0) { inside.y = 1.0; at.y = uv.y; }\n"
    "  return mix(color, textureGrad(t, at, dx, dy), inside.x * inside.y);\n"
    "}\n";

}  // namespace

std::string FragmentSampling(const std::array<bool, 2>& borders) {
  std::string out = borders[0] || borders[1] ? kBorderedTexture : "";
  for (const int stage : {0, 1}) {
    const std::string n = std::to_string(stage);
    out += "#define WG_SAMPLE" + n + "(t, uv) " +
           (borders[static_cast<std::size_t>(stage)]
                ? "borderedTexture(t, uv, uBorder[" + n + "], uBorderColor[" + n + "])\n"
                : std::string("texture(t, uv)\n"));
  }
  return out;
}

d3d::D3DPRIMITIVETYPE BuildIndices(d3d::D3DPRIMITIVETYPE type, d3d::DWORD primitiveCount,
                                   const std::uint16_t* indices, std::int64_t offset,
                                   bool flatFromFirstVertex, std::vector<std::uint32_t>& out) {
  out.clear();
  const auto element = [&](std::size_t i) {
    const std::int64_t e = (indices ? std::int64_t{indices[i]} : static_cast<std::int64_t>(i)) + offset;
    if (e < 0 || e > 0xFFFFFFFEll)
      throw platform::Error("Draw", "vertex number out of the 32-bit index range");
    return static_cast<std::uint32_t>(e);
  };
  const std::size_t n = primitiveCount;
  const bool lines = type == d3d::D3DPT_LINELIST || type == d3d::D3DPT_LINESTRIP;
  if (!flatFromFirstVertex || type == d3d::D3DPT_POINTLIST) {
    const std::size_t count = d3d::VertexCountFor(type, primitiveCount);
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) out.push_back(element(i));
    return type;
  }
  if (lines) {
    // A line's colour comes from its first end: it is drawn from the other end to that one.
    out.reserve(2 * n);
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t a = type == d3d::D3DPT_LINELIST ? 2 * k : k;
      out.push_back(element(a + 1));
      out.push_back(element(a));
    }
    return d3d::D3DPT_LINELIST;
  }
  // Each triangle in OpenGL's winding order, then rotated so the first-vertex pick comes last:
  // (p, b, c) -> (b, c, p) and (a, p, c) -> (c, a, p), which keeps the winding.
  out.reserve(3 * n);
  for (std::size_t k = 0; k < n; ++k) {
    switch (type) {
      case d3d::D3DPT_TRIANGLELIST:
        out.insert(out.end(), {element(3 * k + 1), element(3 * k + 2), element(3 * k)});
        break;
      case d3d::D3DPT_TRIANGLESTRIP:
        // Even triangles wind (k, k+1, k+2), odd ones (k+1, k, k+2); vertex k gives the colour.
        if (k % 2 == 0)
          out.insert(out.end(), {element(k + 1), element(k + 2), element(k)});
        else
          out.insert(out.end(), {element(k + 2), element(k + 1), element(k)});
        break;
      case d3d::D3DPT_TRIANGLEFAN:
        // (hub, k+1, k+2), coloured by vertex k+1.
        out.insert(out.end(), {element(k + 2), element(0), element(k + 1)});
        break;
      default:
        throw platform::Error("Draw", "primitive type " + std::to_string(type) + " cannot be drawn");
    }
  }
  return d3d::D3DPT_TRIANGLELIST;
}

}  // namespace gl::webgl2
