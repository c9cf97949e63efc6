#include "platform/gl/GlBackend.h"

#include <epoxy/gl.h>

#include <algorithm>

#include "platform/d3d/Error.h"

namespace gl {

struct GlBackend::Impl {
  std::unique_ptr<GlContext> context;
  int width = 0, height = 0;
  GLuint fbo = 0, colorRb = 0, depthRb = 0;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);

  void check(const char* call) {
    const GLenum e = glGetError();
    if (e != GL_NO_ERROR) {
      char buf[32];
      std::snprintf(buf, sizeof buf, "GL error 0x%X", e);
      throw platform::Error(call, buf);
    }
  }
};

GlBackend::GlBackend(std::unique_ptr<GlContext> context, int width, int height) : impl_(std::make_unique<Impl>()) {
  impl_->context = std::move(context);
  impl_->width = width;
  impl_->height = height;
  impl_->context->makeCurrent();
  glGenFramebuffers(1, &impl_->fbo);
  glGenRenderbuffers(1, &impl_->colorRb);
  glGenRenderbuffers(1, &impl_->depthRb);
  glBindRenderbuffer(GL_RENDERBUFFER, impl_->colorRb);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  glBindRenderbuffer(GL_RENDERBUFFER, impl_->depthRb);
  glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT16, width, height);
  glBindFramebuffer(GL_FRAMEBUFFER, impl_->fbo);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, impl_->colorRb);
  glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, impl_->depthRb);
  if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE)
    throw platform::Error("CreateDevice", "the 1024x768 colour target with a 16-bit depth buffer is incomplete");
  glViewport(0, 0, width, height);
  impl_->check("CreateDevice");
}

GlBackend::~GlBackend() {
  *impl_->alive = false;
  impl_->context->makeCurrent();
  glDeleteFramebuffers(1, &impl_->fbo);
  glDeleteRenderbuffers(1, &impl_->colorRb);
  glDeleteRenderbuffers(1, &impl_->depthRb);
}

void GlBackend::clear(d3d::DWORD flags, d3d::D3DCOLOR color, float z, d3d::DWORD stencil) {
  (void)stencil;
  glBindFramebuffer(GL_FRAMEBUFFER, impl_->fbo);
  GLbitfield mask = 0;
  if (flags & d3d::D3DCLEAR_TARGET) {
    glClearColor(((color >> 16) & 0xFF) / 255.0f, ((color >> 8) & 0xFF) / 255.0f, (color & 0xFF) / 255.0f,
                 ((color >> 24) & 0xFF) / 255.0f);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    mask |= GL_COLOR_BUFFER_BIT;
  }
  if (flags & d3d::D3DCLEAR_ZBUFFER) {
    glClearDepth(z);
    glDepthMask(GL_TRUE);  // a clear writes depth whatever ZWRITEENABLE says
    mask |= GL_DEPTH_BUFFER_BIT;
  }
  glDisable(GL_SCISSOR_TEST);
  glClear(mask);
  impl_->check("Clear");
}

void GlBackend::draw(const d3d::DrawCall& call, const d3d::DeviceState& state) {
  (void)call;
  (void)state;
  throw platform::Error("Draw", "the OpenGL backend does not draw yet");
}

void GlBackend::present() {
  if (!impl_->context->headless()) {
    int w = 0, h = 0;
    impl_->context->drawableSize(w, h);
    // Scale the back buffer into the window, aspect kept, with black bars.
    int dw = w, dh = w * impl_->height / impl_->width;
    if (dh > h) {
      dh = h;
      dw = h * impl_->width / impl_->height;
    }
    const int dx = (w - dw) / 2, dy = (h - dh) / 2;
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, impl_->fbo);
    glBlitFramebuffer(0, 0, impl_->width, impl_->height, dx, dy, dx + dw, dy + dh, GL_COLOR_BUFFER_BIT, GL_LINEAR);
    impl_->context->swap();
    glBindFramebuffer(GL_FRAMEBUFFER, impl_->fbo);
  } else {
    glFlush();
  }
  impl_->check("Present");
}

void GlBackend::createTexture(d3d::Texture& texture) {
  GLuint tex = 0;
  glGenTextures(1, &tex);
  glBindTexture(GL_TEXTURE_2D, tex);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
  for (std::size_t i = 0; i < texture.levels.size(); ++i) {
    const auto& l = texture.levels[i];
    glTexImage2D(GL_TEXTURE_2D, static_cast<GLint>(i), GL_RGBA8, l.width, l.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 l.rgba.data());
  }
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(texture.levels.size()) - 1);
  impl_->check("CreateTexture");
  std::weak_ptr<bool> alive = impl_->alive;
  texture.backendHandle = std::shared_ptr<void>(reinterpret_cast<void*>(static_cast<std::uintptr_t>(tex)),
                                                [alive, tex](void*) {
                                                  auto a = alive.lock();
                                                  if (a && *a) glDeleteTextures(1, &tex);
                                                });
}

std::vector<std::uint8_t> GlBackend::readBack(d3d::DWORD& width, d3d::DWORD& height) {
  width = static_cast<d3d::DWORD>(impl_->width);
  height = static_cast<d3d::DWORD>(impl_->height);
  std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width) * height * 4);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, impl_->fbo);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, impl_->width, impl_->height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  impl_->check("ReadBack");
  // GL's rows run bottom-up; the back buffer's top row comes first.
  const std::size_t row = static_cast<std::size_t>(width) * 4;
  for (std::size_t y = 0; y < height / 2; ++y)
    std::swap_ranges(pixels.begin() + y * row, pixels.begin() + (y + 1) * row, pixels.begin() + (height - 1 - y) * row);
  return pixels;
}

}  // namespace gl
