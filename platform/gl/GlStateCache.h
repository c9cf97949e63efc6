// The OpenGL state a backend last set, so that device state that did not change costs no GL call.
// Each setter compares with what it holds and calls GL only for a change; -1 and ~0 mean unknown.
#pragma once

#include <cstddef>

#include "platform/gl/GlApi.h"
#include "platform/gl/GlTranslate.h"

namespace gl {

struct GlStateCache {
  int depthTest = -1, depthMask = -1, blend = -1, cull = -1, scissor = -1;
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
  void forgetBuffer(GLuint b) {
    if (attrBuffer == b) attrBuffer = ~0u;
    if (arrayBuffer == b) arrayBuffer = ~0u;
  }
};

}  // namespace gl
