#include "platform/gl/GlBackend.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <map>
#include <string>
#include <type_traits>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/gl/FixedFunctionShader.h"
#include "platform/gl/GlApi.h"
#include "platform/gl/WebGl2Rules.h"
#include "platform/window/Window.h"

namespace gl {

static_assert(std::endian::native == std::endian::little,
              "D3DCOLOR vertex colours are read as B, G, R, A bytes in memory");

namespace {

using d3d::DWORD;

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

// The texture stages the backend blends, and the coordinate-set index of a stage that takes no part
// in a draw.
constexpr DWORD kStages = 2;
constexpr DWORD kNoTexCoord = ~0u;

// Where each field of a flexible-vertex-format record lies; -1 where the record has none.
struct VertexLayout {
  bool preTransformed = false;
  int diffuse = -1, pointSize = -1;
  int texCoord[kStages] = {-1, -1}, texCoordFloats[kStages] = {0, 0};  // the set each stage reads
  DWORD size = 0;
};

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
  if (fvf & d3d::D3DFVF_NORMAL) l.size += 12;  // lighting is off: normals are carried, never read
  if (fvf & d3d::D3DFVF_PSIZE) {
    l.pointSize = static_cast<int>(l.size);
    l.size += 4;
  }
  if (fvf & d3d::D3DFVF_DIFFUSE) {
    l.diffuse = static_cast<int>(l.size);
    l.size += 4;
  }
  if (fvf & d3d::D3DFVF_SPECULAR) l.size += 4;  // SPECULARENABLE is off
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
    case 11:
      return GL_SRC_ALPHA_SATURATE;  // D3DBLEND_SRCALPHASAT
    default:
      throw platform::Error(call, "blend factor " + std::to_string(b) + " not supported");
  }
}

GLenum compareFunc(DWORD f, const char* call) {
  if (f < d3d::D3DCMP_NEVER || f > d3d::D3DCMP_ALWAYS)
    throw platform::Error(call, "compare function " + std::to_string(f) + " not supported");
  return GL_NEVER + (f - d3d::D3DCMP_NEVER);  // both enumerations run NEVER, LESS, ..., ALWAYS
}

