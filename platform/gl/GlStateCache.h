// The OpenGL state a backend last set, so that device state that did not change costs no GL call.
// Each setter compares with what it holds and calls GL only for a change; -1 and ~0 mean unknown.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/gl/GlApi.h"
#include "platform/gl/GlTranslate.h"

namespace gl {

struct GlStateCache {
  int depthTest = -1, depthMask = -1, blend = -1, cull = -1, scissor = -1;
  GLenum depthFunc = 0, blendSrc = 0, blendDst = 0, cullFace = 0, polygonMode = 0;
  GLuint arrayBuffer = ~0u;
  struct Unit {
    GLuint texture = ~0u;
    GLuint sampler = ~0u;
  } unit[kStages];

  // A vertex array object: the attribute set-up of one buffer read in one format (the buffer,
  // format, stride and the coordinate set each stage reads), made once, and the index buffer it has
  // bound (element bindings belong to the vertex array).
  struct VertexArray {
    GLuint buffer = 0;
    DWORD fvf = 0, stride = 0, texIndex[kStages] = {};
    GLuint name = 0;
    GLuint elementBuffer = ~0u;
  };
  std::vector<VertexArray> vertexArrays;
  std::size_t currentArray = SIZE_MAX;  // index into vertexArrays; SIZE_MAX: none of them is bound

  // Each sampler object made: the parameters it holds. Direct3D keeps sampling states per stage,
  // but a frame cycles through a few combinations: each gets its own object, set up once.
  struct Sampler {
    GLint magFilter, minFilter, wrapS, wrapT;
    float border[4];
    GLuint name;
  };
  std::vector<Sampler> samplers;

  // The value each attribute reads where its array is disabled (current attributes are context
  // state, kept apart from the vertex arrays); NaN: unknown.
  static constexpr unsigned kAttributes = 8;
  float constant[kAttributes][4];

  GlStateCache() {
    for (auto& c : constant) std::fill(std::begin(c), std::end(c), __builtin_nanf(""));
  }

  void enable(GLenum cap, int& cached, bool on) {
    if (cached == static_cast<int>(on)) return;
    if (on)
      glEnable(cap);
    else
      glDisable(cap);
    cached = on;
  }
  void setDepthMask(bool on) {
    if (depthMask == static_cast<int>(on)) return;
    glDepthMask(on ? GL_TRUE : GL_FALSE);
    depthMask = on;
  }
  void setDepthFunc(GLenum f) {
    if (depthFunc != f) glDepthFunc(depthFunc = f);
  }
  void setBlendFunc(GLenum src, GLenum dst) {
    if (blendSrc == src && blendDst == dst) return;
    glBlendFunc(src, dst);
    blendSrc = src;
    blendDst = dst;
  }
  void setCullFace(GLenum face) {
    if (cullFace != face) glCullFace(cullFace = face);
  }
  void bindArrayBuffer(GLuint b) {
    if (arrayBuffer == b) return;
    glBindBuffer(GL_ARRAY_BUFFER, b);
    arrayBuffer = b;
  }
  // Binds `b` as the index buffer of the vertex array in use.
  void bindElementBuffer(GLuint b) {
    if (currentArray != SIZE_MAX) {
      GLuint& bound = vertexArrays[currentArray].elementBuffer;
      if (bound == b) return;
      bound = b;
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, b);
  }
  void bindVertexArray(std::size_t i) {
    if (currentArray == i) return;
    glBindVertexArray(vertexArrays[i].name);
    currentArray = i;
  }
  // The value an attribute without an array reads; set in GL only when it changes.
  void setConstant(unsigned a, const float (&v)[4]) {
    if (std::memcmp(constant[a], v, sizeof v) == 0) return;
    glVertexAttrib4f(a, v[0], v[1], v[2], v[3]);
    std::memcpy(constant[a], v, sizeof v);
  }
  void bindSampler(DWORD i, GLuint s) {
    if (unit[i].sampler == s) return;
    glBindSampler(i, s);
    unit[i].sampler = s;
  }
  // Texture unit 0 stays the active one, so that creating a texture binds it there.
  void bindTexture(DWORD i, GLuint tex) {
    if (unit[i].texture == tex) return;
    if (i != 0) glActiveTexture(GL_TEXTURE0 + i);
    glBindTexture(GL_TEXTURE_2D, tex);
    if (i != 0) glActiveTexture(GL_TEXTURE0);
    unit[i].texture = tex;
  }
  // A frame drawn through a one-pixel scissor changes no pixel but that one: every call runs as in
  // a frame that is shown, without the rasteriser filling what nobody sees.
  void setUnseen(bool on) {
    if (on && scissor != 1) glScissor(0, 0, 1, 1);
    enable(GL_SCISSOR_TEST, scissor, on);
  }
  // Names deleted since: a new object may take them.
  void forgetTexture(GLuint t) {
    for (auto& u : unit)
      if (u.texture == t) u.texture = ~0u;
  }
  // A deleted buffer leaves the vertex arrays that read it: they go too, and the index binding of
  // every other one is no longer known (the name may come back for another buffer).
  void forgetBuffer(GLuint b) {
    if (arrayBuffer == b) arrayBuffer = ~0u;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < vertexArrays.size(); ++i) {
      VertexArray& v = vertexArrays[i];
      if (v.elementBuffer == b) v.elementBuffer = ~0u;
      if (v.buffer == b) {
        glDeleteVertexArrays(1, &v.name);
        if (currentArray == i) currentArray = SIZE_MAX;
        continue;
      }
      if (currentArray == i) currentArray = kept;
      vertexArrays[kept++] = v;
    }
    vertexArrays.resize(kept);
  }
};

}  // namespace gl
