#include <array>
#include <cmath>
#include <cstring>

#include "platform/d3d/d3dxmath.h"
#include "platform/gl/GlBackendImpl.h"

namespace gl {

namespace {

// Each stage's operation and border uniforms.
constexpr Uniform kColorOpOf[kStages] = {uColorOp0, uColorOp1};
constexpr Uniform kAlphaOpOf[kStages] = {uAlphaOp0, uAlphaOp1};
constexpr Uniform kBorderOf[kStages] = {uBorder0, uBorder1};
constexpr Uniform kBorderColorOf[kStages] = {uBorderColor0, uBorderColor1};

}  // namespace

void GlBackend::Impl::applyRenderStates(const d3d::DeviceState& s, const char* call) {
  const auto& rs = s.renderStates;
  cache.enable(GL_DEPTH_TEST, cache.depthTest, rs[d3d::D3DRS_ZENABLE] != d3d::D3DZB_FALSE);
  cache.setDepthMask(rs[d3d::D3DRS_ZWRITEENABLE] != 0);
  cache.setDepthFunc(compareFunc(rs[d3d::D3DRS_ZFUNC], call));

  const bool blend = rs[d3d::D3DRS_ALPHABLENDENABLE] != 0;
  cache.enable(GL_BLEND, cache.blend, blend);
  if (blend) {
    GLenum src = 0, dst = 0;
    blendFactors(rs[d3d::D3DRS_SRCBLEND], rs[d3d::D3DRS_DESTBLEND], src, dst, call);
    cache.setBlendFunc(src, dst);
  }

  // D3D judges winding on its screen, y down. The target holds the screen upside down in GL's
  // y-up window coordinates, which mirrors every triangle: clockwise on D3D's screen is
  // counter-clockwise for GL, a front face under GL's default.
  const DWORD cull = rs[d3d::D3DRS_CULLMODE];
  cache.enable(GL_CULL_FACE, cache.cull, cull == d3d::D3DCULL_CW || cull == d3d::D3DCULL_CCW);
  if (cull == d3d::D3DCULL_CW || cull == d3d::D3DCULL_CCW) {
    cache.setCullFace(cull == d3d::D3DCULL_CW ? GL_FRONT : GL_BACK);
  }

  dialect.setFillMode(rs[d3d::D3DRS_FILLMODE], cache.polygonMode, call);

  programs.setInt(uFlat, rs[d3d::D3DRS_SHADEMODE] == d3d::D3DSHADE_FLAT);

  int fogMode = 0, vertexFog = 0;
  if (rs[d3d::D3DRS_FOGENABLE]) {
    if (rs[d3d::D3DRS_FOGTABLEMODE] != d3d::D3DFOG_NONE) {
      fogMode = static_cast<int>(rs[d3d::D3DRS_FOGTABLEMODE]);
    } else if (rs[d3d::D3DRS_FOGVERTEXMODE] != d3d::D3DFOG_NONE) {
      fogMode = static_cast<int>(rs[d3d::D3DRS_FOGVERTEXMODE]);
      vertexFog = 1;
    }
    if (fogMode > static_cast<int>(d3d::D3DFOG_LINEAR))
      throw platform::Error(call, "fog mode " + std::to_string(fogMode) + " not supported");
  }
  programs.setInt(uFogMode, fogMode);
  programs.setInt(uVertexFog, vertexFog);
  if (fogMode) {
    const float params[3] = {floatOf(rs[d3d::D3DRS_FOGSTART]), floatOf(rs[d3d::D3DRS_FOGEND]),
                             floatOf(rs[d3d::D3DRS_FOGDENSITY])};
    programs.set(uFogParams, params, 3);
    float fog[4];
    colorOf(rs[d3d::D3DRS_FOGCOLOR], fog);
    programs.set(uFogColor, fog, 3);
  }

  const bool alphaTest = rs[d3d::D3DRS_ALPHATESTENABLE] != 0;
  const DWORD alphaFunc = alphaTest ? rs[d3d::D3DRS_ALPHAFUNC] : d3d::D3DCMP_ALWAYS;
  compareFunc(alphaFunc, call);
  programs.setInt(uAlphaFunc, static_cast<int>(alphaFunc));
  if (alphaTest) programs.setInt(uAlphaRef, static_cast<int>(rs[d3d::D3DRS_ALPHAREF] & 0xFF));

  float factor[4];
  colorOf(rs[d3d::D3DRS_TEXTUREFACTOR], factor);
  programs.set(uTextureFactor, factor, 4);

  const float size[3] = {floatOf(rs[d3d::D3DRS_POINTSIZE]), floatOf(rs[d3d::D3DRS_POINTSIZE_MIN]),
                         floatOf(rs[d3d::D3DRS_POINTSIZE_MAX])};
  programs.set(uPointSize, size, 3);
  programs.setInt(uPointScale, rs[d3d::D3DRS_POINTSCALEENABLE] != 0);
  if (rs[d3d::D3DRS_POINTSCALEENABLE]) {
    const float abc[3] = {floatOf(rs[d3d::D3DRS_POINTSCALE_A]), floatOf(rs[d3d::D3DRS_POINTSCALE_B]),
                          floatOf(rs[d3d::D3DRS_POINTSCALE_C])};
    programs.set(uPointScaleABC, abc, 3);
    programs.setFloat(uViewportHeight, static_cast<float>(s.viewportHeight));
  }
}

// Direct3D 8 lights transformed vertices only. A material source naming a colour the record does
// not have, or any source with D3DRS_COLORVERTEX off, is the material's own colour.
void GlBackend::Impl::applyLighting(const d3d::DeviceState& s, const VertexLayout& l, const char* call) {
  const auto& rs = s.renderStates;
  const bool lit = rs[d3d::D3DRS_LIGHTING] != 0 && !l.preTransformed;
  programs.setInt(uLighting, lit);
  if (!lit) return;
  static constexpr DWORD kSourceStates[4] = {
      d3d::D3DRS_DIFFUSEMATERIALSOURCE, d3d::D3DRS_AMBIENTMATERIALSOURCE, d3d::D3DRS_SPECULARMATERIALSOURCE,
      d3d::D3DRS_EMISSIVEMATERIALSOURCE};
  int sources[4];
  for (int i = 0; i < 4; ++i) {
    const DWORD source = rs[kSourceStates[i]];
    if (source > d3d::D3DMCS_COLOR2)
      throw platform::Error(call, "material source " + std::to_string(source) + " unknown");
    const bool present = source == d3d::D3DMCS_COLOR1 ? l.diffuse >= 0 : l.specular >= 0;
    sources[i] = rs[d3d::D3DRS_COLORVERTEX] != 0 && source != d3d::D3DMCS_MATERIAL && present
                     ? static_cast<int>(source)
                     : static_cast<int>(d3d::D3DMCS_MATERIAL);
  }
  programs.set(uMaterialSources, sources, 4);
  programs.setInt(uSpecular, rs[d3d::D3DRS_SPECULARENABLE] != 0);
  programs.setInt(uLocalViewer, rs[d3d::D3DRS_LOCALVIEWER] != 0);
  programs.setInt(uNormalizeNormals, rs[d3d::D3DRS_NORMALIZENORMALS] != 0);
  programs.setInt(uNormals, l.normal >= 0);

  float ambient[4];
  colorOf(rs[d3d::D3DRS_AMBIENT], ambient);
  programs.set(uAmbient, ambient, 4);
  // Diffuse, ambient, specular and emissive, as the material holds them.
  float material[16];
  static_assert(sizeof material == 4 * sizeof(d3d::D3DCOLORVALUE));
  std::memcpy(material, &s.material, sizeof material);
  programs.set(uMaterial, material, 16);
  programs.setFloat(uPower, s.material.Power);

  int count = 0;
  for (const auto& [index, slot] : s.lights) {
    if (!slot.enabled) continue;
    const d3d::D3DLIGHT8& c = slot.light;
    // Positions and directions are given in world space; the shader lights in view space.
    const d3d::D3DVECTOR at = d3dx::D3DXVec3TransformCoord(c.Position, s.view);
    d3d::D3DVECTOR dir = d3dx::D3DXVec3TransformNormal(c.Direction, s.view);
    d3dx::D3DXVec3Normalize(&dir, &dir);
    const float cosHalfTheta = std::cos(c.Theta / 2), cosHalfPhi = std::cos(c.Phi / 2);
    // The columns the shader reads (FixedFunctionShader.cpp): diffuse, specular, ambient, then the
    // position and type; the direction and range, the attenuation and falloff, the cone.
    const float colour[16] = {c.Diffuse.r,  c.Diffuse.g,  c.Diffuse.b,  c.Diffuse.a,
                              c.Specular.r, c.Specular.g, c.Specular.b, c.Specular.a,
                              c.Ambient.r,  c.Ambient.g,  c.Ambient.b,  c.Ambient.a,
                              at.x,         at.y,         at.z,         static_cast<float>(c.Type)};
    // clang-format off
    const float shape[16] = {dir.x,          dir.y,          dir.z,          c.Range,
                             c.Attenuation0, c.Attenuation1, c.Attenuation2, c.Falloff,
                             cosHalfTheta,   cosHalfPhi,     0,              0,
                             0,              0,              0,              0};
    // clang-format on
    programs.set(static_cast<Uniform>(uLightColour0 + count), colour, 16);
    programs.set(static_cast<Uniform>(uLightShape0 + count), shape, 16);
    ++count;
  }
  programs.setInt(uLightCount, count);
}

// Direct3D 8 chains the stages up to the first whose colour operation is DISABLE; a disabled
// stage 0 leaves the diffuse colour. Stages from 2 on are not blended, so enabling one is an error
// rather than a picture without it.
void GlBackend::Impl::applyStages(const d3d::DrawCall& c, const d3d::DeviceState& s, const char* call,
                                  DWORD (&texIndex)[kStages]) {
  bool enabled = true;
  for (DWORD i = 0; i < kStages; ++i) {
    enabled = enabled && s.stageStates[i][d3d::D3DTSS_COLOROP] != d3d::D3DTOP_DISABLE;
    texIndex[i] = applyStage(i, enabled, s, call);
  }
  if (enabled && s.stageStates[kStages][d3d::D3DTSS_COLOROP] != d3d::D3DTOP_DISABLE)
    throw platform::Error(call, "texture stage " + std::to_string(kStages) +
                                    " is enabled, but the device blends stages 0 and 1 only");
  // Point sprites cover their texture on every stage.
  programs.setInt(uSpriteCoords,
                  c.type == d3d::D3DPT_POINTLIST && s.renderStates[d3d::D3DRS_POINTSPRITEENABLE] != 0);
}

// Stage i's operations, texture and sampling; returns the coordinate set it reads, or kNoTexCoord
// when it takes no part in the draw (then nothing of it reaches GL but its DISABLE).
DWORD GlBackend::Impl::applyStage(DWORD i, bool enabled, const d3d::DeviceState& s, const char* call) {
  const auto& ts = s.stageStates[i];
  if (!enabled) {
    const int off[4] = {static_cast<int>(d3d::D3DTOP_DISABLE), 0, 0, 0};
    programs.set(kColorOpOf[i], off, 4);
    return kNoTexCoord;
  }
  const DWORD colorOp = ts[d3d::D3DTSS_COLOROP], alphaOp = ts[d3d::D3DTSS_ALPHAOP];
  const int reads = argumentsOf(colorOp, false, i, call) | argumentsOf(alphaOp, true, i, call);
  const DWORD colorArgs[3] = {ts[d3d::D3DTSS_COLORARG1], ts[d3d::D3DTSS_COLORARG2],
                              ts[d3d::D3DTSS_COLORARG0]};
  const DWORD alphaArgs[3] = {ts[d3d::D3DTSS_ALPHAARG1], ts[d3d::D3DTSS_ALPHAARG2],
                              ts[d3d::D3DTSS_ALPHAARG0]};
  for (int a = 0; a < 3; ++a) {
    if (reads & (1 << a)) {
      checkArgument(colorArgs[a], i, call);
      checkArgument(alphaArgs[a], i, call);
    }
  }
  if (ts[d3d::D3DTSS_RESULTARG] != d3d::D3DTA_CURRENT)
    throw platform::Error(call, "stage " + std::to_string(i) + " result argument " +
                                    hex(ts[d3d::D3DTSS_RESULTARG]) +
                                    " not supported: every stage writes the current colour");
  const int cop[4] = {static_cast<int>(colorOp), static_cast<int>(colorArgs[0]),
                      static_cast<int>(colorArgs[1]), static_cast<int>(colorArgs[2])};
  const int aop[4] = {static_cast<int>(alphaOp), static_cast<int>(alphaArgs[0]),
                      static_cast<int>(alphaArgs[1]), static_cast<int>(alphaArgs[2])};
  programs.set(kColorOpOf[i], cop, 4);
  programs.set(kAlphaOpOf[i], aop, 4);

  GLuint tex = whiteTexture;
  if (d3d::Texture* t = s.textures[i].get()) {
    static constexpr const char* kWhat[kStages] = {"the stage-0 texture", "the stage-1 texture"};
    if (!t->backendHandle)
      throw platform::Error(call, std::string(kWhat[i]) + " was not made by this device", t->source);
    tex = nameOf(t->backendHandle, call, kWhat[i]);
  }
  cache.bindTexture(i, tex);
  const GLint mag = magFilter(ts[d3d::D3DTSS_MAGFILTER]);
  const GLint min = minFilter(ts[d3d::D3DTSS_MINFILTER], ts[d3d::D3DTSS_MIPFILTER]);
  const GLint wrapS = addressMode(ts[d3d::D3DTSS_ADDRESSU], dialect.borderWrap(), call);
  const GLint wrapT = addressMode(ts[d3d::D3DTSS_ADDRESSV], dialect.borderWrap(), call);
  const bool borderU = ts[d3d::D3DTSS_ADDRESSU] == d3d::D3DTADDRESS_BORDER;
  const bool borderV = ts[d3d::D3DTSS_ADDRESSV] == d3d::D3DTADDRESS_BORDER;
  float border[4];
  colorOf(ts[d3d::D3DTSS_BORDERCOLOR], border);
  // The sampler holds the border colour only where it samples the border.
  float samplerBorder[4] = {0, 0, 0, 0};
  if (dialect.bordersInShader()) {
    const int how[4] = {borderU, borderV, mag == GL_LINEAR, ts[d3d::D3DTSS_MINFILTER] >= d3d::D3DTEXF_LINEAR};
    programs.set(kBorderOf[i], how, 4);
    if (borderU || borderV) programs.set(kBorderColorOf[i], border, 4);
  } else if (borderU || borderV) {
    std::memcpy(samplerBorder, border, sizeof border);
  }
  cache.bindSampler(i, samplerFor(mag, min, wrapS, wrapT, samplerBorder));

  const DWORD set = ts[d3d::D3DTSS_TEXCOORDINDEX];
  if (set > 0xFFFF)
    throw platform::Error(
        call, "stage " + std::to_string(i) + " texture coordinate generation " + hex(set) + " not supported");
  return set;
}

GLuint GlBackend::Impl::samplerFor(GLint mag, GLint min, GLint wrapS, GLint wrapT, const float (&border)[4]) {
  auto& all = cache.samplers;
  for (const auto& smp : all)
    if (smp.magFilter == mag && smp.minFilter == min && smp.wrapS == wrapS && smp.wrapT == wrapT &&
        std::memcmp(smp.border, border, sizeof border) == 0)
      return smp.name;
  // A frame uses a few; a program that keeps changing border colours starts the set again.
  if (all.size() >= 64) {
    for (const auto& smp : all) glDeleteSamplers(1, &smp.name);
    all.clear();
    for (auto& u : cache.unit) u.sampler = ~0u;
  }
  GlStateCache::Sampler smp{mag, min, wrapS, wrapT, {border[0], border[1], border[2], border[3]}, 0};
  glGenSamplers(1, &smp.name);
  glSamplerParameteri(smp.name, GL_TEXTURE_MAG_FILTER, mag);
  glSamplerParameteri(smp.name, GL_TEXTURE_MIN_FILTER, min);
  glSamplerParameteri(smp.name, GL_TEXTURE_WRAP_S, wrapS);
  glSamplerParameteri(smp.name, GL_TEXTURE_WRAP_T, wrapT);
  if (border[0] != 0 || border[1] != 0 || border[2] != 0 || border[3] != 0)
    glSamplerParameterfv(smp.name, GL_TEXTURE_BORDER_COLOR, border);
  all.push_back(smp);
  return smp.name;
}

void GlBackend::Impl::setAttributes(GLuint buffer, const d3d::DrawCall& c, const VertexLayout& l,
                                    const DWORD (&texIndex)[kStages]) {
  auto& arrays = cache.vertexArrays;
  std::size_t found = SIZE_MAX;
  for (std::size_t i = 0; i < arrays.size() && found == SIZE_MAX; ++i) {
    const auto& a = arrays[i];
    if (a.buffer == buffer && a.fvf == c.fvf && a.stride == c.stride &&
        std::equal(std::begin(texIndex), std::end(texIndex), std::begin(a.texIndex)))
      found = i;
  }
  if (found != SIZE_MAX) {
    cache.bindVertexArray(found);
  } else {
    // Each buffer is read in one or two formats; many more means buffers come and go, and the set
    // starts again.
    if (arrays.size() >= 64) {
      for (const auto& a : arrays) glDeleteVertexArrays(1, &a.name);
      arrays.clear();
      cache.currentArray = SIZE_MAX;
    }
    GlStateCache::VertexArray a;
    a.buffer = buffer;
    a.fvf = c.fvf;
    a.stride = c.stride;
    std::copy(std::begin(texIndex), std::end(texIndex), std::begin(a.texIndex));
    glGenVertexArrays(1, &a.name);
    arrays.push_back(a);
    cache.bindVertexArray(arrays.size() - 1);
    // A new vertex array has every array disabled and no index buffer.
    arrays.back().elementBuffer = 0;
    cache.bindArrayBuffer(buffer);
    const GLsizei stride = static_cast<GLsizei>(c.stride);
    const auto at = [](int field) { return reinterpret_cast<const void*>(static_cast<std::size_t>(field)); };
    glEnableVertexAttribArray(kAttrPosition);
    glVertexAttribPointer(kAttrPosition, l.preTransformed ? 4 : 3, GL_FLOAT, GL_FALSE, stride, at(0));
    const auto array = [&](Attribute attr, int field, GLint size, GLenum type) {
      if (field < 0) return;
      glEnableVertexAttribArray(attr);
      glVertexAttribPointer(attr, size, type, type == GL_UNSIGNED_BYTE ? GL_TRUE : GL_FALSE, stride, at(field));
    };
    array(kAttrDiffuse, l.diffuse, dialect.diffuseSize(), GL_UNSIGNED_BYTE);
    array(kAttrNormal, l.normal, 3, GL_FLOAT);
    array(kAttrSpecular, l.specular, dialect.diffuseSize(), GL_UNSIGNED_BYTE);
    array(kAttrTexCoord0, l.texCoord[0], l.texCoordFloats[0], GL_FLOAT);
    array(kAttrTexCoord1, l.texCoord[1], l.texCoordFloats[1], GL_FLOAT);
    array(kAttrPointSize, l.pointSize, 1, GL_FLOAT);
  }
  // What each attribute reads where the record has no such field: white for the diffuse colour;
  // no normal and no specular colour (only lit programs read them); (0, 0) for a coordinate set; the
  // device's point size.
  static constexpr float kWhite[4] = {1, 1, 1, 1}, kZero[4] = {0, 0, 0, 0}, kNoCoord[4] = {0, 0, 0, 1},
                         kPointSize[4] = {1, 0, 0, 1};
  if (l.diffuse < 0) cache.setConstant(kAttrDiffuse, kWhite);
  if (l.normal < 0) cache.setConstant(kAttrNormal, kZero);
  if (l.specular < 0) cache.setConstant(kAttrSpecular, kZero);
  if (l.texCoord[0] < 0) cache.setConstant(kAttrTexCoord0, kNoCoord);
  if (l.texCoord[1] < 0) cache.setConstant(kAttrTexCoord1, kNoCoord);
  if (l.pointSize < 0) cache.setConstant(kAttrPointSize, kPointSize);
}

}  // namespace gl
