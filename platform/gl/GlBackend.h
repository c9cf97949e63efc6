// The OpenGL backend of the fixed-function device, in OpenGL 3.3 core or in WebGL2's subset (the
// browser's canvas). It renders into an offscreen 1024 x 768 colour target with a 16-bit depth
// buffer; Present scales that target into the window or canvas (aspect kept, black bars) or,
// headless, leaves it for reading back.
#pragma once

#include <memory>

#include "platform/d3d/Device.h"
#include "platform/gl/FixedFunctionShader.h"
#include "platform/gl/GlContext.h"
#include "platform/gl/ProgramCache.h"

namespace gl {

class GlBackend : public d3d::Backend {
 public:
  GlBackend(std::unique_ptr<GlContext> context, int width, int height,
            GlDialect dialect = GlDialect::Desktop33, KeyDefinesFn keyDefines = ProgramKeyDefines);
  ~GlBackend() override;

  void clear(d3d::DWORD flags, d3d::D3DCOLOR color, float z, d3d::DWORD stencil) override;
  void draw(const d3d::DrawCall& call, const d3d::DeviceState& state) override;
  void present() override;
  void finish() override;
  void createTexture(d3d::Texture& texture) override;
  std::vector<std::uint8_t> readBack(d3d::DWORD& width, d3d::DWORD& height) override;
  void readBackInto(std::vector<std::uint8_t>& pixels, d3d::DWORD& width, d3d::DWORD& height) override;
  void drawNextFrameUnseen() override;
  // Programs made so far, one per program key drawn with.
  std::size_t programs() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace gl
