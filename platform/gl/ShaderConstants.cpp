#include "platform/gl/ShaderConstants.h"

#include <cstring>
#include <iterator>
#include <span>

namespace gl {

namespace {

struct NamedConstant {
  const char* name;
  d3d::DWORD value;
};

#define WG_CONSTANT(n) \
  NamedConstant {      \
#n, d3d::n         \
  }
// Only what the shader computes: PREMODULATE and the bump-map operations are refused before a
// program is made, and the specular argument reads as black.
constexpr NamedConstant kConstants[] = {
    WG_CONSTANT(D3DTOP_DISABLE),
    WG_CONSTANT(D3DTOP_SELECTARG1),
    WG_CONSTANT(D3DTOP_SELECTARG2),
    WG_CONSTANT(D3DTOP_MODULATE),
    WG_CONSTANT(D3DTOP_MODULATE2X),
    WG_CONSTANT(D3DTOP_MODULATE4X),
    WG_CONSTANT(D3DTOP_ADD),
    WG_CONSTANT(D3DTOP_ADDSIGNED),
    WG_CONSTANT(D3DTOP_ADDSIGNED2X),
    WG_CONSTANT(D3DTOP_SUBTRACT),
    WG_CONSTANT(D3DTOP_ADDSMOOTH),
    WG_CONSTANT(D3DTOP_BLENDDIFFUSEALPHA),
    WG_CONSTANT(D3DTOP_BLENDTEXTUREALPHA),
    WG_CONSTANT(D3DTOP_BLENDFACTORALPHA),
    WG_CONSTANT(D3DTOP_BLENDTEXTUREALPHAPM),
    WG_CONSTANT(D3DTOP_BLENDCURRENTALPHA),
    WG_CONSTANT(D3DTOP_MODULATEALPHA_ADDCOLOR),
    WG_CONSTANT(D3DTOP_MODULATECOLOR_ADDALPHA),
    WG_CONSTANT(D3DTOP_MODULATEINVALPHA_ADDCOLOR),
    WG_CONSTANT(D3DTOP_MODULATEINVCOLOR_ADDALPHA),
    WG_CONSTANT(D3DTOP_DOTPRODUCT3),
    WG_CONSTANT(D3DTOP_MULTIPLYADD),
    WG_CONSTANT(D3DTOP_LERP),
    WG_CONSTANT(D3DTA_SELECTMASK),
    WG_CONSTANT(D3DTA_DIFFUSE),
    WG_CONSTANT(D3DTA_CURRENT),
    WG_CONSTANT(D3DTA_TEXTURE),
    WG_CONSTANT(D3DTA_TFACTOR),
    WG_CONSTANT(D3DTA_SPECULAR),
    WG_CONSTANT(D3DTA_COMPLEMENT),
    WG_CONSTANT(D3DTA_ALPHAREPLICATE),
    WG_CONSTANT(D3DCMP_NEVER),
    WG_CONSTANT(D3DCMP_LESS),
    WG_CONSTANT(D3DCMP_EQUAL),
    WG_CONSTANT(D3DCMP_LESSEQUAL),
    WG_CONSTANT(D3DCMP_GREATER),
    WG_CONSTANT(D3DCMP_NOTEQUAL),
    WG_CONSTANT(D3DCMP_GREATEREQUAL),
    WG_CONSTANT(D3DCMP_ALWAYS),
    WG_CONSTANT(D3DFOG_NONE),
    WG_CONSTANT(D3DFOG_EXP),
    WG_CONSTANT(D3DFOG_EXP2),
    WG_CONSTANT(D3DFOG_LINEAR),
};
// What lit programs alone compare against: material sources and light types. Kept apart so that
// the programs of unlit draws are made from the same source as before lighting existed.
constexpr NamedConstant kLightingConstants[] = {
    WG_CONSTANT(D3DMCS_MATERIAL), WG_CONSTANT(D3DMCS_COLOR1), WG_CONSTANT(D3DMCS_COLOR2),
    WG_CONSTANT(D3DLIGHT_POINT),  WG_CONSTANT(D3DLIGHT_SPOT), WG_CONSTANT(D3DLIGHT_DIRECTIONAL),
};
#undef WG_CONSTANT

template <std::size_t N>
std::string block(const NamedConstant (&constants)[N]) {
  std::string s;
  for (const NamedConstant& c : constants)
    s += "#define " + std::string(c.name) + " " + std::to_string(c.value) + "\n";
  return s;
}

}  // namespace

const std::string& ShaderConstantBlock() {
  static const std::string constants = block(kConstants);
  return constants;
}

const std::string& LightingConstantBlock() {
  static const std::string constants = block(kLightingConstants);
  return constants;
}

const char* ShaderConstantName(const char* family, d3d::DWORD value) {
  const std::size_t n = std::strlen(family);
  for (const std::span<const NamedConstant> table :
       {std::span<const NamedConstant>(kConstants), std::span<const NamedConstant>(kLightingConstants)})
    for (const NamedConstant& c : table)
      if (c.value == value && std::strncmp(c.name, family, n) == 0 &&
          std::strcmp(c.name, "D3DTA_SELECTMASK") != 0)
        return c.name;
  return nullptr;
}

}  // namespace gl
