#include "bench/FloorFrame.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>

#include "platform/d3d/d3dxmath.h"
#include "platform/gl/GlContext.h"

namespace bench {

namespace {

using d3d::DWORD;

// Each program is one kind of draw of the demo's frame, with nothing in it that the draw does not
// use. Matrices are the device's, uploaded as stored (row vectors), so M * v here is v x M there;
// the target holds the screen upside down, D3D's pixel centres sit half a pixel from GL's, and D3D's
// clip depth runs 0..w.
#define FLOOR_VERTEX_PROLOGUE                 \
  "#version 330 core\n"                       \
  "layout(location = 0) in vec3 aPosition;\n" \
  "uniform mat4 uWorldView;\n"                \
  "uniform mat4 uProjection;\n"               \
  "uniform vec2 uTarget;\n"                   \
  "vec4 project(vec4 e) {\n"                  \
  "  vec4 clip = uProjection * e;\n"          \
  "  clip.y = -clip.y;\n"                     \
  "  clip.xy += clip.w / uTarget;\n"          \
  "  clip.z = 2.0 * clip.z - clip.w;\n"       \
  "  return clip;\n"                          \
  "}\n"

#define FLOOR_LINEAR_FOG                                                            \
  "uniform vec3 uFogColor;\n"                                                       \
  "uniform vec2 uFogRange;\n"                                                       \
  "vec4 fogged(vec4 c, float d) {\n"                                                \
  "  float f = clamp((uFogRange.y - d) / (uFogRange.y - uFogRange.x), 0.0, 1.0);\n" \
  "  return vec4(mix(uFogColor, c.rgb, f), c.a);\n"                                 \
  "}\n"

// The tree: vertex colour (flat), a texture or none, linear fog.
const char* const kTreeVertex = FLOOR_VERTEX_PROLOGUE
    "layout(location = 1) in vec4 aDiffuse;\n"
    "layout(location = 2) in vec2 aTexCoord;\n"
    "flat out vec4 vDiffuse;\n"
    "out vec2 vTexCoord;\n"
    "out float vDepth;\n"
    "void main() {\n"
    "  vec4 e = uWorldView * vec4(aPosition, 1.0);\n"
    "  gl_Position = project(e);\n"
    "  vDiffuse = aDiffuse;\n"
    "  vTexCoord = aTexCoord;\n"
    "  vDepth = e.z;\n"
    "}\n";
const char* const kTreeTexturedFragment =
    "#version 330 core\n" FLOOR_LINEAR_FOG
    "flat in vec4 vDiffuse;\n"
    "in vec2 vTexCoord;\n"
    "in float vDepth;\n"
    "uniform sampler2D uTexture;\n"
    "out vec4 fragColor;\n"
    "void main() { fragColor = fogged(texture(uTexture, vTexCoord) * vDiffuse, vDepth); }\n";
const char* const kTreePlainFragment = "#version 330 core\n" FLOOR_LINEAR_FOG
                                       "flat in vec4 vDiffuse;\n"
                                       "in float vDepth;\n"
                                       "out vec4 fragColor;\n"
                                       "void main() { fragColor = fogged(vDiffuse, vDepth); }\n";

// The ground: a texture at its own colours, linear fog.
const char* const kGroundVertex = FLOOR_VERTEX_PROLOGUE
    "layout(location = 2) in vec2 aTexCoord;\n"
    "out vec2 vTexCoord;\n"
    "out float vDepth;\n"
    "void main() {\n"
    "  vec4 e = uWorldView * vec4(aPosition, 1.0);\n"
    "  gl_Position = project(e);\n"
    "  vTexCoord = aTexCoord;\n"
    "  vDepth = e.z;\n"
    "}\n";
const char* const kGroundFragment =
    "#version 330 core\n" FLOOR_LINEAR_FOG
    "in vec2 vTexCoord;\n"
    "in float vDepth;\n"
    "uniform sampler2D uTexture;\n"
    "out vec4 fragColor;\n"
    "void main() { fragColor = fogged(texture(uTexture, vTexCoord), vDepth); }\n";

// The snow: distance-scaled point sprites, texture times vertex colour, no fog.
const char* const kSnowVertex = FLOOR_VERTEX_PROLOGUE
    "layout(location = 1) in vec4 aDiffuse;\n"
    "uniform vec3 uPointSize;  // base, minimum, maximum\n"
    "uniform vec3 uPointScaleABC;\n"
    "uniform float uViewportHeight;\n"
    "flat out vec4 vDiffuse;\n"
    "void main() {\n"
    "  vec4 e = uWorldView * vec4(aPosition, 1.0);\n"
    "  gl_Position = project(e);\n"
    "  vDiffuse = aDiffuse;\n"
    "  float de = length(e.xyz);\n"
    "  float size = uPointSize.x;\n"
    "  size *= uViewportHeight *\n"
    "          sqrt(1.0 / (uPointScaleABC.x + uPointScaleABC.y * de + uPointScaleABC.z * de * de));\n"
    "  gl_PointSize = min(max(size, uPointSize.y), uPointSize.z);\n"
    "}\n";
const char* const kSnowFragment =
    "#version 330 core\n"
    "flat in vec4 vDiffuse;\n"
    "uniform sampler2D uTexture;\n"
    "out vec4 fragColor;\n"
    "void main() { fragColor = texture(uTexture, gl_PointCoord) * vDiffuse; }\n";

// The text: screen-space glyph quads, atlas times vertex colour.
const char* const kTextVertex =
    "#version 330 core\n"
    "layout(location = 0) in vec4 aPosition;\n"
    "layout(location = 1) in vec4 aDiffuse;\n"
    "layout(location = 2) in vec2 aTexCoord;\n"
    "uniform vec2 uTarget;\n"
    "flat out vec4 vDiffuse;\n"
    "out vec2 vTexCoord;\n"
    "void main() {\n"
    "  float w = aPosition.w != 0.0 ? 1.0 / aPosition.w : 1.0;\n"
    "  vec2 ndc = (aPosition.xy + 0.5) * 2.0 / uTarget - 1.0;\n"
    "  gl_Position = vec4(ndc * w, (2.0 * aPosition.z - 1.0) * w, w);\n"
    "  vDiffuse = aDiffuse;\n"
    "  vTexCoord = aTexCoord;\n"
    "}\n";
const char* const kTextFragment =
    "#version 330 core\n"
    "flat in vec4 vDiffuse;\n"
    "in vec2 vTexCoord;\n"
    "uniform sampler2D uTexture;\n"
    "out vec4 fragColor;\n"
    "void main() { fragColor = texture(uTexture, vTexCoord) * vDiffuse; }\n";

#undef FLOOR_VERTEX_PROLOGUE
#undef FLOOR_LINEAR_FOG

enum Kind { kTreeTextured, kTreePlain, kGround, kSnow, kText, kKinds };

constexpr DWORD kTreeFvf = d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_TEX1;
constexpr DWORD kGroundFvf = d3d::D3DFVF_XYZ | d3d::D3DFVF_TEX1;
constexpr DWORD kSnowFvf = d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE;
constexpr DWORD kTextFvf = d3d::D3DFVF_XYZRHW | d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_TEX1;

GLuint compile(GLenum type, const char* source) {
  const GLuint s = glCreateShader(type);
  glShaderSource(s, 1, &source, nullptr);
  glCompileShader(s);
  GLint ok = 0;
  glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[2048] = {};
    glGetShaderInfoLog(s, sizeof log, nullptr, log);
    throw std::runtime_error(std::string("floor shader: ") + log);
  }
  return s;
}

GLuint link(const char* vertex, const char* fragment) {
  const GLuint p = glCreateProgram();
  const GLuint vs = compile(GL_VERTEX_SHADER, vertex), fs = compile(GL_FRAGMENT_SHADER, fragment);
  glAttachShader(p, vs);
  glAttachShader(p, fs);
  glLinkProgram(p);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(p, GL_LINK_STATUS, &ok);
  if (!ok) throw std::runtime_error("floor program does not link");
  return p;
}

float floatOf(DWORD bits) {
  return std::bit_cast<float>(bits);
}

}  // namespace

