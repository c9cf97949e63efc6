#include "platform/gl/ProgramKey.h"

#include "platform/base/Error.h"
#include "platform/d3d/d3d8types.h"
#include "platform/gl/ShaderConstants.h"

namespace gl {

namespace {

constexpr const char* kChannel[2] = {"colour", "alpha"};

std::string stageName(int stage, int channel) {
  return "stage " + std::to_string(stage) + " " + kChannel[channel];
}

// Appends `value` in `bits` bits to a 128-bit key. `stage` -1: a state of no stage. Nothing is
// allocated unless the value does not fit: a key is packed on every draw.
struct Packer {
  ProgramKey::Packed key{};
  int at = 0;
  void put(int value, int bits, const char* field, int stage = -1, int channel = 0) {
    if (value < 0 || value >= (1 << bits)) {
      const std::string what = stage < 0 ? field : stageName(stage, channel) + " " + field;
      throw platform::Error("Draw", "the program key cannot hold " + what + " " + std::to_string(value));
    }
    const auto v = static_cast<std::uint64_t>(value);
    const auto word = static_cast<std::size_t>(at / 64);
    const int shift = at % 64;
    key[word] |= v << shift;
    if (shift + bits > 64) key[word + 1] |= v >> (64 - shift);
    at += bits;
  }
};

std::string name(const char* family, int value, const std::string& field) {
  const char* n = ShaderConstantName(family, static_cast<d3d::DWORD>(value));
  if (!n || value < 0)
    throw platform::Error("Draw", "the shader has no name for " + field + " " + std::to_string(value));
  return n;
}

std::string argument(int a, const std::string& field) {
  const int modifiers = static_cast<int>(d3d::D3DTA_COMPLEMENT | d3d::D3DTA_ALPHAREPLICATE);
  const int source = a & ~modifiers;
  std::string s = name("D3DTA_", a < 0 ? a : source, field);
  if (a & static_cast<int>(d3d::D3DTA_COMPLEMENT)) s += " | D3DTA_COMPLEMENT";
  if (a & static_cast<int>(d3d::D3DTA_ALPHAREPLICATE)) s += " | D3DTA_ALPHAREPLICATE";
  return "(" + s + ")";
}

std::string define(const char* constant, const std::string& value) {
  return std::string("#define ") + constant + " " + value + "\n";
}
std::string define(const char* constant, bool value) {
  return define(constant, std::string(value ? "true" : "false"));
}

}  // namespace

ProgramKey ProgramKey::canonical() const {
  ProgramKey k = *this;
  const int disable = static_cast<int>(d3d::D3DTOP_DISABLE);
  for (int stage = 0; stage < 2; ++stage) {
    if (k.stageOps[stage][0][0] != disable) continue;
    for (int later = stage; later < 2; ++later) {
      k.stageOps[later] = {};
      k.stageOps[later][0][0] = k.stageOps[later][1][0] = disable;
      k.borders[static_cast<std::size_t>(later)] = false;
    }
    break;
  }
  if (k.fogMode == 0) k.vertexFog = false;
  if (!k.lighting) {
    k.lightCount = 0;
    k.materialSources = {};
    k.specular = k.normalizeNormals = k.normals = false;
  }
  if (!k.specular) {
    k.localViewer = false;
    k.materialSources[2] = 0;
  }
  if (!k.normals) k.normalizeNormals = false;
  return k;
}

ProgramKey::Packed ProgramKey::pack() const {
  Packer p;
  p.put(preTransformed, 1, "pre-transformed");
  p.put(vertexPointSize, 1, "vertex point size");
  p.put(pointScale, 1, "point scale");
  p.put(fogMode, 2, "fog mode");
  p.put(vertexFog, 1, "vertex fog");
  p.put(flat, 1, "flat shading");
  p.put(spriteCoords, 1, "sprite coordinates");
  for (int stage = 0; stage < 2; ++stage)
    for (int channel = 0; channel < 2; ++channel) {
      const auto& op = stageOps[stage][channel];
      p.put(op[0], 5, "operation", stage, channel);
      for (int a = 1; a < 4; ++a) p.put(op[a], 6, "argument", stage, channel);
    }
  p.put(alphaFunc, 4, "alpha function");
  for (const bool border : borders) p.put(border, 1, "border addressing");
  p.put(lighting, 1, "lighting");
  p.put(lightCount, 4, "light count");
  for (int source : materialSources) p.put(source, 2, "material source");
  p.put(specular, 1, "specular");
  p.put(localViewer, 1, "local viewer");
  p.put(normalizeNormals, 1, "normalize normals");
  p.put(normals, 1, "normals");
  return p.key;
}

std::string ProgramKeyDefines(const ProgramKey& key) {
  std::string s;
  s += define("kPreTransformed", key.preTransformed);
  s += define("kVertexPointSize", key.vertexPointSize);
  s += define("kPointScale", key.pointScale);
  s += define("kFogMode", name("D3DFOG_", key.fogMode, "fog mode"));
  s += define("kVertexFog", key.vertexFog);
  s += define("kFlat", key.flat);
  s += define("kSpriteCoords", key.spriteCoords);
  static constexpr const char* kOps[2][2] = {{"kColorOp0", "kAlphaOp0"}, {"kColorOp1", "kAlphaOp1"}};
  for (int stage = 0; stage < 2; ++stage)
    for (int channel = 0; channel < 2; ++channel) {
      const auto& op = key.stageOps[stage][channel];
      const std::string field = stageName(stage, channel);
      std::string v = "ivec4(" + name("D3DTOP_", op[0], field + " operation");
      for (int a = 1; a < 4; ++a) v += ", " + argument(op[a], field + " argument");
      s += define(kOps[stage][channel], v + ")");
    }
  s += define("kAlphaFunc", name("D3DCMP_", key.alphaFunc, "alpha function"));
  if (!key.lighting) return s;
  if (key.lightCount < 0 || key.lightCount > static_cast<int>(d3d::kMaxActiveLights))
    throw platform::Error("Draw",
                          "the shader cannot light with " + std::to_string(key.lightCount) + " lights");
  s += define("kLightCount", std::to_string(key.lightCount));
  // GLSL has no arrays of length 0.
  s += define("kLightSlots", std::to_string(key.lightCount > 0 ? key.lightCount : 1));
  static constexpr const char* kSources[4][2] = {{"kDiffuseSource", "diffuse"},
                                                 {"kAmbientSource", "ambient"},
                                                 {"kSpecularSource", "specular"},
                                                 {"kEmissiveSource", "emissive"}};
  for (std::size_t i = 0; i < 4; ++i)
    s += define(kSources[i][0],
                name("D3DMCS_", key.materialSources[i], std::string(kSources[i][1]) + " material source"));
  s += define("kSpecular", key.specular);
  s += define("kLocalViewer", key.localViewer);
  s += define("kNormalizeNormals", key.normalizeNormals);
  s += define("kNormals", key.normals);
  return s;
}

}  // namespace gl
