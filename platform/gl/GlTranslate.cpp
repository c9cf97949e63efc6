#include "platform/gl/GlTranslate.h"

#include <bit>
#include <cstdio>

#include "platform/base/Error.h"

namespace gl {

namespace {

GLenum blendFactor(DWORD b, const char* call) {
  switch (b) {
    case d3d::D3DBLEND_ZERO:
      return GL_ZERO;
    case d3d::D3DBLEND_ONE:
      return GL_ONE;
    case d3d::D3DBLEND_SRCCOLOR:
      return GL_SRC_COLOR;
    case d3d::D3DBLEND_INVSRCCOLOR:
      return GL_ONE_MINUS_SRC_COLOR;
    case d3d::D3DBLEND_SRCALPHA:
      return GL_SRC_ALPHA;
    case d3d::D3DBLEND_INVSRCALPHA:
      return GL_ONE_MINUS_SRC_ALPHA;
    case d3d::D3DBLEND_DESTALPHA:
      return GL_DST_ALPHA;
    case d3d::D3DBLEND_INVDESTALPHA:
      return GL_ONE_MINUS_DST_ALPHA;
    case d3d::D3DBLEND_DESTCOLOR:
      return GL_DST_COLOR;
    case d3d::D3DBLEND_INVDESTCOLOR:
      return GL_ONE_MINUS_DST_COLOR;
    case d3d::D3DBLEND_SRCALPHASAT:
      return GL_SRC_ALPHA_SATURATE;
    default:
      throw platform::Error(call, "blend factor " + std::to_string(b) + " not supported");
  }
}

}  // namespace

std::string hex(DWORD v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%X", v);
  return buf;
}

float floatOf(DWORD bits) {
  return std::bit_cast<float>(bits);
}

void colorOf(d3d::D3DCOLOR c, float out[4]) {
  out[0] = ((c >> 16) & 0xFF) / 255.0f;
  out[1] = ((c >> 8) & 0xFF) / 255.0f;
  out[2] = (c & 0xFF) / 255.0f;
  out[3] = ((c >> 24) & 0xFF) / 255.0f;
}

VertexLayout layoutFor(DWORD fvf, const DWORD (&texCoordIndex)[kStages], const char* call) {
  VertexLayout l;
  const DWORD pos = fvf & d3d::D3DFVF_POSITION_MASK;
  if (pos == d3d::D3DFVF_XYZ) {
    l.size = 12;
  } else if (pos == d3d::D3DFVF_XYZRHW) {
    l.preTransformed = true;
    l.size = 16;
  } else {
    throw platform::Error(call, "vertex format " + hex(fvf) + " cannot be mapped: position type " + hex(pos));
  }
  const DWORD known = d3d::D3DFVF_POSITION_MASK | d3d::D3DFVF_NORMAL | d3d::D3DFVF_PSIZE |
                      d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_SPECULAR | d3d::D3DFVF_TEXCOUNT_MASK | 0xFFFF0000u;
  if (fvf & ~known) throw platform::Error(call, "vertex format " + hex(fvf) + " cannot be mapped");
  if (fvf & d3d::D3DFVF_NORMAL) {
    l.normal = static_cast<int>(l.size);
    l.size += 12;
  }
  if (fvf & d3d::D3DFVF_PSIZE) {
    l.pointSize = static_cast<int>(l.size);
    l.size += 4;
  }
  if (fvf & d3d::D3DFVF_DIFFUSE) {
    l.diffuse = static_cast<int>(l.size);
    l.size += 4;
  }
  if (fvf & d3d::D3DFVF_SPECULAR) {  // read only by lit programs, as a material colour
    l.specular = static_cast<int>(l.size);
    l.size += 4;
  }
  const DWORD texCount = (fvf & d3d::D3DFVF_TEXCOUNT_MASK) >> d3d::D3DFVF_TEXCOUNT_SHIFT;
  if (texCount > 8)
    throw platform::Error(call, "vertex format " + hex(fvf) + " cannot be mapped: texture count");
  if (fvf >> (16 + 2 * texCount))
    throw platform::Error(call, "vertex format " + hex(fvf) + " cannot be mapped: size bits of absent sets");
  for (DWORD i = 0; i < texCount; ++i) {
    static constexpr int kFloats[4] = {2, 3, 4, 1};
    const int floats = kFloats[(fvf >> (16 + 2 * i)) & 3];
    for (DWORD stage = 0; stage < kStages; ++stage) {
      if (i == texCoordIndex[stage]) {
        l.texCoord[stage] = static_cast<int>(l.size);
        l.texCoordFloats[stage] = floats;
      }
    }
    l.size += 4 * static_cast<DWORD>(floats);
  }
  return l;
}

GLenum primitiveMode(d3d::D3DPRIMITIVETYPE type, const char* call) {
  switch (type) {
    case d3d::D3DPT_POINTLIST:
      return GL_POINTS;
    case d3d::D3DPT_LINELIST:
      return GL_LINES;
    case d3d::D3DPT_LINESTRIP:
      return GL_LINE_STRIP;
    case d3d::D3DPT_TRIANGLELIST:
      return GL_TRIANGLES;
    case d3d::D3DPT_TRIANGLESTRIP:
      return GL_TRIANGLE_STRIP;
    case d3d::D3DPT_TRIANGLEFAN:
      return GL_TRIANGLE_FAN;
  }
  throw platform::Error(call, "primitive type " + std::to_string(type) + " cannot be drawn");
}

void blendFactors(DWORD src, DWORD dst, GLenum& glSrc, GLenum& glDst, const char* call) {
  // BOTHSRCALPHA and BOTHINVSRCALPHA set both factors from the source blend alone.
  if (src == d3d::D3DBLEND_BOTHSRCALPHA) {
    glSrc = GL_SRC_ALPHA;
    glDst = GL_ONE_MINUS_SRC_ALPHA;
  } else if (src == d3d::D3DBLEND_BOTHINVSRCALPHA) {
    glSrc = GL_ONE_MINUS_SRC_ALPHA;
    glDst = GL_SRC_ALPHA;
  } else {
    glSrc = blendFactor(src, call);
    glDst = blendFactor(dst, call);
  }
}

GLenum fillMode(DWORD fill) {
  return fill == d3d::D3DFILL_POINT ? GL_POINT : fill == d3d::D3DFILL_WIREFRAME ? GL_LINE : GL_FILL;
}

GLenum compareFunc(DWORD f, const char* call) {
  if (f < d3d::D3DCMP_NEVER || f > d3d::D3DCMP_ALWAYS)
    throw platform::Error(call, "compare function " + std::to_string(f) + " not supported");
  return GL_NEVER + (f - d3d::D3DCMP_NEVER);  // both enumerations run NEVER, LESS, ..., ALWAYS
}

GLint addressMode(DWORD a, GLint borderWrap, const char* call) {
  switch (a) {
    case d3d::D3DTADDRESS_WRAP:
      return GL_REPEAT;
    case d3d::D3DTADDRESS_MIRROR:
      return GL_MIRRORED_REPEAT;
    case d3d::D3DTADDRESS_CLAMP:
      return GL_CLAMP_TO_EDGE;
    case d3d::D3DTADDRESS_BORDER:
      return borderWrap;
    default:
      throw platform::Error(call, "texture address mode " + std::to_string(a) + " not supported");
  }
}

// POINT and NONE sample the nearest texel or take no mip; LINEAR and the better filters blend.
GLint magFilter(DWORD mag) {
  return mag >= d3d::D3DTEXF_LINEAR ? GL_LINEAR : GL_NEAREST;
}
GLint minFilter(DWORD min, DWORD mip) {
  const bool linear = min >= d3d::D3DTEXF_LINEAR;
  if (mip == d3d::D3DTEXF_NONE) return linear ? GL_LINEAR : GL_NEAREST;
  if (mip == d3d::D3DTEXF_POINT) return linear ? GL_LINEAR_MIPMAP_NEAREST : GL_NEAREST_MIPMAP_NEAREST;
  return linear ? GL_LINEAR_MIPMAP_LINEAR : GL_NEAREST_MIPMAP_LINEAR;
}

// Direct3D 8's texture operations that the shader computes, and the arguments each reads: bit 0
// ARG1, bit 1 ARG2, bit 2 ARG0. PREMODULATE (17) and the bump-map operations (22, 23) need what
// this device does not have; MODULATEALPHA_ADDCOLOR to MODULATEINVCOLOR_ADDALPHA (18..21) are
// colour operations only.
int argumentsOf(DWORD op, bool alpha, DWORD stage, const char* call) {
  const char* channel = alpha ? "alpha" : "colour";
  if (op == d3d::D3DTOP_DISABLE) return 0;
  if (op == d3d::D3DTOP_SELECTARG1) return 1;
  if (op == d3d::D3DTOP_SELECTARG2) return 2;
  if (op == d3d::D3DTOP_MULTIPLYADD || op == d3d::D3DTOP_LERP) return 7;
  if (alpha && op >= d3d::D3DTOP_MODULATEALPHA_ADDCOLOR && op <= d3d::D3DTOP_MODULATEINVCOLOR_ADDALPHA)
    throw platform::Error(call, "stage " + std::to_string(stage) + " alpha operation " + std::to_string(op) +
                                    " is a colour operation only");
  if ((op >= d3d::D3DTOP_MODULATE && op <= d3d::D3DTOP_BLENDCURRENTALPHA) ||
      (op >= d3d::D3DTOP_MODULATEALPHA_ADDCOLOR && op <= d3d::D3DTOP_MODULATEINVCOLOR_ADDALPHA) ||
      op == d3d::D3DTOP_DOTPRODUCT3)
    return 3;
  throw platform::Error(call, "stage " + std::to_string(stage) + " " + channel + " operation " +
                                  std::to_string(op) + " not supported");
}

// A texture argument: diffuse, current, texture, texture factor or specular, optionally
// complemented and alpha-replicated.
void checkArgument(DWORD arg, DWORD stage, const char* call) {
  if ((arg & ~(d3d::D3DTA_COMPLEMENT | d3d::D3DTA_ALPHAREPLICATE)) > d3d::D3DTA_SPECULAR)
    throw platform::Error(
        call, "stage " + std::to_string(stage) + " texture argument " + hex(arg) + " not supported");
}

}  // namespace gl
