// The OpenGL backend's state, shared by its files: GlBackend.cpp (the device's calls) and
// GlDrawStates.cpp (how a draw's device state becomes GL state). Only they include it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/gl/Dialect.h"
#include "platform/gl/GlApi.h"
#include "platform/gl/GlBackend.h"
#include "platform/gl/GlStateCache.h"
#include "platform/gl/GlTranslate.h"
#include "platform/gl/ProgramCache.h"
#include "platform/gl/StreamRing.h"

namespace gl {

namespace detail {

// A GL object owned by a texture or vertex buffer. When its owner goes, the name is queued for the
// backend that made it, which deletes it with its own context current; once that backend is gone
// the name died with its context.
struct GlObject {
  GLuint name = 0;
  const void* backend = nullptr;
  std::weak_ptr<std::vector<GLuint>> graveyard;
};

// What the backend keeps of an index buffer: its indices as written (desktop OpenGL draws them
// with a base vertex), or, in the WebGL2 dialect, each index list a draw of it needed (rebased and
// rotated by the WebGL2 rules), made when first drawn and kept until the buffer is written again.
struct GlIndexObject {
  struct List {
    d3d::DWORD start = 0, count = 0;  // the index buffer's range
    std::int64_t offset = 0;          // added to each index
    bool flat = false;
    d3d::D3DPRIMITIVETYPE drawAs = d3d::D3DPT_TRIANGLELIST;
    GLuint buffer = 0;
    GLenum indexType = GL_UNSIGNED_SHORT;
    GLsizei elements = 0;
  };
  GLuint indices = 0;
  std::vector<List> lists;
  const void* backend = nullptr;
  std::weak_ptr<std::vector<GLuint>> graveyard;
};

}  // namespace detail

struct GlBackend::Impl {
  Impl(GlDialect which, KeyDefinesFn defines)
      : dialect(which),
        programs(which, defines),
        vertexStream(GL_ARRAY_BUFFER, dialect.mapsBuffers()),
        indexStream(GL_ELEMENT_ARRAY_BUFFER, dialect.mapsBuffers()) {}

  std::unique_ptr<GlContext> context;
  Dialect dialect;
  int width = 0, height = 0;
  GLuint fbo = 0, colorRb = 0, depthRb = 0;
  GLuint vao = 0, whiteTexture = 0;
  ProgramCache programs;
  GlStateCache cache;
  std::shared_ptr<std::vector<GLuint>> deadTextures = std::make_shared<std::vector<GLuint>>();
  std::shared_ptr<std::vector<GLuint>> deadBuffers = std::make_shared<std::vector<GLuint>>();
  StreamRing vertexStream, indexStream;
  // The WebGL2 dialect's index lists (WebGl2Rules.h), kept to spare an allocation per draw, and the
  // same in 16 bits where the vertex numbers fit.
  std::vector<std::uint32_t> webIndices;
  std::vector<std::uint16_t> shortIndices;
  // The index lists of draws without indices that start at vertex 0 (what the WebGL2 dialect's
  // stream gives every draw from memory), one per primitive type, for the most primitives drawn so
  // far: a list for fewer primitives is the start of it.
  struct Sequence {
    d3d::D3DPRIMITIVETYPE type = d3d::D3DPT_TRIANGLELIST;
    d3d::DWORD primitives = 0;
    d3d::D3DPRIMITIVETYPE drawAs = d3d::D3DPT_TRIANGLELIST;
    GLuint buffer = 0;
    GLenum indexType = GL_UNSIGNED_SHORT;
  };
  std::vector<Sequence> sequences;
  // The fence of the frame presented last.
  GLsync inFlight = nullptr;
  // The points of a point list that can change a pixel (PointCulling.h), kept to spare each frame an
  // allocation.
  std::vector<std::uint32_t> visiblePoints;
  // Whether the frame being drawn fills no pixels (until its Present).
  bool unseen = false;
  // Whether the first frame has been presented and the dialect asks for no errors after it
  // (Dialect::checksSteadyFrames).
  bool steady = false;

  void check(const char* call) {
    if (steady) return;
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
      for (GLuint t : *deadTextures) cache.forgetTexture(t);
      glDeleteTextures(static_cast<GLsizei>(deadTextures->size()), deadTextures->data());
      deadTextures->clear();
    }
    if (!deadBuffers->empty()) {
      for (GLuint b : *deadBuffers) cache.forgetBuffer(b);
      glDeleteBuffers(static_cast<GLsizei>(deadBuffers->size()), deadBuffers->data());
      deadBuffers->clear();
    }
  }