struct FloorFrame::Impl {
  std::unique_ptr<gl::GlContext> context = gl::CreateHeadlessContext();
  GLuint fbo = 0, colorRb = 0, depthRb = 0, vao = 0;
  GLuint program[kKinds] = {};
  GLuint sampler[kKinds] = {};
  float clear[4] = {};

  // One draw, its geometry already in GL: static geometry once, the snow and the text each frame.
  struct Draw {
    Kind kind;
    GLenum mode;
    GLuint vbo = 0, ibo = 0;
    GLsizei count = 0;  // vertices, or indices when indexed
    GLuint texture = 0;
    std::vector<std::uint8_t> perFrame;  // bytes re-sent every frame
    d3d::D3DMATRIX worldView{}, projection{};
    float fogColor[3] = {}, fogRange[2] = {};
    float pointSize[3] = {}, pointScale[3] = {}, viewportHeight = 0;
  };
  std::vector<Draw> draws;
  std::map<const d3d::Texture*, GLuint> textures;

  GLuint textureOf(const d3d::Texture& t) {
    auto it = textures.find(&t);
    if (it != textures.end()) return it->second;
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (std::size_t i = 0; i < t.levels.size(); ++i)
      glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), GL_RGBA8, t.levels[i].width, t.levels[i].height, 0,
                   GL_RGBA, GL_UNSIGNED_BYTE, t.levels[i].rgba.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(t.levels.size()) - 1);
    textures[&t] = tex;
    return tex;
  }

  void uniformMatrix(GLuint p, const char* name, const d3d::D3DMATRIX& m) {
    glUniformMatrix4fv(glGetUniformLocation(p, name), 1, GL_FALSE, &m.m[0][0]);
  }

  void drawOne(const Draw& d) {
    const GLuint p = program[d.kind];
    glUseProgram(p);
    glBindSampler(0, sampler[d.kind]);
    glBindTexture(GL_TEXTURE_2D, d.texture);
    if (d.kind != kText) {
      uniformMatrix(p, "uWorldView", d.worldView);
      uniformMatrix(p, "uProjection", d.projection);
    }
    if (d.kind == kTreeTextured || d.kind == kTreePlain || d.kind == kGround) {
      glUniform3fv(glGetUniformLocation(p, "uFogColor"), 1, d.fogColor);
      glUniform2fv(glGetUniformLocation(p, "uFogRange"), 1, d.fogRange);
    }
    if (d.kind == kSnow) {
      glUniform3fv(glGetUniformLocation(p, "uPointSize"), 1, d.pointSize);
      glUniform3fv(glGetUniformLocation(p, "uPointScaleABC"), 1, d.pointScale);
      glUniform1f(glGetUniformLocation(p, "uViewportHeight"), d.viewportHeight);
    }
    // Opaque and depth-writing; the snow tests depth and adds its light; the text lies on top.
    if (d.kind == kSnow) {
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE);
      glEnable(GL_DEPTH_TEST);
      glDepthMask(GL_FALSE);
    } else if (d.kind == kText) {
      glEnable(GL_BLEND);
      glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
      glDisable(GL_DEPTH_TEST);
    } else {
      glDisable(GL_BLEND);
      glEnable(GL_DEPTH_TEST);
      glDepthMask(GL_TRUE);
    }
    glBindBuffer(GL_ARRAY_BUFFER, d.vbo);
    if (!d.perFrame.empty())
      glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(d.perFrame.size()), d.perFrame.data());
    const auto at = [](std::size_t offset) { return reinterpret_cast<const void*>(offset); };
    glDisableVertexAttribArray(1);
    glDisableVertexAttribArray(2);
    switch (d.kind) {
      case kTreeTextured:
      case kTreePlain:
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 24, at(0));
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 24, at(12));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 24, at(16));
        break;
      case kGround:
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 20, at(0));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 20, at(12));
        break;
      case kSnow:
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, 16, at(0));
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 16, at(12));
        break;
      case kText:
        glVertexAttribPointer(0, 4, GL_FLOAT, GL_FALSE, 28, at(0));
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, GL_BGRA, GL_UNSIGNED_BYTE, GL_TRUE, 28, at(16));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 2, GL_FLOAT, GL_FALSE, 28, at(20));
        break;
      case kKinds:
        break;
    }
    if (d.ibo) {
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, d.ibo);
      glDrawElements(d.mode, d.count, GL_UNSIGNED_SHORT, nullptr);
    } else {
      glDrawArrays(d.mode, 0, d.count);
    }
  }
};

