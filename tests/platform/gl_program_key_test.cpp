// The program key: the #define block each program is made from, the constants the shader names,
// the 128-bit packing, and the keys the generator refuses.
#include <gtest/gtest.h>

#include <string>

#include "platform/base/Error.h"
#include "platform/d3d/d3d8types.h"
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

}  // namespace