GLint addressMode(DWORD a, GlDialect dialect, const char* call) {
  switch (a) {
    case d3d::D3DTADDRESS_WRAP:
      return GL_REPEAT;
    case d3d::D3DTADDRESS_MIRROR:
      return GL_MIRRORED_REPEAT;
    case d3d::D3DTADDRESS_CLAMP:
      return GL_CLAMP_TO_EDGE;
    case d3d::D3DTADDRESS_BORDER:
      // WebGL2 has no border colour: the shader mixes it in at the clamped edge (WebGl2Rules.h).
      return dialect == GlDialect::WebGl2 ? GL_CLAMP_TO_EDGE : GL_CLAMP_TO_BORDER;
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

// Whether a fragment whose vertex colour has alpha 0 ends with alpha 0: each enabled stage's alpha
// operation keeps a zero that reaches it through the diffuse colour or the current colour (MODULATE
// of anything by zero is zero). Any other operation or argument may bring alpha back.
bool zeroDiffuseAlphaStaysZero(const d3d::DeviceState& s) {
  for (DWORD i = 0; i < kStages; ++i) {
    const auto& ts = s.stageStates[i];
    if (ts[d3d::D3DTSS_COLOROP] == d3d::D3DTOP_DISABLE) return true;
    const auto zero = [](DWORD arg) {
      const DWORD source = arg & ~d3d::D3DTA_ALPHAREPLICATE;  // replicating alpha leaves alpha as it is
      return source == d3d::D3DTA_DIFFUSE || source == d3d::D3DTA_CURRENT;
    };
    const DWORD op = ts[d3d::D3DTSS_ALPHAOP];
    const bool a1 = zero(ts[d3d::D3DTSS_ALPHAARG1]), a2 = zero(ts[d3d::D3DTSS_ALPHAARG2]);
    const bool keeps =
        op == d3d::D3DTOP_SELECTARG1   ? a1
        : op == d3d::D3DTOP_SELECTARG2 ? a2
        : op == d3d::D3DTOP_MODULATE || op == d3d::D3DTOP_MODULATE2X || op == d3d::D3DTOP_MODULATE4X
            ? a1 || a2
            : false;
    if (!keeps) return false;
  }
  return true;
}

// Whether a point whose vertex colour has alpha 0 can change no pixel under these states: the alpha
// test throws its fragments away, or they blend to the destination unchanged (source factor alpha,
// destination factor one or one minus alpha) and write no depth. Such points are not sent to GL.
bool zeroAlphaPointIsInvisible(const d3d::DeviceState& s) {
  const auto& rs = s.renderStates;
  if (!zeroDiffuseAlphaStaysZero(s)) return false;
  if (rs[d3d::D3DRS_ALPHATESTENABLE]) {
    const DWORD ref = rs[d3d::D3DRS_ALPHAREF] & 0xFF;
    switch (rs[d3d::D3DRS_ALPHAFUNC]) {
      case d3d::D3DCMP_NEVER:
      case d3d::D3DCMP_GREATER:
        return true;
      case d3d::D3DCMP_LESS:
      case d3d::D3DCMP_NOTEQUAL:
        if (ref == 0) return true;
        break;
      case d3d::D3DCMP_EQUAL:
      case d3d::D3DCMP_GREATEREQUAL:
        if (ref != 0) return true;
        break;
      default:
        break;
    }
  }
  if (!rs[d3d::D3DRS_ALPHABLENDENABLE]) return false;
  if (rs[d3d::D3DRS_ZENABLE] != d3d::D3DZB_FALSE && rs[d3d::D3DRS_ZWRITEENABLE]) return false;
  const DWORD src = rs[d3d::D3DRS_SRCBLEND], dst = rs[d3d::D3DRS_DESTBLEND];
  if (src == 12) return true;  // BOTHSRCALPHA: source alpha, destination one minus source alpha
  return src == d3d::D3DBLEND_SRCALPHA && (dst == d3d::D3DBLEND_ONE || dst == d3d::D3DBLEND_INVSRCALPHA);
}

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
  kUniformCount
};

constexpr const char* kUniformNames[kUniformCount] = {
    "uWorldView",  "uProjection",    "uPreTransformed", "uTarget",        "uVertexPointSize", "uPointSize",
    "uPointScale", "uPointScaleABC", "uViewportHeight", "uFogMode",       "uVertexFog",       "uFogParams",
    "uTexture0",   "uTexture1",      "uFlat",           "uSpriteCoords",  "uColorOp0",        "uAlphaOp0",
    "uColorOp1",   "uAlphaOp1",      "uTextureFactor",  "uAlphaFunc",     "uAlphaRef",        "uFogColor",
    "uBorder[0]",  "uBorder[1]",     "uBorderColor[0]", "uBorderColor[1]"};

// Each stage's operation uniforms.
constexpr Uniform kColorOpOf[kStages] = {uColorOp0, uColorOp1};
constexpr Uniform kAlphaOpOf[kStages] = {uAlphaOp0, uAlphaOp1};

// The uniforms that change what the shader computes rather than the numbers it computes with. Their
// values form a program's key; a specialised program has them as constants, so the compiler drops
// every branch the draw does not take (a fragment shader without discard also keeps early depth
// tests). The rest (matrices, colours, fog range, point sizes) stay uniforms in every program.
struct KeyUniform {
  Uniform uniform;
  const char* type;
  int size;
};
constexpr KeyUniform kKeyUniforms[] = {
    {uPreTransformed, "bool", 1}, {uVertexPointSize, "bool", 1}, {uPointScale, "bool", 1},
    {uFogMode, "int", 1},         {uVertexFog, "bool", 1},       {uFlat, "bool", 1},
    {uSpriteCoords, "bool", 1},   {uColorOp0, "ivec4", 4},       {uAlphaOp0, "ivec4", 4},
    {uColorOp1, "ivec4", 4},      {uAlphaOp1, "ivec4", 4},       {uAlphaFunc, "int", 1}};
constexpr int kKeySize = 24;
using ProgramKey = std::array<int, kKeySize>;

// Where each key uniform's values start in a key.
constexpr int keyOffset(Uniform u) {
  int at = 0;
  for (const KeyUniform& k : kKeyUniforms) {
    if (k.uniform == u) return at;
    at += k.size;
  }
  return -1;
}

// Values the shader never reads under the rest of the key are zero, so that draws differing only
// in them share a program: the stages after a disabled one, the vertex-fog switch without fog.
void canonicalise(ProgramKey& k) {
  const int op0 = keyOffset(uColorOp0), op1 = keyOffset(uColorOp1);
  if (k[op0] == static_cast<int>(d3d::D3DTOP_DISABLE)) {
    std::fill(k.begin() + op0 + 1, k.begin() + op0 + 16, 0);
  } else if (k[op1] == static_cast<int>(d3d::D3DTOP_DISABLE)) {
    std::fill(k.begin() + op1 + 1, k.begin() + op1 + 8, 0);
  }
  if (k[keyOffset(uFogMode)] == 0) k[keyOffset(uVertexFog)] = 0;
}

// The fixed-function source with the key's uniforms declared as constants of the key's values.
std::string specialise(std::string s, const ProgramKey& key) {
  int at = 0;
  for (const KeyUniform& k : kKeyUniforms) {
    const std::string name = kUniformNames[k.uniform];
    const std::string declaration = std::string("uniform ") + k.type + " " + name + ";";
    std::string value;
    if (k.size == 1) {
      value = std::string(k.type) == "bool" ? (key[at] ? "true" : "false") : std::to_string(key[at]);
    } else {
      value = std::string(k.type) + "(";
      for (int i = 0; i < k.size; ++i) value += (i ? ", " : "") + std::to_string(key[at + i]);
      value += ")";
    }
    at += k.size;
    const std::size_t pos = s.find(declaration);
    if (pos != std::string::npos)
      s.replace(pos, declaration.size(), std::string("const ") + k.type + " " + name + " = " + value + ";");
  }
  return s;
}
constexpr Uniform kBorderOf[kStages] = {uBorder0, uBorder1};
constexpr Uniform kBorderColorOf[kStages] = {uBorderColor0, uBorderColor1};

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

// A GL object owned by a texture or vertex buffer. When its owner goes, the name is queued for the
// backend that made it, which deletes it with its own context current; once that backend is gone
// the name died with its context.
struct GlObject {
  GLuint name = 0;
  const void* backend = nullptr;
  std::weak_ptr<std::vector<GLuint>> graveyard;
};

}  // namespace

struct GlBackend::Impl {
  std::unique_ptr<GlContext> context;
  GlDialect dialect = GlDialect::Desktop33;
  int width = 0, height = 0;
  GLuint fbo = 0, colorRb = 0, depthRb = 0;
  GLuint vao = 0, whiteTexture = 0;
  GLuint sampler[kStages] = {};  // stage i samples through texture unit i with sampler[i]

  // A linked program and the uniform values it holds, so that unchanged values cost no GL call.
  struct Program {
    GLuint name = 0;
    GLint location[kUniformCount] = {};
    float value[kUniformCount][16] = {};
    bool valueSet[kUniformCount] = {};
  };
  Programs mode = Programs::Specialised;
  Program uber;
  std::map<ProgramKey, Program> specialised;
  Program* current = nullptr;
  ProgramKey currentKey{};
  // The uniform values the device's state asks for, whichever program draws with them.
  struct Wanted {
    float f[16] = {};
    int i[4] = {};
    int n = 0;
    bool isInt = false, set = false;
  } wanted[kUniformCount];
  std::shared_ptr<std::vector<GLuint>> deadTextures = std::make_shared<std::vector<GLuint>>();
  std::shared_ptr<std::vector<GLuint>> deadBuffers = std::make_shared<std::vector<GLuint>>();

