// Where draws from user memory send their vertices and indices. The ring has a buffer per frame
// that may be in flight: a frame writes only its own slot, at fresh offsets, and the next frame
// moves to the next slot, so no write lands in a buffer the rasteriser may still read. Present
// waits for the frame before the last, so three slots leave one to spare. A slot too small for a
// frame is orphaned and refilled from the start. Where buffers cannot be mapped (WebGL2) every
// upload orphans its buffer instead.
#pragma once

#include <cstddef>

#include "platform/gl/GlStateCache.h"

namespace gl {

class StreamRing {
 public:
  static constexpr int kSlots = 3;

  StreamRing(GLenum target, bool mapsBuffers) : target_(target), maps_(mapsBuffers) {}
  void create();
  void release();
  // Copies `bytes` into this frame's slot at an offset aligned to `align`, binding it; returns the
  // offset.
  std::size_t put(GlStateCache& cache, const void* data, std::size_t bytes, std::size_t align);
  GLuint buffer() const { return slot_[current_].buffer; }
  void nextFrame();

 private:
  struct Slot {
    GLuint buffer = 0;
    std::size_t capacity = 0;
  };
  GLenum target_;
  bool maps_;
  Slot slot_[kSlots];
  int current_ = 0;
  std::size_t offset_ = 0;
};

}  // namespace gl
