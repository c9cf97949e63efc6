// What the backend does differently in each OpenGL it speaks, in one object: desktop 3.3 core does
// as Direct3D does; WebGL2 rebuilds what it lacks as WebGl2Rules.h describes. The backend asks this
// object and never tests which dialect it draws in.
#pragma once

#include "platform/gl/FixedFunctionShader.h"
#include "platform/gl/GlApi.h"
#include "platform/gl/GlTranslate.h"

namespace gl {

class Dialect {
 public:
  explicit Dialect(GlDialect which) : web_(which == GlDialect::WebGl2), which_(which) {}
  GlDialect which() const { return which_; }

  // The context's fixed set-up: flat colours, program point sizes, sprite coordinates.
  void prepareContext() const;
  void clearDepth(float z) const;
  // What D3DTADDRESS_BORDER becomes: WebGL2 has no border colour and clamps to the edge; the
  // shader mixes the border colour in (uBorder, uBorderColor).
  GLint borderWrap() const { return web_ ? GL_CLAMP_TO_EDGE : GL_CLAMP_TO_BORDER; }
  bool bordersInShader() const { return web_; }
  // The vertex colour's attribute size: WebGL2 has no BGRA, and the shader swizzles the bytes.
  GLint diffuseSize() const { return web_ ? 4 : GL_BGRA; }
  // Sets the polygon mode for D3DRS_FILLMODE; WebGL2 fills only, and refuses the others.
  void setFillMode(DWORD fill, GLenum& cached, const char* call) const;
  // Whether a draw goes out as an index list rotated so that its flat colours come from each
  // primitive's first vertex: WebGL2 takes them from the last.
  bool rotatesFlatDraw(const d3d::DeviceState& s, const VertexLayout& l) const;
  // Whether indexed draws are rebased on the CPU: WebGL2 has no base vertex.
  bool rebasesIndices() const { return web_; }
  // Whether streamed data is written into mapped buffers; WebGL2 maps none.
  bool mapsBuffers() const { return !web_; }
  // Whether a vertex buffer's rewritten range is sent alone, into the storage the draws before read:
  // the browser orders the update after them. Desktop OpenGL gives the buffer fresh storage with the
  // whole contents instead, so the CPU never waits on the rasteriser to finish with the old.
  bool writesBufferRanges() const { return web_; }
  // Whether Present fences the frame to keep the CPU at most one frame ahead; a browser paces the
  // frames itself and never lets the page wait on a fence.
  bool fencesFrames() const { return !web_; }
  // Whether GL errors are asked for after every call, or only until the first frame is presented.
  // Asking is a round trip to the GPU process in a browser, which a steady frame should not wait on;
  // a debug build of the page still asks every time.
  bool checksSteadyFrames() const {
#ifdef NDEBUG
    return !web_;
#else
    return true;
#endif
  }

 private:
  bool web_;
  GlDialect which_;
};

}  // namespace gl
