// The fixed-function states that change what the shader computes rather than the numbers it
// computes with. Each combination gets its own program, made from the shader's source with the
// combination as a #define block, so the compiler drops every branch the draw does not take (a
// fragment shader without discard also keeps early depth tests). The rest (matrices, colours, fog
// range, point sizes) stay uniforms in every program.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace gl {

struct ProgramKey {
  bool preTransformed = false, vertexPointSize = false, pointScale = false;
  int fogMode = 0;  // D3DFOG_*: 0 none
  bool vertexFog = false, flat = false, spriteCoords = false;
  // Per stage, colour then alpha: the D3DTOP, then the D3DTA arguments 1, 2 and 0.
  std::array<std::array<std::array<int, 4>, 2>, 2> stageOps{};
  int alphaFunc = 8;  // D3DCMP_ALWAYS
  // Per stage, whether its texture is addressed with a border, which the WebGL2 dialect draws in the
  // shader: only programs whose draws ask for it carry that code (the desktop dialect's samplers
  // have borders of their own, and it never sets these).
  std::array<bool, 2> borders{};
  // Direct3D's vertex lighting, on for transformed vertices under D3DRS_LIGHTING: how many lights
  // are enabled, where the material's diffuse, ambient, specular and emissive colours come from
  // (D3DMCS_*, already the material where the record lacks the colour), the lit specular colour
  // and its viewer, normal normalisation, and whether the record has normals. Unlit, every one is
  // 0, and the program is made from the same source as before lighting existed.
  bool lighting = false;
  int lightCount = 0;
  std::array<int, 4> materialSources{};
  bool specular = false, localViewer = false, normalizeNormals = false, normals = false;

  // The key with the values the shader never reads under the rest of it set to defaults, so that
  // draws differing only in them share a program: the stages after a disabled one and their borders, the vertex-fog
  // switch without fog, every lighting state when unlit, the viewer without specular.
  ProgramKey canonical() const;
  // The key in 128 bits, for finding its program. Throws platform::Error naming the field when a
  // value does not fit.
  using Packed = std::array<std::uint64_t, 2>;
  Packed pack() const;
};

// The #define block that makes the shader's source the program of `key`: each key state as a
// constant, operations and arguments by their Direct3D names. Throws platform::Error naming the
// state and its value when the shader has no name for it.
std::string ProgramKeyDefines(const ProgramKey& key);

}  // namespace gl
