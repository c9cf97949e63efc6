// The program key: the #define block each program is made from, the constants the shader names,
// the 128-bit packing, and the keys the generator refuses.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/Error.h"
#include "platform/d3d/d3d8types.h"
#include "platform/gl/FixedFunctionShader.h"
#include "platform/gl/ProgramKey.h"
#include "platform/gl/ShaderConstants.h"

namespace {

using namespace d3d;

// Stage 0 modulating the texture by the diffuse colour, stage 1 off, linear table fog.
gl::ProgramKey Textured() {
  gl::ProgramKey k;
  k.fogMode = D3DFOG_LINEAR;
  k.stageOps[0][0] = {D3DTOP_MODULATE, D3DTA_TEXTURE, D3DTA_DIFFUSE, D3DTA_CURRENT};
  k.stageOps[0][1] = {D3DTOP_SELECTARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT, D3DTA_DIFFUSE, D3DTA_CURRENT};
  k.stageOps[1][0] = {D3DTOP_DISABLE, 0, 0, 0};
  k.alphaFunc = D3DCMP_GREATER;
  return k;
}

std::string ErrorOf(const gl::ProgramKey& k) {
  try {
    gl::ProgramKeyDefines(k.canonical());
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "";
}

TEST(GlProgramKey, DefinesNameEveryStateByItsDirect3DName) {
  EXPECT_EQ(gl::ProgramKeyDefines(Textured().canonical()),
            "#define kPreTransformed false\n"
            "#define kVertexPointSize false\n"
            "#define kPointScale false\n"
            "#define kFogMode D3DFOG_LINEAR\n"
            "#define kVertexFog false\n"
            "#define kFlat false\n"
            "#define kSpriteCoords false\n"
            "#define kColorOp0 ivec4(D3DTOP_MODULATE, (D3DTA_TEXTURE), (D3DTA_DIFFUSE), (D3DTA_CURRENT))\n"
            "#define kAlphaOp0 ivec4(D3DTOP_SELECTARG1, (D3DTA_TEXTURE | D3DTA_COMPLEMENT), (D3DTA_DIFFUSE), "
            "(D3DTA_CURRENT))\n"
            "#define kColorOp1 ivec4(D3DTOP_DISABLE, (D3DTA_DIFFUSE), (D3DTA_DIFFUSE), (D3DTA_DIFFUSE))\n"
            "#define kAlphaOp1 ivec4(D3DTOP_DISABLE, (D3DTA_DIFFUSE), (D3DTA_DIFFUSE), (D3DTA_DIFFUSE))\n"
            "#define kAlphaFunc D3DCMP_GREATER\n");
}

TEST(GlProgramKey, TheShaderConstantsAreTheDeviceValues) {
  const std::string& block = gl::ShaderConstantBlock();
  EXPECT_NE(block.find("#define D3DTOP_MODULATE 4\n"), std::string::npos);
  EXPECT_NE(block.find("#define D3DTOP_LERP 26\n"), std::string::npos);
  EXPECT_NE(block.find("#define D3DTA_ALPHAREPLICATE 32\n"), std::string::npos);
  EXPECT_NE(block.find("#define D3DCMP_ALWAYS 8\n"), std::string::npos);
  EXPECT_NE(block.find("#define D3DFOG_LINEAR 3\n"), std::string::npos);
  // What the shader does not compute has no name.
  EXPECT_EQ(gl::ShaderConstantName("D3DTOP_", D3DTOP_PREMODULATE), nullptr);
  EXPECT_STREQ(gl::ShaderConstantName("D3DTA_", 0), "D3DTA_DIFFUSE");
}

TEST(GlProgramKey, AKeyTheGeneratorCannotExpressFailsNamingIt) {
  gl::ProgramKey k = Textured();
  k.stageOps[0][0][0] = D3DTOP_PREMODULATE;
  EXPECT_NE(ErrorOf(k).find("stage 0 colour operation 17"), std::string::npos) << ErrorOf(k);
  k = Textured();
  k.stageOps[0][1][2] = 0x40;
  EXPECT_NE(ErrorOf(k).find("stage 0 alpha argument 64"), std::string::npos) << ErrorOf(k);
  k = Textured();
  k.fogMode = 4;
  EXPECT_NE(ErrorOf(k).find("fog mode 4"), std::string::npos) << ErrorOf(k);
  k = Textured();
  k.alphaFunc = 0;
  EXPECT_NE(ErrorOf(k).find("alpha function 0"), std::string::npos) << ErrorOf(k);
}

TEST(GlProgramKey, PackingKeepsEveryStateAndRefusesWhatDoesNotFit) {
  const gl::ProgramKey base = Textured().canonical();
  // Stage 1 and the vertex-fog switch unread: they make no other program.
  gl::ProgramKey unread = Textured();
  unread.stageOps[1][1] = {D3DTOP_ADD, D3DTA_TFACTOR, 0, 0};
  EXPECT_EQ(unread.canonical().pack(), base.pack());
  gl::ProgramKey noFog = base;
  noFog.fogMode = 0;
  gl::ProgramKey noFogVertex = noFog;
  noFogVertex.vertexFog = true;
  EXPECT_EQ(noFogVertex.canonical().pack(), noFog.canonical().pack());
  // Each state read changes the key, in both halves of it.
  gl::ProgramKey flat = base, alpha = base;
  flat.flat = true;
  alpha.alphaFunc = D3DCMP_LESS;
  EXPECT_NE(flat.pack()[0], base.pack()[0]);
  EXPECT_EQ(flat.pack()[1], base.pack()[1]);
  EXPECT_EQ(alpha.pack()[0], base.pack()[0]);
  EXPECT_NE(alpha.pack()[1], base.pack()[1]);
  gl::ProgramKey tooBig = base;
  tooBig.stageOps[1][0][0] = 32;
  try {
    tooBig.pack();
    FAIL() << "an operation of 32 does not fit in the key";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("stage 1 colour operation 32"), std::string::npos) << e.what();
  }
}

// Textured(), lit by two lights with the vertex colour as diffuse and specular material.
gl::ProgramKey Lit() {
  gl::ProgramKey k = Textured();
  k.lighting = true;
  k.lightCount = 2;
  k.materialSources = {D3DMCS_COLOR1, D3DMCS_MATERIAL, D3DMCS_COLOR2, D3DMCS_MATERIAL};
  k.specular = k.localViewer = k.normalizeNormals = k.normals = true;
  return k;
}

TEST(GlProgramKey, UnlitKeysDefineNoLightingAndLitKeysNameTheirSources) {
  // Lighting states under an unlit key change neither its block nor its program.
  gl::ProgramKey unlit = Lit();
  unlit.lighting = false;
  EXPECT_EQ(gl::ProgramKeyDefines(unlit.canonical()), gl::ProgramKeyDefines(Textured().canonical()));
  EXPECT_EQ(unlit.canonical().pack(), Textured().canonical().pack());
  const std::string lit = gl::ProgramKeyDefines(Lit().canonical());
  EXPECT_EQ(lit.substr(0, gl::ProgramKeyDefines(Textured().canonical()).size()),
            gl::ProgramKeyDefines(Textured().canonical()));
  EXPECT_EQ(lit.substr(gl::ProgramKeyDefines(Textured().canonical()).size()),
            "#define kLightCount 2\n"
            "#define kLightSlots 2\n"
            "#define kDiffuseSource D3DMCS_COLOR1\n"
            "#define kAmbientSource D3DMCS_MATERIAL\n"
            "#define kSpecularSource D3DMCS_COLOR2\n"
            "#define kEmissiveSource D3DMCS_MATERIAL\n"
            "#define kSpecular true\n"
            "#define kLocalViewer true\n"
            "#define kNormalizeNormals true\n"
            "#define kNormals true\n");
  // No light: GLSL gets arrays of one slot it never reads.
  gl::ProgramKey dark = Lit();
  dark.lightCount = 0;
  EXPECT_NE(gl::ProgramKeyDefines(dark.canonical()).find("#define kLightCount 0\n#define kLightSlots 1\n"),
            std::string::npos);
  // The constants only lit programs read are kept out of every program's block.
  EXPECT_EQ(gl::ShaderConstantBlock().find("D3DMCS_"), std::string::npos);
  EXPECT_NE(gl::LightingConstantBlock().find("#define D3DMCS_COLOR2 2\n"), std::string::npos);
  EXPECT_NE(gl::LightingConstantBlock().find("#define D3DLIGHT_DIRECTIONAL 3\n"), std::string::npos);
}

TEST(GlProgramKey, LightingStatesTheShaderDoesNotReadMakeNoOtherProgram) {
  const gl::ProgramKey base = Lit().canonical();
  gl::ProgramKey noSpecular = Lit(), noSpecularOtherViewer = Lit();
  noSpecular.specular = noSpecularOtherViewer.specular = false;
  noSpecularOtherViewer.localViewer = false;
  noSpecularOtherViewer.materialSources[2] = D3DMCS_MATERIAL;
  EXPECT_EQ(noSpecular.canonical().pack(), noSpecularOtherViewer.canonical().pack());
  EXPECT_NE(noSpecular.canonical().pack(), base.pack());
  gl::ProgramKey noNormals = Lit(), noNormalsNormalized = Lit();
  noNormals.normals = noNormalsNormalized.normals = false;
  noNormals.normalizeNormals = false;
  EXPECT_EQ(noNormals.canonical().pack(), noNormalsNormalized.canonical().pack());
  // Each state read changes the key.
  gl::ProgramKey more = Lit(), emissive = Lit(), viewer = Lit();
  more.lightCount = 3;
  emissive.materialSources[3] = D3DMCS_COLOR1;
  viewer.localViewer = false;
  for (const gl::ProgramKey& k : {more, emissive, viewer}) EXPECT_NE(k.canonical().pack(), base.pack());
  // Nine lights fit the key's bits but not the device's limit; the shader refuses them.
  gl::ProgramKey nine = Lit();
  nine.lightCount = 9;
  EXPECT_NE(ErrorOf(nine).find("cannot light with 9 lights"), std::string::npos) << ErrorOf(nine);
  gl::ProgramKey badSource = Lit();
  badSource.materialSources[1] = 3;
  EXPECT_NE(ErrorOf(badSource).find("ambient material source 3"), std::string::npos) << ErrorOf(badSource);
}

}  // namespace

