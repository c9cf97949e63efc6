#include "platform/gl/FixedFunctionShader.h"

#include "platform/gl/WebGl2Rules.h"

namespace gl {

namespace {

// Direct3D's fog formulas by D3DFOG number (1 EXP, 2 EXP2, 3 LINEAR), from a depth in view space.
// Both stages need it: table fog runs per pixel, vertex fog per vertex.
#define WG_FOG_FACTOR                                                                   \
  "uniform int uFogMode;\n"                                                             \
  "uniform bool uVertexFog;\n"                                                          \
  "uniform vec3 uFogParams;  // start, end, density\n"                                  \
  "float fogFactor(float d) {\n"                                                        \
  "  if (uFogMode == 3) {\n"                                                            \
  "    float range = uFogParams.y - uFogParams.x;\n"                                    \
  "    if (range == 0.0) return d < uFogParams.y ? 1.0 : 0.0;\n"                        \
  "    return clamp((uFogParams.y - d) / range, 0.0, 1.0);\n"                           \
  "  }\n"                                                                               \
  "  if (uFogMode == 1) return clamp(exp(-uFogParams.z * d), 0.0, 1.0);\n"              \
  "  if (uFogMode == 2) { float t = uFogParams.z * d; return clamp(exp(-t * t), 0.0, 1.0); }\n" \
  "  return 1.0;\n"                                                                     \
  "}\n"

const char* const kVertexBody =
    "layout(location = 0) in vec4 aPosition;\n"
    "layout(location = 1) in vec4 aDiffuse;\n"
    "layout(location = 2) in vec4 aTexCoord;\n"
    "layout(location = 3) in float aPointSize;\n"
    // D3D matrices are uploaded as stored (row-major, row vectors); GLSL reads them as their
    // transposes, so M * v here is v x M there.
    "uniform mat4 uWorldView;\n"
    "uniform mat4 uProjection;\n"
    "uniform bool uPreTransformed;\n"
    "uniform vec2 uTarget;\n"
    "uniform bool uVertexPointSize;\n"
    "uniform vec3 uPointSize;  // base, minimum, maximum\n"
    "uniform bool uPointScale;\n"
    "uniform vec3 uPointScaleABC;\n"
    "uniform float uViewportHeight;\n" WG_FOG_FACTOR
    "out vec4 vDiffuse;\n"
    "flat out vec4 vDiffuseFlat;\n"
    "out vec2 vTexCoord;\n"
    "out float vDepth;\n"
    "out float vVertexFog;\n"
    "void main() {\n"
    "  vec3 eye;\n"
    "  if (uPreTransformed) {\n"
    // Screen pixels with D3D's pixel centres on integers, half a pixel from GL's. The target is
    // drawn upside down (row 0 at the top), so screen y runs the way GL's window y does.
    "    float w = aPosition.w != 0.0 ? 1.0 / aPosition.w : 1.0;\n"
    "    vec2 ndc = (aPosition.xy + 0.5) * 2.0 / uTarget - 1.0;\n"
    "    gl_Position = vec4(ndc * w, (2.0 * aPosition.z - 1.0) * w, w);\n"
    "    eye = vec3(0.0, 0.0, w);\n"
    "  } else {\n"
    "    vec4 e = uWorldView * vec4(aPosition.xyz, 1.0);\n"
    "    eye = e.xyz;\n"
    "    vec4 clip = uProjection * e;\n"
    "    clip.y = -clip.y;\n"
    "    clip.xy += clip.w / uTarget;\n"
    // D3D's clip depth runs 0..w, GL's -w..w.
    "    clip.z = 2.0 * clip.z - clip.w;\n"
    "    gl_Position = clip;\n"
    "  }\n"
    "  vDiffuse = WG_DIFFUSE(aDiffuse);\n"
    "  vDiffuseFlat = WG_DIFFUSE(aDiffuse);\n"
    "  vTexCoord = aTexCoord.xy;\n"
    "  vDepth = eye.z;\n"
    "  vVertexFog = fogFactor(eye.z);\n"
    "  float size = uVertexPointSize ? aPointSize : uPointSize.x;\n"
    "  if (uPointScale && !uPreTransformed) {\n"
    "    float de = length(eye);\n"
    "    size *= uViewportHeight *\n"
    "            sqrt(1.0 / (uPointScaleABC.x + uPointScaleABC.y * de + uPointScaleABC.z * de * de));\n"
    "  }\n"
    "  gl_PointSize = min(max(size, uPointSize.y), uPointSize.z);\n"
    "}\n";

const char* const kFragmentBody =
    "in vec4 vDiffuse;\n"
    "flat in vec4 vDiffuseFlat;\n"
    "in vec2 vTexCoord;\n"
    "in float vDepth;\n"
    "in float vVertexFog;\n"
    "uniform sampler2D uTexture;\n"
    "uniform bool uFlat;\n"
    "uniform bool uSpriteCoords;\n"
    "uniform ivec3 uColorOp;  // D3DTOP, then the two D3DTA arguments\n"
    "uniform ivec3 uAlphaOp;\n"
    "uniform vec4 uTextureFactor;\n"
    "uniform int uAlphaFunc;\n"
    "uniform int uAlphaRef;\n"
    "uniform vec3 uFogColor;\n" WG_FOG_FACTOR
    "out vec4 fragColor;\n"
    "vec4 argument(int a, vec4 tex, vec4 diffuse) {\n"
    // D3DTA_DIFFUSE, and D3DTA_CURRENT, which at stage 0 is the diffuse colour.
    "  vec4 v = diffuse;\n"
    "  int source = a & 15;\n"
    "  if (source == 2) v = tex;\n"
    "  else if (source == 3) v = uTextureFactor;\n"
    "  else if (source == 4) v = vec4(0.0);\n"
    "  if ((a & 16) != 0) v = 1.0 - v;\n"
    "  if ((a & 32) != 0) v = vec4(v.a);\n"
    "  return v;\n"
    "}\n"
    "vec4 operation(ivec3 op, vec4 tex, vec4 diffuse) {\n"
    "  vec4 a1 = argument(op.y, tex, diffuse), a2 = argument(op.z, tex, diffuse);\n"
    "  if (op.x == 2) return a1;\n"
    "  if (op.x == 3) return a2;\n"
    "  if (op.x == 4) return a1 * a2;\n"
    "  if (op.x == 5) return min(2.0 * a1 * a2, 1.0);\n"
    "  if (op.x == 6) return min(4.0 * a1 * a2, 1.0);\n"
    "  if (op.x == 7) return min(a1 + a2, 1.0);\n"
    "  return diffuse;\n"
    "}\n"
    "bool passes(int func, int a, int ref) {\n"
    "  if (func == 1) return false;\n"
    "  if (func == 2) return a < ref;\n"
    "  if (func == 3) return a == ref;\n"
    "  if (func == 4) return a <= ref;\n"
    "  if (func == 5) return a > ref;\n"
    "  if (func == 6) return a != ref;\n"
    "  if (func == 7) return a >= ref;\n"
    "  return true;\n"
    "}\n"
    "void main() {\n"
    "  vec4 diffuse = uFlat ? vDiffuseFlat : vDiffuse;\n"
    "  vec4 tex = texture(uTexture, uSpriteCoords ? WG_SPRITE_COORD : vTexCoord);\n"
    "  vec4 color = vec4(operation(uColorOp, tex, diffuse).rgb, operation(uAlphaOp, tex, diffuse).a);\n"
    "  if (!passes(uAlphaFunc, int(round(color.a * 255.0)), uAlphaRef)) discard;\n"
    "  float f = uVertexFog ? vVertexFog : fogFactor(vDepth);\n"
    "  fragColor = vec4(mix(uFogColor, color.rgb, f), color.a);\n"
    "}\n";

#undef WG_FOG_FACTOR

// What the desktop dialect adds to the body: vertex colours arrive as R, G, B, A through the BGRA
// attribute format, and sprite coordinates start at the lower left, which is the screen's top here.
const char* const kDesktopPreamble =
    "#version 330 core\n"
    "#define WG_DIFFUSE(c) (c)\n"
    "#define WG_SPRITE_COORD gl_PointCoord\n";

}  // namespace

std::string FixedFunctionShaderSource(ShaderStage stage, GlDialect dialect) {
  const char* preamble = dialect == GlDialect::WebGl2 ? webgl2::kShaderPreamble : kDesktopPreamble;
  return std::string(preamble) + (stage == ShaderStage::Vertex ? kVertexBody : kFragmentBody);
}

}  // namespace gl
