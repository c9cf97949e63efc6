#include "platform/gl/GlBackend.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/gl/GlApi.h"
#include "platform/gl/GlBackendImpl.h"
#include "platform/gl/GlTranslate.h"
#include "platform/gl/PointCulling.h"
#include "platform/gl/WebGl2Rules.h"
#include "platform/window/Window.h"

namespace gl {

static_assert(std::endian::native == std::endian::little,
              "D3DCOLOR vertex colours are read as B, G, R, A bytes in memory");

void GlBackend::Impl::drawIndexList(const d3d::DrawCall& c, const std::uint16_t* indices, std::int64_t offset,
                                    bool flat, const char* call) {
  const d3d::D3DPRIMITIVETYPE type =
      webgl2::BuildIndices(c.type, c.primitiveCount, indices, offset, flat, webIndices);
  GLenum indexType = 0;
  const std::size_t at = streamIndices(webIndices, indexType);
  glDrawElements(primitiveMode(type, call), static_cast<GLsizei>(webIndices.size()), indexType,
                 reinterpret_cast<const void*>(at));
}

GLuint GlBackend::Impl::keepIndices(const std::vector<std::uint32_t>& list, GLenum& indexType) {
  GLuint buffer = 0;
  glGenBuffers(1, &buffer);
  cache.bindElementBuffer(buffer);
  if (shortenIndices(list)) {
    indexType = GL_UNSIGNED_SHORT;
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(shortIndices.size() * sizeof(std::uint16_t)),
                 shortIndices.data(), GL_STATIC_DRAW);
  } else {
    indexType = GL_UNSIGNED_INT;
    glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(list.size() * sizeof(std::uint32_t)), list.data(),
                 GL_STATIC_DRAW);
  }
  return buffer;
}

void GlBackend::Impl::drawSequence(const d3d::DrawCall& c, const char* call) {
  auto it = std::find_if(sequences.begin(), sequences.end(), [&](const Sequence& q) { return q.type == c.type; });
  if (it == sequences.end()) it = sequences.insert(sequences.end(), Sequence{c.type});
  Sequence& q = *it;
  if (q.primitives < c.primitiveCount) {
    // Room for twice as many: a text that grows by a few letters does not make a new list.
    const std::uint64_t want = std::max<std::uint64_t>(c.primitiveCount, 2 * std::uint64_t{q.primitives});
    const d3d::DWORD primitives = static_cast<d3d::DWORD>(std::min<std::uint64_t>(want, 0x3FFFFFFF));
    q.drawAs = webgl2::BuildIndices(c.type, primitives, nullptr, 0, true, webIndices);
    if (q.buffer) {
      cache.forgetBuffer(q.buffer);
      glDeleteBuffers(1, &q.buffer);
    }
    q.buffer = keepIndices(webIndices, q.indexType);
    q.primitives = primitives;
  }
  cache.bindElementBuffer(q.buffer);
  const std::uint64_t perPrimitive = q.drawAs == d3d::D3DPT_TRIANGLELIST ? 3
                                     : q.drawAs == d3d::D3DPT_LINELIST   ? 2
                                                                         : 1;
  glDrawElements(primitiveMode(q.drawAs, call), static_cast<GLsizei>(perPrimitive * c.primitiveCount), q.indexType,
                 nullptr);
}

void GlBackend::Impl::releaseLists(detail::GlIndexObject& o) {
  for (const auto& l : o.lists) {
    cache.forgetBuffer(l.buffer);
    glDeleteBuffers(1, &l.buffer);
  }
  o.lists.clear();
}

detail::GlIndexObject& GlBackend::Impl::indexObject(d3d::IndexBuffer& ib, const char* call) {
  if (!ib.backendHandle) {
    auto* o = new detail::GlIndexObject{0, {}, this, deadBuffers};
    ib.backendHandle = std::shared_ptr<void>(o, [](void* p) {
      auto* obj = static_cast<detail::GlIndexObject*>(p);
      if (auto g = obj->graveyard.lock()) {
        if (obj->indices) g->push_back(obj->indices);
        for (const auto& l : obj->lists) g->push_back(l.buffer);
      }
      delete obj;
    });
    ib.dirtyBegin = 0;
    ib.dirtyEnd = ib.Length();
  }
  auto& o = *static_cast<detail::GlIndexObject*>(ib.backendHandle.get());
  if (o.backend != this) throw platform::Error(call, "the index buffer belongs to another device");
  if (dialect.rebasesIndices()) {
    // The lists were made from the indices as they were.
    if (ib.dirtyBegin < ib.dirtyEnd) releaseLists(o);
  } else {
    if (!o.indices) glGenBuffers(1, &o.indices);
    cache.bindElementBuffer(o.indices);
    if (ib.dirtyBegin < ib.dirtyEnd)
      glBufferData(GL_ELEMENT_ARRAY_BUFFER, ib.Length(), ib.Data(), GL_STATIC_DRAW);
  }
  ib.dirtyBegin = SIZE_MAX;
  ib.dirtyEnd = 0;
  return o;
}