// The WebGL2 dialect draws border addressing in the shader; only a stage whose draws ask for a border
// carries that code, and a border on a disabled stage makes no other program.
TEST(GlProgramKey, OnlyProgramsThatAddressABorderCarryItsCode) {
  const auto fragment = [](const gl::ProgramKey& k) {
    return gl::FixedFunctionShaderSource(gl::ShaderStage::Fragment, gl::GlDialect::WebGl2,
                                         gl::ProgramKeyDefines(k), k);
  };
  const std::string plain = fragment(Textured().canonical());
  EXPECT_EQ(plain.find("borderedTexture"), std::string::npos);
  EXPECT_EQ(plain.find("uBorder"), std::string::npos);
  gl::ProgramKey second = Textured();
  second.stageOps[1][0][0] = second.stageOps[1][1][0] = D3DTOP_SELECTARG1;
  second.borders = {false, true};
  const std::string bordered = fragment(second.canonical());
  EXPECT_NE(bordered.find("#define WG_SAMPLE0(t, uv) texture(t, uv)\n"), std::string::npos);
  EXPECT_NE(bordered.find("#define WG_SAMPLE1(t, uv) borderedTexture(t, uv, uBorder[1], uBorderColor[1])\n"),
            std::string::npos);
  EXPECT_NE(second.canonical().pack(), [&] {
    gl::ProgramKey k = second;
    k.borders = {};
    return k.canonical().pack();
  }());
  gl::ProgramKey disabled = Textured();
  disabled.borders = {false, true};
  EXPECT_EQ(disabled.canonical().pack(), Textured().canonical().pack());
  // The desktop dialect's samplers keep their own borders.
  EXPECT_EQ(gl::FixedFunctionShaderSource(gl::ShaderStage::Fragment, gl::GlDialect::Desktop33,
                                          gl::ProgramKeyDefines(second.canonical()), second.canonical())
                .find("borderedTexture"),
            std::string::npos);
}