  std::shared_ptr<void> own(GLuint name, const std::shared_ptr<std::vector<GLuint>>& graveyard) {
    auto* o = new detail::GlObject{name, this, graveyard};
    return std::shared_ptr<void>(o, [](void* p) {
      auto* obj = static_cast<detail::GlObject*>(p);
      if (auto g = obj->graveyard.lock()) g->push_back(obj->name);
      delete obj;
    });
  }

  GLuint nameOf(const std::shared_ptr<void>& handle, const char* call, const char* what) const {
    const auto* o = static_cast<const detail::GlObject*>(handle.get());
    if (o->backend != this) throw platform::Error(call, std::string(what) + " belongs to another device");
    return o->name;
  }

  // Puts `list` in this frame's index stream, in 16 bits where its vertex numbers fit (0xFFFF stays
  // out: WebGL2 restarts primitives at it); returns the offset and the index type.
  std::size_t streamIndices(const std::vector<std::uint32_t>& list, GLenum& indexType) {
    if (shortenIndices(list)) {
      indexType = GL_UNSIGNED_SHORT;
      return indexStream.put(cache, shortIndices.data(), shortIndices.size() * sizeof(std::uint16_t), 4);
    }
    indexType = GL_UNSIGNED_INT;
    return indexStream.put(cache, list.data(), list.size() * sizeof(std::uint32_t), 4);
  }
  // Whether every number of `list` fits 16 bits below 0xFFFF; then shortIndices holds them.
  bool shortenIndices(const std::vector<std::uint32_t>& list) {
    if (std::any_of(list.begin(), list.end(), [](std::uint32_t e) { return e >= 0xFFFF; })) return false;
    // As much room as the list has (the visible points keep room for every point), so a list that
    // grows a little each frame, as the snow does, allocates nothing.
    if (shortIndices.capacity() < list.capacity()) shortIndices.reserve(list.capacity());
    shortIndices.resize(list.size());
    std::copy(list.begin(), list.end(), shortIndices.begin());
    return true;
  }

  void drawVisiblePoints() {
    if (visiblePoints.empty()) return;
    GLenum type = 0;
    const std::size_t at = streamIndices(visiblePoints, type);
    glDrawElements(GL_POINTS, static_cast<GLsizei>(visiblePoints.size()), type, reinterpret_cast<const void*>(at));
  }

  void applyRenderStates(const d3d::DeviceState& s, const char* call);
  // The lighting states of the program key and the lights, in view space, for a lit draw.
  void applyLighting(const d3d::DeviceState& s, const VertexLayout& l, const char* call);
  void applyStages(const d3d::DrawCall& c, const d3d::DeviceState& s, const char* call,
                   DWORD (&texIndex)[kStages]);
  DWORD applyStage(DWORD i, bool enabled, const d3d::DeviceState& s, const char* call);
  // The sampler object for these parameters, made the first time they are asked for.
  GLuint samplerFor(GLint mag, GLint min, GLint wrapS, GLint wrapT, const float (&border)[4]);
  // Binds the vertex array that reads `buffer` in the draw's format (made the first time) and sets
  // the values the attributes the records lack read.
  void setAttributes(GLuint buffer, const d3d::DrawCall& c, const VertexLayout& l, const DWORD (&texIndex)[kStages]);
  // Uploads what a vertex buffer's owner wrote since its last draw; returns its GL name.
  GLuint vertexBuffer(d3d::VertexBuffer& vb, const char* call);
  // The backend's part of an index buffer, its indices uploaded or its lists dropped when the
  // owner wrote them since the last draw. Binds the indices into the vertex array in use.
  detail::GlIndexObject& indexObject(d3d::IndexBuffer& ib, const char* call);
  // Draws a call that reads an index buffer.
  void drawIndexBuffer(const d3d::DrawCall& c, GLenum mode, bool flat, const char* call);
  // Draws the call's primitives through an index list built by the WebGL2 rules.
  void drawIndexList(const d3d::DrawCall& c, const std::uint16_t* indices, std::int64_t offset, bool flat,
                     const char* call);
  // The same, flat, for a draw without indices that starts at vertex 0, from a list kept for such
  // draws.
  void drawSequence(const d3d::DrawCall& c, const char* call);
  // Makes a GL buffer of `list` (16-bit where it fits); returns its name and index type.
  GLuint keepIndices(const std::vector<std::uint32_t>& list, GLenum& indexType);
  void releaseLists(detail::GlIndexObject& o);
};

}  // namespace gl
