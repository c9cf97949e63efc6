#include "platform/gl/StreamRing.h"

#include <bit>
#include <cstring>

#include "platform/base/Error.h"

namespace gl {

void StreamRing::create() {
  for (Slot& s : slot_) glGenBuffers(1, &s.buffer);
}

void StreamRing::release() {
  for (Slot& s : slot_) glDeleteBuffers(1, &s.buffer);
}

void StreamRing::nextFrame() {
  current_ = (current_ + 1) % kSlots;
  offset_ = 0;
}

std::size_t StreamRing::put(GlStateCache& cache, const void* data, std::size_t bytes, std::size_t align) {
  Slot& s = slot_[current_];
  if (target_ == GL_ARRAY_BUFFER)
    cache.bindArrayBuffer(s.buffer);
  else
    cache.bindElementBuffer(s.buffer);
  if (!maps_) {
    // The browser cannot tell which range of a buffer a draw still reads: each upload gets a
    // buffer of its own.
    glBufferData(target_, static_cast<GLsizeiptr>(bytes), data, GL_STREAM_DRAW);
    return 0;
  }
  std::size_t at = (offset_ + align - 1) / align * align;
  if (at + bytes > s.capacity) {
    if (bytes > s.capacity) s.capacity = std::bit_ceil(bytes);
    glBufferData(target_, static_cast<GLsizeiptr>(s.capacity), nullptr, GL_STREAM_DRAW);
    at = 0;
  }
  void* dst = glMapBufferRange(target_, static_cast<GLintptr>(at), static_cast<GLsizeiptr>(bytes),
                               GL_MAP_WRITE_BIT | GL_MAP_INVALIDATE_RANGE_BIT | GL_MAP_UNSYNCHRONIZED_BIT);
  if (!dst) throw platform::Error("Draw", "glMapBufferRange failed for the streaming buffer");
  std::memcpy(dst, data, bytes);
  glUnmapBuffer(target_);
  offset_ = at + bytes;
  return at;
}

}  // namespace gl