void GlBackend::Impl::drawIndexBuffer(const d3d::DrawCall& c, GLenum mode, bool flat, const char* call) {
  detail::GlIndexObject& o = indexObject(*c.indexBuffer, call);
  if (!dialect.rebasesIndices()) {
    glDrawElementsBaseVertex(mode, static_cast<GLsizei>(c.indexCount), GL_UNSIGNED_SHORT,
                             reinterpret_cast<const void*>(std::size_t{c.startIndex} * sizeof(std::uint16_t)),
                             static_cast<GLint>(c.baseVertex));
    return;
  }
  const std::int64_t offset = c.baseVertex;
  auto it = std::find_if(o.lists.begin(), o.lists.end(), [&](const detail::GlIndexObject::List& l) {
    return l.start == c.startIndex && l.count == c.indexCount && l.offset == offset && l.flat == flat;
  });
  if (it == o.lists.end()) {
    // A model's batches make a handful of lists; a buffer drawn in ever new ranges starts again.
    if (o.lists.size() >= 256) releaseLists(o);
    detail::GlIndexObject::List l;
    l.start = c.startIndex;
    l.count = c.indexCount;
    l.offset = offset;
    l.flat = flat;
    l.drawAs = webgl2::BuildIndices(c.type, c.primitiveCount, c.indices, offset, flat, webIndices);
    l.buffer = keepIndices(webIndices, l.indexType);
    l.elements = static_cast<GLsizei>(webIndices.size());
    it = o.lists.insert(o.lists.end(), l);
  }
  cache.bindElementBuffer(it->buffer);
  glDrawElements(primitiveMode(it->drawAs, call), it->elements, it->indexType, nullptr);
}

// A buffer the rasteriser may still read from the frame before is never written in place on the
// desktop: the upload gives it fresh storage holding the whole contents. The browser orders a
// buffer's updates with the draws before them itself, so there only the range written goes.
GLuint GlBackend::Impl::vertexBuffer(d3d::VertexBuffer& vb, const char* call) {
  GLuint buffer = 0;
  bool fresh = false;
  if (!vb.backendHandle) {
    glGenBuffers(1, &buffer);
    vb.backendHandle = own(buffer, deadBuffers);
    vb.dirtyBegin = 0;
    vb.dirtyEnd = vb.Length();
    fresh = true;
  } else {
    buffer = nameOf(vb.backendHandle, call, "the vertex buffer");
  }
  if (vb.dirtyBegin < vb.dirtyEnd) {
    cache.bindArrayBuffer(buffer);
    if (fresh || !dialect.writesBufferRanges())
      glBufferData(GL_ARRAY_BUFFER, vb.Length(), vb.Data(), GL_DYNAMIC_DRAW);
    else
      glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(vb.dirtyBegin),
                      static_cast<GLsizeiptr>(vb.dirtyEnd - vb.dirtyBegin), vb.Data() + vb.dirtyBegin);
    vb.dirtyBegin = SIZE_MAX;
    vb.dirtyEnd = 0;
  }
  return buffer;
}

GlBackend::GlBackend(std::unique_ptr<GlContext> context, int width, int height, GlDialect dialect,
                     KeyDefinesFn keyDefines)
    : impl_(std::make_unique<Impl>(dialect, keyDefines)) {
  Impl& g = *impl_;
  g.context = std::move(context);
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

  // Programs are made as draws need them (ProgramCache.h).
  g.programs.setInt(uTexture0, 0);
  g.programs.setInt(uTexture1, 1);
  const float target[2] = {static_cast<float>(width), static_cast<float>(height)};
  g.programs.set(uTarget, target, 2);

  glGenVertexArrays(1, &g.vao);
  glBindVertexArray(g.vao);
  g.vertexStream.create();
  g.indexStream.create();

  glActiveTexture(GL_TEXTURE0);
  glGenTextures(1, &g.whiteTexture);
  glBindTexture(GL_TEXTURE_2D, g.whiteTexture);
  const std::uint8_t white[4] = {255, 255, 255, 255};
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  g.cache.unit[0].texture = g.whiteTexture;

  g.dialect.prepareContext();
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
  for (const auto& smp : g.cache.samplers) glDeleteSamplers(1, &smp.name);
  for (const auto& a : g.cache.vertexArrays) glDeleteVertexArrays(1, &a.name);
  for (const auto& q : g.sequences) glDeleteBuffers(1, &q.buffer);
  g.vertexStream.release();
  g.indexStream.release();
  glDeleteVertexArrays(1, &g.vao);
  g.programs.release();
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
    g.dialect.clearDepth(z);
    g.cache.setDepthMask(true);  // a clear writes depth whatever ZWRITEENABLE says
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  glClear(mask);
  g.check("Clear");
}