  // User-memory draws stream through these, each write at a fresh offset so that no draw waits on
  // the one before; a full buffer is orphaned and refilled from the start.
  struct Stream {
    GLenum target = GL_ARRAY_BUFFER;
    GLuint buffer = 0;
    std::size_t capacity = 0, offset = 0;
  };
  Stream vertexStream, indexStream;
  // The WebGL2 dialect's index lists (WebGl2Rules.h), kept to spare an allocation per draw.
  std::vector<std::uint32_t> webIndices;
  // The fence of the frame presented last.
  GLsync inFlight = nullptr;
  // The points of a point list that can change a pixel, as indices; kept to spare each frame an
  // allocation.
  std::vector<GLuint> visiblePoints;

  // The GL state last set, so that unchanged device state costs no GL call. -1: unknown.
  struct Cache {
    int depthTest = -1, depthMask = -1, blend = -1, cull = -1, provoking = -1;
    GLenum depthFunc = 0, blendSrc = 0, blendDst = 0, cullFace = 0, polygonMode = 0;
    GLuint arrayBuffer = ~0u;
    struct Unit {
      GLuint texture = ~0u;
      GLint magFilter = -1, minFilter = -1, wrapS = -1, wrapT = -1;
      float border[4] = {-1, -1, -1, -1};
    } unit[kStages];
    // Attribute set-up: buffer, byte offset of the first record, format, stride, coordinate sets.
    GLuint attrBuffer = ~0u;
    std::size_t attrOffset = 0;
    DWORD attrFvf = ~0u, attrStride = 0, attrTexIndex[kStages] = {~0u, ~0u};
  } cache;

