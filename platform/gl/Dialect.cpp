#include "platform/gl/Dialect.h"

#include <cstring>
#include <string>

#include "platform/base/Error.h"
#include "platform/gl/WebGl2Rules.h"

namespace gl {

void Dialect::prepareContext() const {
  if (!web_) {
    // D3D's flat shading takes each triangle's colour from its first vertex.
    glProvokingVertex(GL_FIRST_VERTEX_CONVENTION);
    glEnable(GL_PROGRAM_POINT_SIZE);
    // Sprite coordinates (0, 0) at the screen's top-left, which is GL's lower left here.
    glPointParameteri(GL_POINT_SPRITE_COORD_ORIGIN, GL_LOWER_LEFT);
    return;
  }
  // ES always takes the shader's point size; a desktop context drawing in this dialect (the tests
  // of the browser's rules) must be told to.
  const auto* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  if (version && std::strncmp(version, "OpenGL ES", 9) != 0) glEnable(GL_PROGRAM_POINT_SIZE);
  GLfloat range[2] = {0, 0};
  glGetFloatv(GL_ALIASED_POINT_SIZE_RANGE, range);
  if (range[1] < webgl2::kLargestPointSize)
    throw platform::Error("CreateDevice", "this browser draws points at most " + std::to_string(range[1]) +
                                              " pixels wide; the snow needs 64");
}

void Dialect::clearDepth(float z) const {
  if (web_)
    glClearDepthf(z);
  else
    glClearDepth(z);
}

void Dialect::setFillMode(DWORD fill, GLenum& cached, const char* call) const {
  const GLenum mode = fillMode(fill);
  if (web_) {
    if (mode != GL_FILL)
      throw platform::Error(call, "fill mode " + std::to_string(fill) + " is not available in WebGL2");
  } else if (cached != mode) {
    glPolygonMode(GL_FRONT_AND_BACK, mode);
    cached = mode;
  }
}

bool Dialect::rotatesFlatDraw(const d3d::DeviceState& s, const VertexLayout& l) const {
  // Only coloured records make the provoking vertex visible.
  return web_ && s.renderStates[d3d::D3DRS_SHADEMODE] == d3d::D3DSHADE_FLAT && l.diffuse >= 0;
}

}  // namespace gl