void GlBackend::draw(const d3d::DrawCall& call, const d3d::DeviceState& state) {
  const char* name = call.indexBuffer ? "DrawIndexedPrimitive"
                     : call.buffer      ? "DrawPrimitive"
                     : call.indices     ? "DrawIndexedPrimitiveUP"
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
  g.applyLighting(state, layout, name);
  g.programs.setInt(uPreTransformed, layout.preTransformed);
  g.programs.setInt(uVertexPointSize, layout.pointSize >= 0);
  if (!layout.preTransformed) {
    d3d::D3DMATRIX worldView;
    d3dx::D3DXMatrixMultiply(&worldView, &state.world, &state.view);
    g.programs.set(uWorldView, &worldView.m[0][0], 16);
    g.programs.set(uProjection, &state.projection.m[0][0], 16);
  }
  g.programs.use(name);

  const std::size_t stride = call.stride;
  const bool flatFromFirst = g.dialect.rotatesFlatDraw(state, layout);
  // Where the records lie in GL: a vertex buffer's own, or the stream they are copied into (on a
  // whole number of strides, so the attribute set-up stays as it was and only the first vertex
  // moves). An indexed draw copies only the records of its range and reaches them through a base
  // vertex.
  GLuint buffer = 0;
  std::size_t first = call.firstVertex;
  if (call.buffer) {
    buffer = g.vertexBuffer(*call.buffer, name);
  } else {
    const std::size_t from = call.indices ? call.firstVertex : 0;
    const std::size_t count = call.vertexCount - from;
    first = g.vertexStream.put(g.cache, call.vertices + from * stride, (count - 1) * stride + layout.size,
                               stride) /
            stride;
    buffer = g.vertexStream.buffer();
  }
  g.setAttributes(buffer, call, layout, texIndex);
  if (call.indexBuffer) {
    g.drawIndexBuffer(call, mode, flatFromFirst, name);
  } else if (!call.indices) {
    if (collectVisiblePoints(call, state, layout, call.vertices, first, g.visiblePoints))
      g.drawVisiblePoints();
    else if (flatFromFirst && first == 0)
      g.drawSequence(call, name);
    else if (flatFromFirst)
      g.drawIndexList(call, nullptr, static_cast<std::int64_t>(first), true, name);
    else
      glDrawArrays(mode, static_cast<GLint>(first), static_cast<GLsizei>(call.vertexCount));
  } else {
    const std::int64_t base = static_cast<std::int64_t>(first) - static_cast<std::int64_t>(call.firstVertex);
    if (g.dialect.rebasesIndices()) {
      g.drawIndexList(call, call.indices, base, flatFromFirst, name);
    } else {
      const std::size_t indexAt =
          g.indexStream.put(g.cache, call.indices, call.indexCount * sizeof(std::uint16_t), 4);
      glDrawElementsBaseVertex(mode, static_cast<GLsizei>(call.indexCount), GL_UNSIGNED_SHORT,
                               reinterpret_cast<const void*>(indexAt), static_cast<GLint>(base));
    }
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
  g.vertexStream.nextFrame();
  g.indexStream.nextFrame();
  if (g.unseen) {
    g.cache.setUnseen(false);
    g.unseen = false;
  }
  if (!g.dialect.fencesFrames()) {
    g.check("Present");
    g.steady = !g.dialect.checksSteadyFrames();
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
      g.cache.forgetTexture(tex);
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

std::size_t GlBackend::programs() const {
  return impl_->programs.size();
}

void GlBackend::drawNextFrameUnseen() {
  Impl& g = *impl_;
  g.use();
  g.cache.setUnseen(true);
  g.unseen = true;
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