  void check(const char* call) {
    const GLenum e = glGetError();
    if (e != GL_NO_ERROR) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "GL error 0x%X", e);
      throw platform::Error(call, buf);
    }
  }

  // Makes this backend's context current (another device may have drawn since) and deletes the
  // objects released since the last call.
  void use() {
    if (!context->isCurrent()) context->makeCurrent();
    if (!deadTextures->empty()) {
      for (GLuint t : *deadTextures)
        for (auto& u : cache.unit)
          if (u.texture == t) u.texture = ~0u;
      glDeleteTextures(static_cast<GLsizei>(deadTextures->size()), deadTextures->data());
      deadTextures->clear();
    }
    if (!deadBuffers->empty()) {
      for (GLuint b : *deadBuffers) {
        if (cache.attrBuffer == b) cache.attrBuffer = ~0u;
        if (cache.arrayBuffer == b) cache.arrayBuffer = ~0u;
      }
      glDeleteBuffers(static_cast<GLsizei>(deadBuffers->size()), deadBuffers->data());
      deadBuffers->clear();
    }
  }

  std::shared_ptr<void> own(GLuint name, const std::shared_ptr<std::vector<GLuint>>& graveyard) {
    auto* o = new GlObject{name, this, graveyard};
    return std::shared_ptr<void>(o, [](void* p) {
      auto* obj = static_cast<GlObject*>(p);
      if (auto g = obj->graveyard.lock()) g->push_back(obj->name);
      delete obj;
    });
  }

  GLuint nameOf(const std::shared_ptr<void>& handle, const char* call, const char* what) const {
    const auto* o = static_cast<const GlObject*>(handle.get());
    if (o->backend != this) throw platform::Error(call, std::string(what) + " belongs to another device");
    return o->name;
  }

  void bindArrayBuffer(GLuint b) {
    if (cache.arrayBuffer != b) {
      glBindBuffer(GL_ARRAY_BUFFER, b);
      cache.arrayBuffer = b;
    }
  }

  // Copies `bytes` into the stream at an offset aligned to `align`; returns that offset.
  std::size_t put(Stream& s, const void* data, std::size_t bytes, std::size_t align) {
    std::size_t at = (s.offset + align - 1) / align * align;
    if (s.target == GL_ARRAY_BUFFER)
      bindArrayBuffer(s.buffer);
    else
      glBindBuffer(s.target, s.buffer);
    if (dialect == GlDialect::WebGl2) {
      // WebGL2 maps no buffers, and the browser cannot tell which range of a buffer a draw still
      // reads: each upload gets a buffer of its own.
      glBufferData(s.target, static_cast<GLsizeiptr>(bytes), data, GL_STREAM_DRAW);
      return 0;
    }
    if (at + bytes > s.capacity) {
      if (bytes > s.capacity) s.capacity = std::bit_ceil(bytes);
      glBufferData(s.target, static_cast<GLsizeiptr>(s.capacity), nullptr, GL_STREAM_DRAW);
      at = 0;
    }
    void* dst = glMapBufferRange(s.target, static_cast<GLintptr>(at), static_cast<GLsizeiptr>(bytes),
                                 GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT | GL_MAP_UNSYNCHRONIZED_BIT);
    if (!dst) throw platform::Error("Draw", "glMapBufferRange failed for the streaming buffer");
    std::memcpy(dst, data, bytes);
    glUnmapBuffer(s.target);
    s.offset = at + bytes;
    return at;
  }

  template <class T>
  void setUniform(Uniform u, const T* v, int n) {
    Wanted& w = wanted[u];
    for (int i = 0; i < n; ++i) w.f[i] = static_cast<float>(v[i]);
    if constexpr (std::is_same_v<T, int>)
      for (int i = 0; i < n; ++i) w.i[i] = v[i];
    w.n = n;
    w.isInt = std::is_same_v<T, int>;
    w.set = true;
  }
  void setInt(Uniform u, int v) { setUniform(u, &v, 1); }
  void setFloat(Uniform u, float v) { setUniform(u, &v, 1); }

  void enable(GLenum cap, int& cached, bool on) {
    if (cached == static_cast<int>(on)) return;
    if (on)
      glEnable(cap);
    else
      glDisable(cap);
    cached = on;
  }

  // Texture unit 0 stays the active one, so that creating a texture binds it there.
  void bindTexture(DWORD unit, GLuint tex) {
    if (cache.unit[unit].texture == tex) return;
    if (unit != 0) glActiveTexture(GL_TEXTURE0 + unit);
    glBindTexture(GL_TEXTURE_2D, tex);
    if (unit != 0) glActiveTexture(GL_TEXTURE0);
    cache.unit[unit].texture = tex;
  }

  // Fills `visiblePoints` with first + i for each of the `count` records at `records` that may
  // change a pixel; returns false when all of them may (then the draw goes as it is).
  bool cullInvisiblePoints(const d3d::DrawCall& c, const d3d::DeviceState& s, const VertexLayout& l,
                           const std::uint8_t* records, std::size_t first) {
    if (c.type != d3d::D3DPT_POINTLIST || l.diffuse < 0 || !zeroAlphaPointIsInvisible(s)) return false;
    visiblePoints.clear();
    visiblePoints.reserve(c.vertexCount);
    const std::size_t alphaAt = static_cast<std::size_t>(l.diffuse) + 3;  // B, G, R, A in memory
    for (std::size_t i = 0; i < c.vertexCount; ++i)
      if (records[i * c.stride + alphaAt] != 0) visiblePoints.push_back(static_cast<GLuint>(first + i));
    return visiblePoints.size() != c.vertexCount;
  }
  void drawVisiblePoints() {
    if (visiblePoints.empty()) return;
    const std::size_t at = put(indexStream, visiblePoints.data(), visiblePoints.size() * sizeof(GLuint), 4);
    glDrawElements(GL_POINTS, static_cast<GLsizei>(visiblePoints.size()), GL_UNSIGNED_INT,
                   reinterpret_cast<const void*>(at));
  }

  Program link(const std::string& vertexSource, const std::string& fragmentSource, const char* call) {
    const GLuint vs = compile(GL_VERTEX_SHADER, vertexSource, call);
    const GLuint fs = compile(GL_FRAGMENT_SHADER, fragmentSource, call);
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

  ProgramKey wantedKey() const {
    ProgramKey key{};
    int at = 0;
    for (const KeyUniform& k : kKeyUniforms) {
      for (int i = 0; i < k.size; ++i) key[at + i] = wanted[k.uniform].i[i];
      at += k.size;
    }
    canonicalise(key);
    return key;
  }

  // The program for the draw the wanted uniforms describe, made on first use, bound, with every
  // wanted value it reads.
  void useProgram(const char* call) {
    Program* p = &uber;
    if (mode == Programs::Specialised) {
      const ProgramKey key = wantedKey();
      if (current && current != &uber && key == currentKey) {
        p = current;
      } else {
        auto it = specialised.find(key);
        if (it == specialised.end())
          it = specialised
                   .emplace(
                       key,
                       link(specialise(FixedFunctionShaderSource(ShaderStage::Vertex, dialect), key),
                            specialise(FixedFunctionShaderSource(ShaderStage::Fragment, dialect), key), call))
                   .first;
        p = &it->second;
        currentKey = key;
      }
    }
    if (current != p) {
      glUseProgram(p->name);
      current = p;
    }
    for (int u = 0; u < kUniformCount; ++u) {
      const Wanted& w = wanted[u];
      const GLint loc = p->location[u];
      if (!w.set || loc < 0) continue;
      if (p->valueSet[u] && std::memcmp(p->value[u], w.f, sizeof(float) * w.n) == 0) continue;
      std::memcpy(p->value[u], w.f, sizeof(float) * w.n);
      p->valueSet[u] = true;
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

  void applyRenderStates(const d3d::DeviceState& s, const char* call);
  void applyStages(const d3d::DrawCall& c, const d3d::DeviceState& s, const char* call,
                   DWORD (&texIndex)[kStages]);
  DWORD applyStage(DWORD i, bool enabled, const d3d::DeviceState& s, const char* call);
  void setAttributes(GLuint buffer, std::size_t offset, const d3d::DrawCall& c, const VertexLayout& l,
                     const DWORD (&texIndex)[kStages]);
  // WebGL2: draws the call's primitives through an index list built by the WebGL2 rules.
  void drawIndexList(const d3d::DrawCall& c, const std::uint16_t* indices, std::int64_t offset, bool flat,
                     const char* call);
};

void GlBackend::Impl::drawIndexList(const d3d::DrawCall& c, const std::uint16_t* indices, std::int64_t offset,
                                    bool flat, const char* call) {
  const d3d::D3DPRIMITIVETYPE type =
      webgl2::BuildIndices(c.type, c.primitiveCount, indices, offset, flat, webIndices);
  const std::size_t at = put(indexStream, webIndices.data(), webIndices.size() * sizeof(std::uint32_t), 4);
  glDrawElements(primitiveMode(type, call), static_cast<GLsizei>(webIndices.size()), GL_UNSIGNED_INT,
                 reinterpret_cast<const void*>(at));
}

void GlBackend::Impl::applyRenderStates(const d3d::DeviceState& s, const char* call) {
  const auto& rs = s.renderStates;
  enable(GL_DEPTH_TEST, cache.depthTest, rs[d3d::D3DRS_ZENABLE] != d3d::D3DZB_FALSE);
  const int mask = rs[d3d::D3DRS_ZWRITEENABLE] != 0;
  if (cache.depthMask != mask) {
    glDepthMask(mask ? GL_TRUE : GL_FALSE);
    cache.depthMask = mask;
  }
  const GLenum zfunc = compareFunc(rs[d3d::D3DRS_ZFUNC], call);
  if (cache.depthFunc != zfunc) {
    glDepthFunc(zfunc);
    cache.depthFunc = zfunc;
  }

  const bool blend = rs[d3d::D3DRS_ALPHABLENDENABLE] != 0;
  enable(GL_BLEND, cache.blend, blend);
  if (blend) {
    GLenum src = 0, dst = 0;
    // BOTHSRCALPHA and BOTHINVSRCALPHA set both factors from the source blend alone.
    if (rs[d3d::D3DRS_SRCBLEND] == 12) {
      src = GL_SRC_ALPHA;
      dst = GL_ONE_MINUS_SRC_ALPHA;
    } else if (rs[d3d::D3DRS_SRCBLEND] == 13) {
      src = GL_ONE_MINUS_SRC_ALPHA;
      dst = GL_SRC_ALPHA;
    } else {
      src = blendFactor(rs[d3d::D3DRS_SRCBLEND], call);
      dst = blendFactor(rs[d3d::D3DRS_DESTBLEND], call);
    }
    if (cache.blendSrc != src || cache.blendDst != dst) {
      glBlendFunc(src, dst);
      cache.blendSrc = src;
      cache.blendDst = dst;
    }
  }

  // D3D judges winding on its screen, y down. The target holds the screen upside down in GL's
  // y-up window coordinates, which mirrors every triangle: clockwise on D3D's screen is
  // counter-clockwise for GL, a front face under GL's default.
  const DWORD cull = rs[d3d::D3DRS_CULLMODE];
  enable(GL_CULL_FACE, cache.cull, cull == d3d::D3DCULL_CW || cull == d3d::D3DCULL_CCW);
  if (cull == d3d::D3DCULL_CW || cull == d3d::D3DCULL_CCW) {
    const GLenum face = cull == d3d::D3DCULL_CW ? GL_FRONT : GL_BACK;
    if (cache.cullFace != face) {
      glCullFace(face);
      cache.cullFace = face;
    }
  }

  const DWORD fill = rs[d3d::D3DRS_FILLMODE];
  const GLenum mode = fill == 1 ? GL_POINT : fill == 2 ? GL_LINE : GL_FILL;
  if (dialect == GlDialect::WebGl2) {
    if (mode != GL_FILL)
      throw platform::Error(call, "fill mode " + std::to_string(fill) + " is not available in WebGL2");
  } else if (cache.polygonMode != mode) {
    glPolygonMode(GL_FRONT_AND_BACK, mode);
    cache.polygonMode = mode;
  }

  setInt(uFlat, rs[d3d::D3DRS_SHADEMODE] == d3d::D3DSHADE_FLAT);

  int fogMode = 0, vertexFog = 0;
  if (rs[d3d::D3DRS_FOGENABLE]) {
    if (rs[d3d::D3DRS_FOGTABLEMODE] != d3d::D3DFOG_NONE) {
      fogMode = static_cast<int>(rs[d3d::D3DRS_FOGTABLEMODE]);
    } else if (rs[d3d::D3DRS_FOGVERTEXMODE] != d3d::D3DFOG_NONE) {
      fogMode = static_cast<int>(rs[d3d::D3DRS_FOGVERTEXMODE]);
      vertexFog = 1;
    }
    if (fogMode > 3) throw platform::Error(call, "fog mode " + std::to_string(fogMode) + " not supported");
  }
  setInt(uFogMode, fogMode);
  setInt(uVertexFog, vertexFog);
  if (fogMode) {
    const float params[3] = {floatOf(rs[d3d::D3DRS_FOGSTART]), floatOf(rs[d3d::D3DRS_FOGEND]),
                             floatOf(rs[d3d::D3DRS_FOGDENSITY])};
    setUniform(uFogParams, params, 3);
    float fog[4];
    colorOf(rs[d3d::D3DRS_FOGCOLOR], fog);
    setUniform(uFogColor, fog, 3);
  }

  const bool alphaTest = rs[d3d::D3DRS_ALPHATESTENABLE] != 0;
  const DWORD alphaFunc = alphaTest ? rs[d3d::D3DRS_ALPHAFUNC] : d3d::D3DCMP_ALWAYS;
  compareFunc(alphaFunc, call);
  setInt(uAlphaFunc, static_cast<int>(alphaFunc));
  if (alphaTest) setInt(uAlphaRef, static_cast<int>(rs[d3d::D3DRS_ALPHAREF] & 0xFF));

  float factor[4];
  colorOf(rs[d3d::D3DRS_TEXTUREFACTOR], factor);
  setUniform(uTextureFactor, factor, 4);

  const float size[3] = {floatOf(rs[d3d::D3DRS_POINTSIZE]), floatOf(rs[d3d::D3DRS_POINTSIZE_MIN]),
                         floatOf(rs[d3d::D3DRS_POINTSIZE_MAX])};
  setUniform(uPointSize, size, 3);
  setInt(uPointScale, rs[d3d::D3DRS_POINTSCALEENABLE] != 0);
  if (rs[d3d::D3DRS_POINTSCALEENABLE]) {
    const float abc[3] = {floatOf(rs[d3d::D3DRS_POINTSCALE_A]), floatOf(rs[d3d::D3DRS_POINTSCALE_B]),
                          floatOf(rs[d3d::D3DRS_POINTSCALE_C])};
    setUniform(uPointScaleABC, abc, 3);
    setFloat(uViewportHeight, static_cast<float>(s.viewportHeight));
  }
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
  setInt(uSpriteCoords, c.type == d3d::D3DPT_POINTLIST && s.renderStates[d3d::D3DRS_POINTSPRITEENABLE] != 0);
}

// Stage i's operations, texture and sampling; returns the coordinate set it reads, or kNoTexCoord
// when it takes no part in the draw (then nothing of it reaches GL but its DISABLE).
DWORD GlBackend::Impl::applyStage(DWORD i, bool enabled, const d3d::DeviceState& s, const char* call) {
  const auto& ts = s.stageStates[i];
  if (!enabled) {
    const int off[4] = {static_cast<int>(d3d::D3DTOP_DISABLE), 0, 0, 0};
    setUniform(kColorOpOf[i], off, 4);
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
  setUniform(kColorOpOf[i], cop, 4);
  setUniform(kAlphaOpOf[i], aop, 4);

  GLuint tex = whiteTexture;
  if (d3d::Texture* t = s.textures[i].get()) {
    static constexpr const char* kWhat[kStages] = {"the stage-0 texture", "the stage-1 texture"};
    if (!t->backendHandle)
      throw platform::Error(call, std::string(kWhat[i]) + " was not made by this device", t->source);
    tex = nameOf(t->backendHandle, call, kWhat[i]);
  }
  bindTexture(i, tex);
  auto& u = cache.unit[i];
  const GLuint smp = sampler[i];
  const GLint mag = magFilter(ts[d3d::D3DTSS_MAGFILTER]);
  const GLint min = minFilter(ts[d3d::D3DTSS_MINFILTER], ts[d3d::D3DTSS_MIPFILTER]);
  const GLint wrapS = addressMode(ts[d3d::D3DTSS_ADDRESSU], dialect, call);
  const GLint wrapT = addressMode(ts[d3d::D3DTSS_ADDRESSV], dialect, call);
  if (u.magFilter != mag) glSamplerParameteri(smp, GL_TEXTURE_MAG_FILTER, u.magFilter = mag);
  if (u.minFilter != min) glSamplerParameteri(smp, GL_TEXTURE_MIN_FILTER, u.minFilter = min);
  if (u.wrapS != wrapS) glSamplerParameteri(smp, GL_TEXTURE_WRAP_S, u.wrapS = wrapS);
  if (u.wrapT != wrapT) glSamplerParameteri(smp, GL_TEXTURE_WRAP_T, u.wrapT = wrapT);
  const bool borderU = ts[d3d::D3DTSS_ADDRESSU] == d3d::D3DTADDRESS_BORDER;
  const bool borderV = ts[d3d::D3DTSS_ADDRESSV] == d3d::D3DTADDRESS_BORDER;
  float border[4];
  colorOf(ts[d3d::D3DTSS_BORDERCOLOR], border);
  if (dialect == GlDialect::WebGl2) {
    const int how[4] = {borderU, borderV, mag == GL_LINEAR, ts[d3d::D3DTSS_MINFILTER] >= d3d::D3DTEXF_LINEAR};
    setUniform(kBorderOf[i], how, 4);
    if (borderU || borderV) setUniform(kBorderColorOf[i], border, 4);
  } else if ((borderU || borderV) && std::memcmp(border, u.border, sizeof border) != 0) {
    glSamplerParameterfv(smp, GL_TEXTURE_BORDER_COLOR, border);
    std::memcpy(u.border, border, sizeof border);
  }

  const DWORD set = ts[d3d::D3DTSS_TEXCOORDINDEX];
  if (set > 0xFFFF)
    throw platform::Error(
        call, "stage " + std::to_string(i) + " texture coordinate generation " + hex(set) + " not supported");
  return set;
}

void GlBackend::Impl::setAttributes(GLuint buffer, std::size_t offset, const d3d::DrawCall& c,
                                    const VertexLayout& l, const DWORD (&texIndex)[kStages]) {
  auto& k = cache;
  if (k.attrBuffer == buffer && k.attrOffset == offset && k.attrFvf == c.fvf && k.attrStride == c.stride &&
      std::equal(std::begin(texIndex), std::end(texIndex), std::begin(k.attrTexIndex)))
    return;
  bindArrayBuffer(buffer);
  const auto at = [&](int field) {
    return reinterpret_cast<const void*>(offset + static_cast<std::size_t>(field));
  };
  const GLsizei stride = static_cast<GLsizei>(c.stride);
  glEnableVertexAttribArray(kAttrPosition);
  glVertexAttribPointer(kAttrPosition, l.preTransformed ? 4 : 3, GL_FLOAT, GL_FALSE, stride, at(0));
  if (l.diffuse >= 0) {
    glEnableVertexAttribArray(kAttrDiffuse);
    // WebGL2 has no BGRA size: the bytes arrive in memory order and the shader swizzles them.
    glVertexAttribPointer(kAttrDiffuse, dialect == GlDialect::WebGl2 ? 4 : GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE,
                          stride, at(l.diffuse));
  } else {
    glDisableVertexAttribArray(kAttrDiffuse);
    glVertexAttrib4f(kAttrDiffuse, 1, 1, 1, 1);  // white where the record has no colour
  }
  static constexpr Attribute kTexCoordOf[kStages] = {kAttrTexCoord0, kAttrTexCoord1};
  for (DWORD i = 0; i < kStages; ++i) {
    // A set the record does not have reads as (0, 0).
    if (l.texCoord[i] >= 0) {
      glEnableVertexAttribArray(kTexCoordOf[i]);
      glVertexAttribPointer(kTexCoordOf[i], l.texCoordFloats[i], GL_FLOAT, GL_FALSE, stride,
                            at(l.texCoord[i]));
    } else {
      glDisableVertexAttribArray(kTexCoordOf[i]);
      glVertexAttrib4f(kTexCoordOf[i], 0, 0, 0, 1);
    }
  }
  if (l.pointSize >= 0) {
    glEnableVertexAttribArray(kAttrPointSize);
    glVertexAttribPointer(kAttrPointSize, 1, GL_FLOAT, GL_FALSE, stride, at(l.pointSize));
  } else {
    glDisableVertexAttribArray(kAttrPointSize);
  }
  k.attrBuffer = buffer;
  k.attrOffset = offset;
  k.attrFvf = c.fvf;
  k.attrStride = c.stride;
  std::copy(std::begin(texIndex), std::end(texIndex), std::begin(k.attrTexIndex));
}

GlBackend::GlBackend(std::unique_ptr<GlContext> context, int width, int height, GlDialect dialect,
                     Programs programs)
    : impl_(std::make_unique<Impl>()) {
  Impl& g = *impl_;
  g.context = std::move(context);
  g.dialect = dialect;
  g.width = width;
  g.height = height;
  g.context->makeCurrent();
  glGenFramebuffers(1, &g.fbo);
  glGenRenderbuffers(1, &g.colorRb);
  glGenRenderbuffers(1, &g.depthRb);
  glBindRenderbuffer(GL_RENDERBUFFER, g.colorRb);
  // The back buffer has the desktop's format, X8R8G8B8: no alpha channel. Blending writes none,
  // destination alpha reads as 1, and the picture reads back opaque, as it shows on screen.
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB8, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, g.depthRb);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
  glBindFramebuffer(GL_FRAMEBUFFER, g.fbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, g.colorRb);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, g.depthRb);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
    throw platform::Error("CreateDevice",
                          "the 1024x768 colour target with a 16-bit depth buffer is incomplete");
  // The target holds the screen upside down for GL: its row 0 is the screen's top row, as in
  // Direct3D's memory layout. The rasteriser then breaks ties for pixel centres on an edge the way
  // Direct3D's top-left rule does, and the back buffer reads back top row first.
  glViewport(0, 0, width, height);

  g.mode = programs;
  // Specialised programs are made as draws need them; only the uber mode wants the branching one,
  // and compiling it costs start-up time.
  if (programs == Programs::Uber)
    g.uber = g.link(FixedFunctionShaderSource(ShaderStage::Vertex, dialect),
                    FixedFunctionShaderSource(ShaderStage::Fragment, dialect), "CreateDevice");
  g.setInt(uTexture0, 0);
  g.setInt(uTexture1, 1);
  const float target[2] = {static_cast<float>(width), static_cast<float>(height)};
  g.setUniform(uTarget, target, 2);

  glGenVertexArrays(1, &g.vao);
  glBindVertexArray(g.vao);
  glGenBuffers(1, &g.vertexStream.buffer);
  glGenBuffers(1, &g.indexStream.buffer);
  g.indexStream.target = GL_ELEMENT_ARRAY_BUFFER;
  glVertexAttrib1f(kAttrPointSize, 1.0f);

  glGenSamplers(static_cast<GLsizei>(kStages), g.sampler);
  for (DWORD i = 0; i < kStages; ++i) glBindSampler(i, g.sampler[i]);
  glActiveTexture(GL_TEXTURE0);
  glGenTextures(1, &g.whiteTexture);
  glBindTexture(GL_TEXTURE_2D, g.whiteTexture);
  const std::uint8_t white[4] = {255, 255, 255, 255};
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  g.cache.unit[0].texture = g.whiteTexture;

  if (dialect == GlDialect::Desktop33) {
    // D3D's flat shading takes each triangle's colour from its first vertex.
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glEnable(GL_PROGRAM_POINT_SIZE);
    // Sprite coordinates (0, 0) at the screen's top-left, which is GL's lower left here.
    glPointParameteri(GL_POINT_SPRITE_COORD_ORIGIN, GL_LOWER_LEFT);
  } else {
    // ES always takes the shader's point size; a desktop context drawing in this dialect (the tests
    // of the browser's rules) must be told to.
    const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (version && std::strncmp(version, "OpenGL ES", 9) != 0) glEnable(GL_PROGRAM_POINT_SIZE);
    GLfloat range[2] = {0, 0};
    glGetFloatv(GL_ALIASED_POINT_SIZE_RANGE, range);
    if (range[1] < webgl2::kLargestPointSize)
      throw platform::Error("CreateDevice", "this browser draws points at most " + std::to_string(range[1]) +
                                                " pixels wide; the snow needs 64");
  }
  g.check("CreateDevice");
}

GlBackend::~GlBackend() {
  Impl& g = *impl_;
  try {
    g.use();
  } catch (const platform::Error&) {
    return;  // the context is gone, and its objects with it
  }
  // Textures and buffers that outlive the device find their graveyards gone and delete nothing.
  if (g.inFlight) glDeleteSync(g.inFlight);
  glDeleteTextures(1, &g.whiteTexture);
  glDeleteSamplers(static_cast<GLsizei>(kStages), g.sampler);
  glDeleteBuffers(1, &g.vertexStream.buffer);
  glDeleteBuffers(1, &g.indexStream.buffer);
  glDeleteVertexArrays(1, &g.vao);
  if (g.uber.name) glDeleteProgram(g.uber.name);
  for (auto& [key, p] : g.specialised) glDeleteProgram(p.name);
  glDeleteFramebuffers(1, &g.fbo);
  glDeleteRenderbuffers(1, &g.colorRb);
  glDeleteRenderbuffers(1, &g.depthRb);
}

void GlBackend::clear(d3d::DWORD flags, d3d::D3DCOLOR color, float z, d3d::DWORD stencil) {
  (void)stencil;
  Impl& g = *impl_;
  g.use();
  glBindFramebuffer(GL_FRAMEBUFFER, g.fbo);
  GLbitfield mask = 0;
  if (flags & d3d::D3DCLEAR_TARGET) {
    glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                 ((color >> 24) & 0xFF) / 255.0f);
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if (flags & d3d::D3DCLEAR_ZBUFFER) {
    if (g.dialect == GlDialect::WebGl2)
      glClearDepthf(z);
    else
      glClearDepth(z);
    if (g.cache.depthMask != 1) {
      glDepthMask(GL_TRUE);  // a clear writes depth whatever ZWRITEENABLE says
      g.cache.depthMask = 1;
    }
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  glClear(mask);
  g.check("Clear");
}

void GlBackend::draw(const d3d::DrawCall& call, const d3d::DeviceState& state) {
  const char* name = call.buffer    ? "DrawPrimitive"
                     : call.indices ? "DrawIndexedPrimitiveUP"
                                    : "DrawPrimitiveUP";
  Impl& g = *impl_;
  g.use();

  const GLenum mode = primitiveMode(call.type, name);
  g.applyRenderStates(state, name);
  DWORD texIndex[kStages];
  g.applyStages(call, state, name, texIndex);
  const VertexLayout layout = layoutFor(call.fvf, texIndex, name);
  if (call.stride < layout.size)
    throw platform::Error(name, "stride " + std::to_string(call.stride) + " smaller than the vertex format");
  g.setInt(uPreTransformed, layout.preTransformed);
  g.setInt(uVertexPointSize, layout.pointSize >= 0);
  if (!layout.preTransformed) {
    d3d::D3DMATRIX worldView;
    d3dx::D3DXMatrixMultiply(&worldView, &state.world, &state.view);
    g.setUniform(uWorldView, &worldView.m[0][0], 16);
    g.setUniform(uProjection, &state.projection.m[0][0], 16);
  }
  g.useProgram(name);

  const std::size_t stride = call.stride;
  // WebGL2 takes a flat colour from the last vertex; only coloured records make that visible.
  const bool web = g.dialect == GlDialect::WebGl2;
  const bool flatFromFirst =
      web && state.renderStates[d3d::D3DRS_SHADEMODE] == d3d::D3DSHADE_FLAT && layout.diffuse >= 0;
  if (call.buffer) {
    d3d::VertexBuffer& vb = *call.buffer;
    GLuint buffer = 0;
    if (!vb.backendHandle) {
      glGenBuffers(1, &buffer);
      g.bindArrayBuffer(buffer);
      glBufferData(GL_ARRAY_BUFFER, vb.Length(), vb.Data(), GL_DYNAMIC_DRAW);
      vb.backendHandle = g.own(buffer, g.deadBuffers);
      vb.dirtyBegin = SIZE_MAX;
      vb.dirtyEnd = 0;
    } else {
      buffer = g.nameOf(vb.backendHandle, name, "the vertex buffer");
    }
    if (vb.dirtyBegin < vb.dirtyEnd) {
      g.bindArrayBuffer(buffer);
      glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(vb.dirtyBegin),
                      static_cast<GLsizeiptr>(vb.dirtyEnd - vb.dirtyBegin), vb.Data() + vb.dirtyBegin);
      vb.dirtyBegin = SIZE_MAX;
      vb.dirtyEnd = 0;
    }
    g.setAttributes(buffer, 0, call, layout, texIndex);
    if (g.cullInvisiblePoints(call, state, layout, call.vertices, call.firstVertex))
      g.drawVisiblePoints();
    else if (flatFromFirst)
      g.drawIndexList(call, nullptr, call.firstVertex, true, name);
    else
      glDrawArrays(mode, static_cast<GLint>(call.firstVertex), static_cast<GLsizei>(call.vertexCount));
  } else if (!call.indices) {
    // Records land on a whole number of strides into the stream, so the attribute set-up stays as
    // it was and only the first vertex moves.
    const std::size_t bytes = (call.vertexCount - 1) * stride + layout.size;
    const std::size_t at = g.put(g.vertexStream, call.vertices, bytes, stride);
    g.setAttributes(g.vertexStream.buffer, 0, call, layout, texIndex);
    if (g.cullInvisiblePoints(call, state, layout, call.vertices, at / stride))
      g.drawVisiblePoints();
    else if (flatFromFirst)
      g.drawIndexList(call, nullptr, static_cast<std::int64_t>(at / stride), true, name);
    else
      glDrawArrays(mode, static_cast<GLint>(at / stride), static_cast<GLsizei>(call.vertexCount));
  } else {
    // Only the records of the given range travel; the indices reach them through a base vertex.
    const std::size_t first = call.firstVertex;
    const std::size_t count = call.vertexCount - first;
    const std::size_t bytes = (count - 1) * stride + layout.size;
    const std::size_t at = g.put(g.vertexStream, call.vertices + first * stride, bytes, stride);
    g.setAttributes(g.vertexStream.buffer, 0, call, layout, texIndex);
    if (web) {
      g.drawIndexList(call, call.indices,
                      static_cast<std::int64_t>(at / stride) - static_cast<std::int64_t>(first),
                      flatFromFirst, name);
      g.check(name);
      return;
    }
    const std::size_t indexAt =
        g.put(g.indexStream, call.indices, call.indexCount * sizeof(std::uint16_t), 4);
    glDrawElementsBaseVertex(mode, static_cast<GLsizei>(call.indexCount), GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void*>(indexAt),
                             static_cast<GLint>(at / stride) - static_cast<GLint>(first));
  }
  g.check(name);
}

void GlBackend::present() {
  Impl& g = *impl_;
  g.use();
  if (!g.context->headless()) {
    int w = 0, h = 0;
    g.context->drawableSize(w, h);
    // Scale the back buffer into the window, aspect kept, with black bars.
    const platform::Rect r = platform::FitCentred(g.width, g.height, w, h);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, g.fbo);
    glBlitFramebuffer(0, 0, g.width, g.height, r.x, r.y + r.h, r.x + r.w, r.y, GL_COLOR_BUFFER_BIT,
                      GL_LINEAR);
    g.context->swap();
    glBindFramebuffer(GL_FRAMEBUFFER, g.fbo);
  } else {
    glFlush();
  }
  // A browser paces the frames itself, and WebGL2 never lets the page wait on a fence.
  if (g.dialect == GlDialect::WebGl2) {
    g.check("Present");
    return;
  }
  // The CPU runs at most one frame ahead of the rasteriser. Unthrottled, a software rasteriser
  // queues dozens of frames, each holding its binned primitives: over 100 MB for the demo.
  const GLsync presented = glFenceSync(GL_SYNC_GPU_COMMANDS_COMPLETE, 0);
  if (g.inFlight) {
    GLenum r = GL_TIMEOUT_EXPIRED;
    while (r == GL_TIMEOUT_EXPIRED)
      r = glClientWaitSync(g.inFlight, GL_SYNC_FLUSH_COMMANDS_BIT, 1'000'000'000);
    glDeleteSync(g.inFlight);
  }
  g.inFlight = presented;
  g.check("Present");
}

void GlBackend::createTexture(d3d::Texture& texture) {
  Impl& g = *impl_;
  g.use();
  GLuint tex = 0;
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  g.cache.unit[0].texture = tex;
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (std::size_t i = 0; i < texture.levels.size(); ++i) {
    const auto& l = texture.levels[i];
    if (l.rgba.size() != static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.height) * 4) {
      glDeleteTextures(1, &tex);
      g.cache.unit[0].texture = ~0u;
      throw platform::Error("CreateTexture",
                            "mip level " + std::to_string(i) + " holds the wrong number of bytes",
                            texture.source);
    }
    glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), GL_RGBA8, l.width, l.height, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, l.rgba.data());
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(texture.levels.size()) - 1);
  g.check("CreateTexture");
  texture.backendHandle = g.own(tex, g.deadTextures);
}

std::size_t GlBackend::specialisedPrograms() const {
  return impl_->specialised.size();
}

void GlBackend::finish() {
  impl_->use();
  glFinish();
}

std::vector<std::uint8_t> GlBackend::readBack(d3d::DWORD& width, d3d::DWORD& height) {
  std::vector<std::uint8_t> pixels;
  readBackInto(pixels, width, height);
  return pixels;
}

void GlBackend::readBackInto(std::vector<std::uint8_t>& pixels, d3d::DWORD& width, d3d::DWORD& height) {
  Impl& g = *impl_;
  g.use();
  width = static_cast<d3d::DWORD>(g.width);
  height = static_cast<d3d::DWORD>(g.height);
  pixels.resize(static_cast<std::size_t>(width) * height * 4);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, g.fbo);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, g.width, g.height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  g.check("ReadBack");
}

}  // namespace gl
