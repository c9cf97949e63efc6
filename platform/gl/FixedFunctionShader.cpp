#include "platform/gl/FixedFunctionShader.h"

#include "platform/gl/ShaderConstants.h"
#include "platform/gl/WebGl2Rules.h"

namespace gl {

namespace {

// Direct3D's fog formulas by D3DFOG mode, from a depth in view space.
// Both stages need it: table fog runs per pixel, vertex fog per vertex.
#define WG_FOG_FACTOR                                                                                     \
  "uniform vec3 uFogParams;  // start, end, density\n"                                                    \
  "float fogFactor(float d) {\n"                                                                          \
  "  if (kFogMode == D3DFOG_LINEAR) {\n"                                                                  \
  "    float range = uFogParams.y - uFogParams.x;\n"                                                      \
  "    if (range == 0.0) return d < uFogParams.y ? 1.0 : 0.0;\n"                                          \
  "    return clamp((uFogParams.y - d) / range, 0.0, 1.0);\n"                                             \
  "  }\n"                                                                                                 \
  "  if (kFogMode == D3DFOG_EXP) return clamp(exp(-uFogParams.z * d), 0.0, 1.0);\n"                       \
  "  if (kFogMode == D3DFOG_EXP2) { float t = uFogParams.z * d; return clamp(exp(-t * t), 0.0, 1.0); }\n" \
  "  return 1.0;\n"                                                                                       \
  "}\n"

const char* const kVertexDeclarations =
    "layout(location = 0) in vec4 aPosition;\n"
    "layout(location = 1) in vec4 aDiffuse;\n"
    "layout(location = 2) in vec4 aTexCoord0;  // the set stage 0 reads (its D3DTSS_TEXCOORDINDEX)\n"
    "layout(location = 3) in float aPointSize;\n"
    "layout(location = 4) in vec4 aTexCoord1;  // the set stage 1 reads\n"
    // D3D matrices are uploaded as stored (row-major, row vectors); GLSL reads them as their
    // transposes, so M * v here is v x M there.
    "uniform mat4 uWorldView;\n"
    "uniform mat4 uProjection;\n"
    "uniform vec2 uTarget;\n"
    "uniform vec3 uPointSize;  // base, minimum, maximum\n"
    "uniform vec3 uPointScaleABC;\n"
    "uniform float uViewportHeight;\n" WG_FOG_FACTOR
    "out vec4 vDiffuse;\n"
    "flat out vec4 vDiffuseFlat;\n"
    "out vec2 vTexCoord0;\n"
    "out vec2 vTexCoord1;\n"
    "out float vDepth;\n"
    "out float vVertexFog;\n";

const char* const kVertexMainHead =
    "void main() {\n"
    "  vec3 eye;\n"
    "  if (kPreTransformed) {\n"
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
    "  }\n";

// Unlit, the vertex's colour passes through.
const char* const kVertexUnlitColour =
    "  vDiffuse = WG_DIFFUSE(aDiffuse);\n"
    "  vDiffuseFlat = WG_DIFFUSE(aDiffuse);\n";

// Direct3D 8's vertex lighting in view space:
//   colour = emissive + ambient_m * (D3DRS_AMBIENT + sum(atten * spot * ambient_light))
//          + diffuse_m * sum(atten * spot * diffuse_light * max(N.L, 0)),
//   specular = specular_m * sum(atten * spot * specular_light * max(N.H, 0)^power),
// each clamped to [0, 1]; the alpha is the diffuse material's. A record without normals has N = 0.
// Each light is two matrices of view-space values, their columns:
//   uLightColour: diffuse, specular, ambient, (position, type);
//   uLightShape: (direction towards where it shines, range), (attenuation 0, 1, 2, falloff),
//                (cos(theta / 2), cos(phi / 2), 0, 0), unused.
const char* const kVertexLighting =
    "layout(location = 5) in vec3 aNormal;\n"
    "layout(location = 6) in vec4 aSpecular;\n"
    "uniform vec4 uAmbient;\n"
    "uniform mat4 uMaterial;  // diffuse, ambient, specular, emissive\n"
    "uniform float uPower;\n"
    "uniform mat4 uLightColour[kLightSlots];\n"
    "uniform mat4 uLightShape[kLightSlots];\n"
    "out vec3 vSpecular;\n"
    "vec4 materialColour(int source, vec4 material) {\n"
    "  if (source == D3DMCS_COLOR1) return WG_DIFFUSE(aDiffuse);\n"
    "  if (source == D3DMCS_COLOR2) return WG_DIFFUSE(aSpecular);\n"
    "  return material;\n"
    "}\n"
    "vec4 lit(vec3 eye) {\n"
    "  vec3 n = vec3(0.0);\n"
    "  if (kNormals) {\n"
    // GLSL holds the world-view matrix transposed, so the inverse transpose of Direct3D's is this.
    "    n = transpose(inverse(mat3(uWorldView))) * aNormal;\n"
    "    if (kNormalizeNormals && dot(n, n) > 0.0) n = normalize(n);\n"
    "  }\n"
    "  vec3 toViewer = kLocalViewer ? -normalize(eye) : vec3(0.0, 0.0, -1.0);\n"
    "  vec3 ambient = vec3(0.0), diffuse = vec3(0.0), specular = vec3(0.0);\n"
    "  for (int i = 0; i < kLightCount; ++i) {\n"
    "    mat4 colour = uLightColour[i], shape = uLightShape[i];\n"
    "    int type = int(colour[3].w);\n"
    "    vec3 toLight = -shape[0].xyz;\n"
    "    float atten = 1.0;\n"
    "    if (type != D3DLIGHT_DIRECTIONAL) {\n"
    "      vec3 v = colour[3].xyz - eye;\n"
    "      float d = length(v);\n"
    "      if (d > shape[0].w) continue;\n"
    "      toLight = d > 0.0 ? v / d : vec3(0.0);\n"
    "      atten = 1.0 / (shape[1].x + shape[1].y * d + shape[1].z * d * d);\n"
    "      if (type == D3DLIGHT_SPOT) {\n"
    "        float rho = dot(-toLight, shape[0].xyz);\n"
    "        if (rho <= shape[2].y) continue;\n"
    "        if (rho < shape[2].x) atten *= pow((rho - shape[2].y) / (shape[2].x - shape[2].y), "
    "shape[1].w);\n"
    "      }\n"
    "    }\n"
    "    ambient += atten * colour[2].rgb;\n"
    "    float nl = max(dot(n, toLight), 0.0);\n"
    "    diffuse += atten * nl * colour[0].rgb;\n"
    "    if (kSpecular && nl > 0.0) {\n"
    "      float nh = max(dot(n, normalize(toLight + toViewer)), 0.0);\n"
    "      specular += atten * (uPower > 0.0 ? pow(nh, uPower) : 1.0) * colour[1].rgb;\n"
    "    }\n"
    "  }\n"
    "  vec4 diffuseM = materialColour(kDiffuseSource, uMaterial[0]);\n"
    "  vec4 ambientM = materialColour(kAmbientSource, uMaterial[1]);\n"
    "  vec4 emissiveM = materialColour(kEmissiveSource, uMaterial[3]);\n"
    "  vSpecular = clamp(materialColour(kSpecularSource, uMaterial[2]).rgb * specular, 0.0, 1.0);\n"
    "  vec3 c = emissiveM.rgb + ambientM.rgb * (uAmbient.rgb + ambient) + diffuseM.rgb * diffuse;\n"
    "  return clamp(vec4(c, diffuseM.a), 0.0, 1.0);\n"
    "}\n";

const char* const kVertexLitColour =
    "  vDiffuse = lit(eye);\n"
    "  vDiffuseFlat = vDiffuse;\n";

const char* const kVertexMainTail =
    "  vTexCoord0 = aTexCoord0.xy;\n"
    "  vTexCoord1 = aTexCoord1.xy;\n"
    "  vDepth = eye.z;\n"
    "  vVertexFog = fogFactor(eye.z);\n"
    "  float size = kVertexPointSize ? aPointSize : uPointSize.x;\n"
    "  if (kPointScale && !kPreTransformed) {\n"
    "    float de = length(eye);\n"
    "    size *= uViewportHeight *\n"
    "            sqrt(1.0 / (uPointScaleABC.x + uPointScaleABC.y * de + uPointScaleABC.z * de * de));\n"
    "  }\n"
    "  gl_PointSize = min(max(size, uPointSize.y), uPointSize.z);\n"
    "}\n";

// Texture stages 0 and 1 as Direct3D 8 chains them: each stage's colour and alpha operation combine
// its arguments into the current colour that the next stage reads as D3DTA_CURRENT; the chain ends
// at the first stage whose colour operation is D3DTOP_DISABLE, which then costs nothing.
const char* const kFragmentBody =
    "in vec4 vDiffuse;\n"
    "flat in vec4 vDiffuseFlat;\n"
    "in vec2 vTexCoord0;\n"
    "in vec2 vTexCoord1;\n"
    "in float vDepth;\n"
    "in float vVertexFog;\n"
    "uniform sampler2D uTexture0;\n"
    "uniform sampler2D uTexture1;\n"
    "uniform vec4 uTextureFactor;\n"
    "uniform int uAlphaRef;\n"
    "uniform vec3 uFogColor;\n" WG_FOG_FACTOR
    "out vec4 fragColor;\n"
    "vec4 argument(int a, vec4 tex, vec4 diffuse, vec4 current) {\n"
    "  vec4 v = diffuse;\n"
    "  int source = a & D3DTA_SELECTMASK;\n"
    "  if (source == D3DTA_CURRENT) v = current;\n"
    "  else if (source == D3DTA_TEXTURE) v = tex;\n"
    "  else if (source == D3DTA_TFACTOR) v = uTextureFactor;\n"
    "  else if (source == D3DTA_SPECULAR) v = vec4(0.0);\n"
    "  if ((a & D3DTA_COMPLEMENT) != 0) v = 1.0 - v;\n"
    "  if ((a & D3DTA_ALPHAREPLICATE) != 0) v = vec4(v.a);\n"
    "  return v;\n"
    "}\n"
    "// op: the D3DTOP, then the D3DTA arguments 1, 2 and 0 (kColorOp0, kAlphaOp0, ...).\n"
    "vec4 operation(ivec4 op, vec4 tex, vec4 diffuse, vec4 current) {\n"
    "  if (op.x == D3DTOP_DISABLE) return current;\n"
    "  vec4 a1 = argument(op.y, tex, diffuse, current), a2 = argument(op.z, tex, diffuse, current);\n"
    "  if (op.x == D3DTOP_SELECTARG1) return a1;\n"
    "  if (op.x == D3DTOP_SELECTARG2) return a2;\n"
    "  if (op.x == D3DTOP_MODULATE) return a1 * a2;\n"
    "  if (op.x == D3DTOP_MODULATE2X) return min(2.0 * a1 * a2, 1.0);\n"
    "  if (op.x == D3DTOP_MODULATE4X) return min(4.0 * a1 * a2, 1.0);\n"
    "  if (op.x == D3DTOP_ADD) return min(a1 + a2, 1.0);\n"
    "  if (op.x == D3DTOP_ADDSIGNED) return clamp(a1 + a2 - 0.5, 0.0, 1.0);\n"
    "  if (op.x == D3DTOP_ADDSIGNED2X) return clamp(2.0 * (a1 + a2 - 0.5), 0.0, 1.0);\n"
    "  if (op.x == D3DTOP_SUBTRACT) return max(a1 - a2, 0.0);\n"
    "  if (op.x == D3DTOP_ADDSMOOTH) return min(a1 + a2 * (1.0 - a1), 1.0);\n"
    "  if (op.x == D3DTOP_BLENDDIFFUSEALPHA) return mix(a2, a1, diffuse.a);\n"
    "  if (op.x == D3DTOP_BLENDTEXTUREALPHA) return mix(a2, a1, tex.a);\n"
    "  if (op.x == D3DTOP_BLENDFACTORALPHA) return mix(a2, a1, uTextureFactor.a);\n"
    "  if (op.x == D3DTOP_BLENDTEXTUREALPHAPM) return min(a1 + a2 * (1.0 - tex.a), 1.0);\n"
    "  if (op.x == D3DTOP_BLENDCURRENTALPHA) return mix(a2, a1, current.a);\n"
    "  if (op.x == D3DTOP_MODULATEALPHA_ADDCOLOR) return min(vec4(a1.rgb + a1.a * a2.rgb, a1.a), 1.0);\n"
    "  if (op.x == D3DTOP_MODULATECOLOR_ADDALPHA) return min(vec4(a1.rgb * a2.rgb + a1.a, a1.a), 1.0);\n"
    "  if (op.x == D3DTOP_MODULATEINVALPHA_ADDCOLOR) return min(vec4(a1.rgb + (1.0 - a1.a) * a2.rgb, a1.a), "
    "1.0);\n"
    "  if (op.x == D3DTOP_MODULATEINVCOLOR_ADDALPHA) return min(vec4((1.0 - a1.rgb) * a2.rgb + a1.a, a1.a), "
    "1.0);\n"
    "  if (op.x == D3DTOP_DOTPRODUCT3) return vec4(clamp(4.0 * dot(a1.rgb - 0.5, a2.rgb - 0.5), 0.0, 1.0));\n"
    "  vec4 a0 = argument(op.w, tex, diffuse, current);\n"
    "  if (op.x == D3DTOP_MULTIPLYADD) return min(a0 + a1 * a2, 1.0);\n"
    "  return mix(a2, a1, a0);\n"
    "}\n"
    "vec4 stage(ivec4 colorOp, ivec4 alphaOp, vec4 tex, vec4 diffuse, vec4 current) {\n"
    "  return vec4(operation(colorOp, tex, diffuse, current).rgb, operation(alphaOp, tex, diffuse, "
    "current).a);\n"
    "}\n"
    "bool passes(int func, int a, int ref) {\n"
    "  if (func == D3DCMP_NEVER) return false;\n"
    "  if (func == D3DCMP_LESS) return a < ref;\n"
    "  if (func == D3DCMP_EQUAL) return a == ref;\n"
    "  if (func == D3DCMP_LESSEQUAL) return a <= ref;\n"
    "  if (func == D3DCMP_GREATER) return a > ref;\n"
    "  if (func == D3DCMP_NOTEQUAL) return a != ref;\n"
    "  if (func == D3DCMP_GREATEREQUAL) return a >= ref;\n"
    "  return true;\n"
    "}\n"
    "void main() {\n"
    "  vec4 diffuse = kFlat ? vDiffuseFlat : vDiffuse;\n"
    // D3DTA_CURRENT at stage 0 is the diffuse colour.
    "  vec4 color = diffuse;\n"
    "  if (kColorOp0.x != D3DTOP_DISABLE) {\n"
    "    vec4 tex = WG_SAMPLE0(uTexture0, kSpriteCoords ? WG_SPRITE_COORD : vTexCoord0);\n"
    "    color = stage(kColorOp0, kAlphaOp0, tex, diffuse, color);\n"
    "    if (kColorOp1.x != D3DTOP_DISABLE) {\n"
    "      tex = WG_SAMPLE1(uTexture1, kSpriteCoords ? WG_SPRITE_COORD : vTexCoord1);\n"
    "      color = stage(kColorOp1, kAlphaOp1, tex, diffuse, color);\n"
    "    }\n"
    "  }\n"
    "  if (!passes(kAlphaFunc, int(round(color.a * 255.0)), uAlphaRef)) discard;\n";

const char* const kFragmentTail =
    "  float f = kVertexFog ? vVertexFog : fogFactor(vDepth);\n"
    "  fragColor = vec4(mix(uFogColor, color.rgb, f), color.a);\n"
    "}\n";

#undef WG_FOG_FACTOR

// What the desktop dialect adds to the body: vertex colours arrive as R, G, B, A through the BGRA
// attribute format, sprite coordinates start at the lower left, which is the screen's top here, and
// the samplers address textures as the stage asks, border colour included.
const char* const kDesktopPreamble =
    "#version 330 core\n"
    "#define WG_DIFFUSE(c) (c)\n"
    "#define WG_SPRITE_COORD gl_PointCoord\n";
const char* const kDesktopSampling =
    "#define WG_SAMPLE0(t, uv) texture(t, uv)\n"
    "#define WG_SAMPLE1(t, uv) texture(t, uv)\n";

}  // namespace

std::string FixedFunctionShaderSource(ShaderStage stage, GlDialect dialect, const std::string& keyDefines,
                                      const ProgramKey& key) {
  const bool web = dialect == GlDialect::WebGl2;
  std::string source = web ? webgl2::kShaderPreamble : kDesktopPreamble;
  source += ShaderConstantBlock();
  if (key.lighting) source += LightingConstantBlock();
  source += keyDefines;
  if (stage == ShaderStage::Vertex) {
    if (!key.lighting)
      return source + kVertexDeclarations + kVertexMainHead + kVertexUnlitColour + kVertexMainTail;
    return source + kVertexDeclarations + kVertexLighting + kVertexMainHead + kVertexLitColour +
           kVertexMainTail;
  }
  source += web ? webgl2::FragmentSampling(key.borders) : kDesktopSampling;
  // The lit specular colour is added after the texture stages, before fog.
  if (key.lighting && key.specular)
    return source + "in vec3 vSpecular;\n" + kFragmentBody +
           "  color.rgb = min(color.rgb + vSpecular, 1.0);\n" + kFragmentTail;
  return source + kFragmentBody + kFragmentTail;
}

}  // namespace gl
