// The fixed-function programs of one backend: the uniform values the device's state asks for, and
// one linked program per program key (ProgramKey.h), made on the key's first draw. Each program
// remembers the values it holds, so that unchanged values cost no GL call.
#pragma once

#include <cstddef>
#include <string>
#include <type_traits>
#include <unordered_map>

#include "platform/gl/FixedFunctionShader.h"
#include "platform/gl/GlApi.h"
#include "platform/gl/ProgramKey.h"

namespace gl {

enum Uniform {
  uWorldView,
  uProjection,
  uPreTransformed,
  uTarget,
  uVertexPointSize,
  uPointSize,
  uPointScale,
  uPointScaleABC,
  uViewportHeight,
  uFogMode,
  uVertexFog,
  uFogParams,
  uTexture0,
  uTexture1,
  uFlat,
  uSpriteCoords,
  uColorOp0,
  uAlphaOp0,
  uColorOp1,
  uAlphaOp1,
  uTextureFactor,
  uAlphaFunc,
  uAlphaRef,
  uFogColor,
  uBorder0,  // the WebGL2 dialect's border addressing (WebGl2Rules.h)
  uBorder1,
  uBorderColor0,
  uBorderColor1,
  uLighting,  // the lighting states of the program key
  uLightCount,
  uMaterialSources,
  uSpecular,
  uLocalViewer,
  uNormalizeNormals,
  uNormals,
  uAmbient,  // the numbers lit programs compute with
  uMaterial,
  uPower,
  uLightColour0,  // one per enabled light, up to d3d::kMaxActiveLights
  uLightShape0 = uLightColour0 + 8,
  kUniformCount = uLightShape0 + 8
};

// The #define block a program is made from; ProgramKeyDefines unless a test compares another.
using KeyDefinesFn = std::string (*)(const ProgramKey& key);

class ProgramCache {
 public:
  ProgramCache(GlDialect dialect, KeyDefinesFn defines) : dialect_(dialect), defines_(defines) {}

  template <class T>
  void set(Uniform u, const T* v, int n) {
    Wanted& w = wanted_[u];
    for (int i = 0; i < n; ++i) w.f[i] = static_cast<float>(v[i]);
    if constexpr (std::is_same_v<T, int>)
      for (int i = 0; i < n; ++i) w.i[i] = v[i];
    w.n = n;
    w.isInt = std::is_same_v<T, int>;
    w.set = true;
  }
  void setInt(Uniform u, int v) { set(u, &v, 1); }
  void setFloat(Uniform u, float v) { set(u, &v, 1); }

  // Binds the program for the key the wanted values describe, made on first use, with every
  // wanted value it reads.
  void use(const char* call);
  std::size_t size() const { return programs_.size(); }
  // Deletes the programs; the backend's context is current.
  void release();

 private:
  struct Program {
    GLuint name = 0;
    GLint location[kUniformCount] = {};
    float value[kUniformCount][16] = {};
    bool valueSet[kUniformCount] = {};
  };
  struct Wanted {
    float f[16] = {};
    int i[4] = {};
    int n = 0;
    bool isInt = false, set = false;
  };
  struct KeyHash {
    std::size_t operator()(const ProgramKey::Packed& k) const { return k[0] * 31 + k[1]; }
  };

  ProgramKey wantedKey() const;
  Program link(const ProgramKey& key, const char* call) const;
  void upload(Program& p);

  GlDialect dialect_;
  KeyDefinesFn defines_;
  Wanted wanted_[kUniformCount];
  std::unordered_map<ProgramKey::Packed, Program, KeyHash> programs_;
  Program* current_ = nullptr;
  ProgramKey::Packed currentKey_{};
};

}  // namespace gl
