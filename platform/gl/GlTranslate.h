// How the device's numbers become OpenGL's: vertex formats, primitive types, blend factors, compare
// functions, texture addressing and filtering, and the texture operations the shader computes. Each
// throws platform::Error naming the call when a value has no OpenGL counterpart.
#pragma once

#include <string>

#include "platform/d3d/Device.h"
#include "platform/gl/GlApi.h"

namespace gl {

using d3d::DWORD;

std::string hex(DWORD v);
float floatOf(DWORD bits);
void colorOf(d3d::D3DCOLOR c, float out[4]);

// The texture stages the backend blends, and the coordinate-set index of a stage that takes no part
// in a draw.
constexpr DWORD kStages = 2;
constexpr DWORD kNoTexCoord = ~0u;

// Where each field of a flexible-vertex-format record lies; -1 where the record has none.
struct VertexLayout {
  bool preTransformed = false;
  int normal = -1, diffuse = -1, specular = -1, pointSize = -1;
  int texCoord[kStages] = {-1, -1}, texCoordFloats[kStages] = {0, 0};  // the set each stage reads
  DWORD size = 0;
};

VertexLayout layoutFor(DWORD fvf, const DWORD (&texCoordIndex)[kStages], const char* call);

GLenum primitiveMode(d3d::D3DPRIMITIVETYPE type, const char* call);
// The source and destination factors for D3DRS_SRCBLEND and D3DRS_DESTBLEND.
void blendFactors(DWORD src, DWORD dst, GLenum& glSrc, GLenum& glDst, const char* call);
GLenum compareFunc(DWORD f, const char* call);
// `borderWrap`: what D3DTADDRESS_BORDER becomes in the dialect.
GLint addressMode(DWORD a, GLint borderWrap, const char* call);
GLint magFilter(DWORD mag);
GLint minFilter(DWORD min, DWORD mip);
GLenum fillMode(DWORD fill);
// The arguments a texture operation reads: bit 0 ARG1, bit 1 ARG2, bit 2 ARG0.
int argumentsOf(DWORD op, bool alpha, DWORD stage, const char* call);
void checkArgument(DWORD arg, DWORD stage, const char* call);

}  // namespace gl