FloorFrame::FloorFrame(const std::vector<d3d::RecordingBackend::Draw>& draws, d3d::D3DCOLOR clearColor)
    : impl_(std::make_unique<Impl>()) {
  Impl& g = *impl_;
  g.context->makeCurrent();
  g.clear[0] = ((clearColor >> 16) & 0xFF) / 255.0f;
  g.clear[1] = ((clearColor >> 8) & 0xFF) / 255.0f;
  g.clear[2] = (clearColor & 0xFF) / 255.0f;
  g.clear[3] = ((clearColor >> 24) & 0xFF) / 255.0f;
  // The device's back buffer: 1024 x 768 without alpha, 16-bit depth, held upside down.
  glGenFramebuffers(1, &g.fbo);
  glGenRenderbuffers(1, &g.colorRb);
  glGenRenderbuffers(1, &g.depthRb);
  glBindRenderbuffer(GL_RENDERBUFFER, g.colorRb);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGB8, 1024, 768);
  glBindRenderbuffer(GL_RENDERBUFFER, g.depthRb);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, 1024, 768);
  glBindFramebuffer(GL_FRAMEBUFFER, g.fbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, g.colorRb);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, g.depthRb);
  glViewport(0, 0, 1024, 768);
  glGenVertexArrays(1, &g.vao);
  glBindVertexArray(g.vao);
  glEnableVertexAttribArray(0);
  glDepthFunc(GL_LEQUAL);
  glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
  glEnable(GL_PROGRAM_POINT_SIZE);
  glPointParameteri(GL_POINT_SPRITE_COORD_ORIGIN, GL_LOWER_LEFT);

  g.program[kTreeTextured] = link(kTreeVertex, kTreeTexturedFragment);
  g.program[kTreePlain] = link(kTreeVertex, kTreePlainFragment);
  g.program[kGround] = link(kGroundVertex, kGroundFragment);
  g.program[kSnow] = link(kSnowVertex, kSnowFragment);
  g.program[kText] = link(kTextVertex, kTextFragment);
  for (GLuint p : g.program) {
    glUseProgram(p);
    glUniform1i(glGetUniformLocation(p, "uTexture"), 0);
    glUniform2f(glGetUniformLocation(p, "uTarget"), 1024.0f, 768.0f);
  }
  // Trilinear and wrapping for the scene, bilinear and clamped for the glyph atlas.
  glGenSamplers(kKinds, g.sampler);
  for (int k = 0; k < kKinds; ++k) {
    const bool text = k == kText;
    glSamplerParameteri(g.sampler[k], GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glSamplerParameteri(g.sampler[k], GL_TEXTURE_MIN_FILTER, text ? GL_LINEAR : GL_LINEAR_MIPMAP_LINEAR);
    glSamplerParameteri(g.sampler[k], GL_TEXTURE_WRAP_S, text ? GL_CLAMP_TO_EDGE : GL_REPEAT);
    glSamplerParameteri(g.sampler[k], GL_TEXTURE_WRAP_T, text ? GL_CLAMP_TO_EDGE : GL_REPEAT);
  }

  for (const auto& r : draws) {
    Impl::Draw d;
    const d3d::DrawCall& c = r.call;
    const auto& rs = r.state.renderStates;
    if (c.fvf == kTreeFvf && c.type == d3d::D3DPT_TRIANGLELIST)
      d.kind = r.state.textures[0] ? kTreeTextured : kTreePlain;
    else if (c.fvf == kGroundFvf && c.type == d3d::D3DPT_TRIANGLESTRIP)
      d.kind = kGround;
    else if (c.fvf == kSnowFvf && c.type == d3d::D3DPT_POINTLIST)
      d.kind = kSnow;
    else if (c.fvf == kTextFvf && c.type == d3d::D3DPT_TRIANGLELIST)
      d.kind = kText;
    else
      throw std::runtime_error("the floor program draws the demo's frame only: unexpected vertex format " +
                               std::to_string(c.fvf));
    d.mode = c.type == d3d::D3DPT_POINTLIST       ? GL_POINTS
             : c.type == d3d::D3DPT_TRIANGLESTRIP ? GL_TRIANGLE_STRIP
                                                  : GL_TRIANGLES;
    d3dx::D3DXMatrixMultiply(&d.worldView, &r.state.world, &r.state.view);
    d.projection = r.state.projection;
    const d3d::D3DCOLOR fog = rs[d3d::D3DRS_FOGCOLOR];
    d.fogColor[0] = ((fog >> 16) & 0xFF) / 255.0f;
    d.fogColor[1] = ((fog >> 8) & 0xFF) / 255.0f;
    d.fogColor[2] = (fog & 0xFF) / 255.0f;
    d.fogRange[0] = floatOf(rs[d3d::D3DRS_FOGSTART]);
    d.fogRange[1] = floatOf(rs[d3d::D3DRS_FOGEND]);
    d.pointSize[0] = floatOf(rs[d3d::D3DRS_POINTSIZE]);
    d.pointSize[1] = floatOf(rs[d3d::D3DRS_POINTSIZE_MIN]);
    d.pointSize[2] = floatOf(rs[d3d::D3DRS_POINTSIZE_MAX]);
    d.pointScale[0] = floatOf(rs[d3d::D3DRS_POINTSCALE_A]);
    d.pointScale[1] = floatOf(rs[d3d::D3DRS_POINTSCALE_B]);
    d.pointScale[2] = floatOf(rs[d3d::D3DRS_POINTSCALE_C]);
    d.viewportHeight = static_cast<float>(r.state.viewportHeight);
    if (r.state.textures[0]) d.texture = g.textureOf(*r.state.textures[0]);

    glGenBuffers(1, &d.vbo);
    glBindBuffer(GL_ARRAY_BUFFER, d.vbo);
    const bool dynamic = d.kind == kSnow || d.kind == kText;
    glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(r.vertexData.size()), r.vertexData.data(),
                 dynamic ? GL_DYNAMIC_DRAW : GL_STATIC_DRAW);
    if (dynamic) d.perFrame = r.vertexData;
    if (!r.indexData.empty()) {
      glGenBuffers(1, &d.ibo);
      glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, d.ibo);
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(r.indexData.size() * 2),
                   r.indexData.data(), GL_STATIC_DRAW);
      d.count = static_cast<GLsizei>(r.indexData.size());
    } else {
      d.count = static_cast<GLsizei>(c.vertexCount - c.firstVertex);
    }
    g.draws.push_back(std::move(d));
  }
  if (glGetError() != GL_NO_ERROR) throw std::runtime_error("the floor program's set-up failed");
}

