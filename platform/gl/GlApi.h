// The OpenGL entry points the backend calls: libepoxy's desktop OpenGL natively; in the browser the
// OpenGL ES 3.0 that emscripten maps onto WebGL2. The desktop-only calls are declared for the browser
// too, so one backend source serves both dialects; there they throw, and the WebGL2 dialect never
// makes them.
#pragma once

#if defined(__EMSCRIPTEN__)
#include <GLES3/gl3.h>

#include "platform/base/Error.h"

#define GL_BGRA 0x80E1
#define GL_CLAMP_TO_BORDER 0x812D
#define GL_TEXTURE_BORDER_COLOR 0x1004
#define GL_POINT 0x1B00
#define GL_LINE 0x1B01
#define GL_FILL 0x1B02
#define GL_FIRST_VERTEX_CONVENTION 0x8E4D
#define GL_PROGRAM_POINT_SIZE 0x8642
#define GL_POINT_SPRITE_COORD_ORIGIN 0x8CA0
#define GL_LOWER_LEFT 0x8CA2

namespace gl::desktop_only {
[[noreturn]] inline void Missing(const char* call) {
  throw platform::Error(call, "not available in WebGL2");
}
}  // namespace gl::desktop_only

inline void glProvokingVertex(GLenum) {
  gl::desktop_only::Missing("glProvokingVertex");
}
inline void glPointParameteri(GLenum, GLint) {
  gl::desktop_only::Missing("glPointParameteri");
}
inline void glPolygonMode(GLenum, GLenum) {
  gl::desktop_only::Missing("glPolygonMode");
}
inline void glClearDepth(double) {
  gl::desktop_only::Missing("glClearDepth");
}
inline void glDrawElementsBaseVertex(GLenum, GLsizei, GLenum, const void*, GLint) {
  gl::desktop_only::Missing("glDrawElementsBaseVertex");
}
#else
#include <epoxy/gl.h>
#endif
