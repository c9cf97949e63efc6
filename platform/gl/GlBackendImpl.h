// The OpenGL backend's state, shared by its files: GlBackend.cpp (the device's calls) and
// GlDrawStates.cpp (how a draw's device state becomes GL state). Only they include it.
#pragma once

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
  // The device's own target, or none (0) where it draws in place into the default framebuffer,
  // upright (GlContext::drawsInPlace).
  GLuint fbo = 0, colorRb = 0, depthRb = 0;
  bool inPlace = false;
  void createTarget(const char* call);
  GLuint vao = 0, whiteTexture = 0;
  GLuint sampler[kStages] = {};  // stage i samples through texture unit i with sampler[i]
  ProgramCache programs;
  GlStateCache cache;
  std::shared_ptr<std::vector<GLuint>> deadTextures = std::make_shared<std::vector<GLuint>>();
  std::shared_ptr<std::vector<GLuint>> deadBuffers = std::make_shared<std::vector<GLuint>>();
  StreamRing vertexStream, indexStream;
  // The WebGL2 dialect's index lists (WebGl2Rules.h), kept to spare an allocation per draw.
  std::vector<std::uint32_t> webIndices;
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

  void drawVisiblePoints() {
    if (visiblePoints.empty()) return;
    const std::size_t at =
        indexStream.put(cache, visiblePoints.data(), visiblePoints.size() * sizeof(std::uint32_t), 4);
    glDrawElements(GL_POINTS, static_cast<GLsizei>(visiblePoints.size()), GL_UNSIGNED_INT,
                   reinterpret_cast<const void*>(at));
  }

  void applyRenderStates(const d3d::DeviceState& s, const char* call);
  // The lighting states of the program key and the lights, in view space, for a lit draw.
  void applyLighting(const d3d::DeviceState& s, const VertexLayout& l, const char* call);
  void applyStages(const d3d::DrawCall& c, const d3d::DeviceState& s, const char* call,
                   DWORD (&texIndex)[kStages]);
  DWORD applyStage(DWORD i, bool enabled, const d3d::DeviceState& s, const char* call);
  void setAttributes(GLuint buffer, std::size_t offset, const d3d::DrawCall& c, const VertexLayout& l,
                     const DWORD (&texIndex)[kStages]);
  // Uploads what a vertex buffer's owner wrote since its last draw; returns its GL name.
  GLuint vertexBuffer(d3d::VertexBuffer& vb, const char* call);
  // Draws the call's primitives through an index list built by the WebGL2 rules.
  void drawIndexList(const d3d::DrawCall& c, const std::uint16_t* indices, std::int64_t offset, bool flat,
                     const char* call);
};

}  // namespace gl