FloorFrame::~FloorFrame() {
  Impl& g = *impl_;
  g.context->makeCurrent();
  for (auto& d : g.draws) {
    glDeleteBuffers(1, &d.vbo);
    if (d.ibo) glDeleteBuffers(1, &d.ibo);
  }
  for (auto& [t, name] : g.textures) glDeleteTextures(1, &name);
  for (GLuint p : g.program) glDeleteProgram(p);
  glDeleteSamplers(kKinds, g.sampler);
  glDeleteVertexArrays(1, &g.vao);
  glDeleteFramebuffers(1, &g.fbo);
  glDeleteRenderbuffers(1, &g.colorRb);
  glDeleteRenderbuffers(1, &g.depthRb);
}

void FloorFrame::draw() {
  Impl& g = *impl_;
  if (!g.context->isCurrent()) g.context->makeCurrent();
  glBindFramebuffer(GL_FRAMEBUFFER, g.fbo);
  glClearColor(g.clear[0], g.clear[1], g.clear[2], g.clear[3]);
  glDepthMask(GL_TRUE);
  glClearDepth(1.0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  for (const auto& d : g.draws) g.drawOne(d);
  glFinish();
}

std::vector<std::uint8_t> FloorFrame::readBack() {
  Impl& g = *impl_;
  if (!g.context->isCurrent()) g.context->makeCurrent();
  std::vector<std::uint8_t> pixels(1024 * 768 * 4);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, g.fbo);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, 1024, 768, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  return pixels;
}

PixelDifference Compare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
  PixelDifference d;
  if (a.size() != b.size()) {
    d.differing = std::max(a.size(), b.size()) / 4;
    d.maxLevels = 255;
    return d;
  }
  for (std::size_t i = 0; i + 3 < a.size(); i += 4) {
    int worst = 0;
    for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(int{a[i + k]} - int{b[i + k]}));
    if (worst) ++d.differing;
    d.maxLevels = std::max(d.maxLevels, worst);
  }
  return d;
}

}  // namespace bench
