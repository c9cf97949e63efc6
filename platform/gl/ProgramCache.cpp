#include "platform/gl/ProgramCache.h"

#include <cstring>
#include <iterator>

#include "platform/base/Error.h"
#include "platform/d3d/d3d8types.h"

namespace gl {

namespace {

constexpr const char* kUniformNames[] = {
    "uWorldView",       "uProjection",     "uPreTransformed", "uTarget",           "uVertexPointSize",
    "uPointSize",       "uPointScale",     "uPointScaleABC",  "uViewportHeight",   "uFogMode",
    "uVertexFog",       "uFogParams",      "uTexture0",       "uTexture1",         "uFlat",
    "uSpriteCoords",    "uColorOp0",       "uAlphaOp0",       "uColorOp1",         "uAlphaOp1",
    "uTextureFactor",   "uAlphaFunc",      "uAlphaRef",       "uFogColor",         "uBorder[0]",
    "uBorder[1]",       "uBorderColor[0]", "uBorderColor[1]", "uLighting",         "uLightCount",
    "uMaterialSources", "uSpecular",       "uLocalViewer",    "uNormalizeNormals", "uNormals",
    "uAmbient",         "uMaterial",       "uPower",          "uLightColour[0]",   "uLightColour[1]",
    "uLightColour[2]",  "uLightColour[3]", "uLightColour[4]", "uLightColour[5]",   "uLightColour[6]",
    "uLightColour[7]",  "uLightShape[0]",  "uLightShape[1]",  "uLightShape[2]",    "uLightShape[3]",
    "uLightShape[4]",   "uLightShape[5]",  "uLightShape[6]",  "uLightShape[7]"};
static_assert(std::size(kUniformNames) == kUniformCount);
static_assert(uLightShape0 - uLightColour0 == static_cast<int>(d3d::kMaxActiveLights));

GLuint compile(GLenum type, const std::string& text, const char* call) {
  const GLuint s = glCreateShader(type);
  const char* source = text.c_str();
  glShaderSource(s, 1, &source, nullptr);
  glCompileShader(s);
  GLint ok = 0;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048] = {};
    glGetShaderInfoLog(s, sizeof log, nullptr, log);
    glDeleteShader(s);
    throw platform::Error(call, std::string("the fixed-function shader does not compile: ") + log);
  }
  return s;
}

}  // namespace

ProgramKey ProgramCache::wantedKey() const {
  ProgramKey k;
  const auto flag = [&](Uniform u) { return wanted_[u].i[0] != 0; };
  k.preTransformed = flag(uPreTransformed);
  k.vertexPointSize = flag(uVertexPointSize);
  k.pointScale = flag(uPointScale);
  k.fogMode = wanted_[uFogMode].i[0];
  k.vertexFog = flag(uVertexFog);
  k.flat = flag(uFlat);
  k.spriteCoords = flag(uSpriteCoords);
  static constexpr Uniform kOps[2][2] = {{uColorOp0, uAlphaOp0}, {uColorOp1, uAlphaOp1}};
  for (int stage = 0; stage < 2; ++stage)
    for (int channel = 0; channel < 2; ++channel)
      std::memcpy(k.stageOps[stage][channel].data(), wanted_[kOps[stage][channel]].i, sizeof(int) * 4);
  k.alphaFunc = wanted_[uAlphaFunc].i[0];
  k.borders = {wanted_[uBorder0].i[0] != 0 || wanted_[uBorder0].i[1] != 0,
               wanted_[uBorder1].i[0] != 0 || wanted_[uBorder1].i[1] != 0};
  k.lighting = flag(uLighting);
  k.lightCount = wanted_[uLightCount].i[0];
  std::memcpy(k.materialSources.data(), wanted_[uMaterialSources].i, sizeof(int) * 4);
  k.specular = flag(uSpecular);
  k.localViewer = flag(uLocalViewer);
  k.normalizeNormals = flag(uNormalizeNormals);
  k.normals = flag(uNormals);
  return k.canonical();
}

ProgramCache::Program ProgramCache::link(const ProgramKey& key, const char* call) const {
  const std::string defines = defines_(key);
  const GLuint vs =
      compile(GL_VERTEX_SHADER, FixedFunctionShaderSource(ShaderStage::Vertex, dialect_, defines, key), call);
  GLuint fs = 0;
  try {
    fs = compile(GL_FRAGMENT_SHADER, FixedFunctionShaderSource(ShaderStage::Fragment, dialect_, defines, key),
                 call);
  } catch (...) {
    glDeleteShader(vs);
    throw;
  }
  Program p;
  p.name = glCreateProgram();
  glAttachShader(p.name, vs);
  glAttachShader(p.name, fs);
  glLinkProgram(p.name);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(p.name, GL_LINK_STATUS, &ok);
  if (!ok) {
    char log[2048] = {};
    glGetProgramInfoLog(p.name, sizeof log, nullptr, log);
    glDeleteProgram(p.name);
    throw platform::Error(call, std::string("the fixed-function shader does not link: ") + log);
  }
  for (int u = 0; u < kUniformCount; ++u) p.location[u] = glGetUniformLocation(p.name, kUniformNames[u]);
  return p;
}

void ProgramCache::use(const char* call) {
  const ProgramKey key = wantedKey();
  const ProgramKey::Packed packed = key.pack();
  Program* p = current_;
  if (!p || packed != currentKey_) {
    auto it = programs_.find(packed);
    if (it == programs_.end()) it = programs_.emplace(packed, link(key, call)).first;
    p = &it->second;
    currentKey_ = packed;
  }
  if (current_ != p) {
    glUseProgram(p->name);
    current_ = p;
  }
  upload(*p);
}

void ProgramCache::upload(Program& p) {
  for (int u = 0; u < kUniformCount; ++u) {
    const Wanted& w = wanted_[u];
    const GLint loc = p.location[u];
    if (!w.set || loc < 0) continue;
    if (p.valueSet[u] && std::memcmp(p.value[u], w.f, sizeof(float) * w.n) == 0) continue;
    std::memcpy(p.value[u], w.f, sizeof(float) * w.n);
    p.valueSet[u] = true;
    if (w.isInt) {
      if (w.n == 1) glUniform1i(loc, w.i[0]);
      if (w.n == 4) glUniform4i(loc, w.i[0], w.i[1], w.i[2], w.i[3]);
    } else {
      if (w.n == 1) glUniform1f(loc, w.f[0]);
      if (w.n == 2) glUniform2f(loc, w.f[0], w.f[1]);
      if (w.n == 3) glUniform3f(loc, w.f[0], w.f[1], w.f[2]);
      if (w.n == 4) glUniform4f(loc, w.f[0], w.f[1], w.f[2], w.f[3]);
      if (w.n == 16) glUniformMatrix4fv(loc, 1, GL_FALSE, w.f);
    }
  }
}

void ProgramCache::release() {
  for (auto& [key, p] : programs_) glDeleteProgram(p.name);
  programs_.clear();
  current_ = nullptr;
}

}  // namespace gl
