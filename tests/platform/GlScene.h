// A headless OpenGL device for pixel tests: a camera at the origin looking down +z, a projection
// whose visible half-height at depth z is z, culling off, and helpers to draw one frame and read it.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"

namespace gltest {

using namespace d3d;

struct V42 {  // D3DFVF_XYZ | D3DFVF_DIFFUSE
  float x, y, z;
  D3DCOLOR color;
};
struct V44 {  // D3DFVF_XYZRHW | D3DFVF_DIFFUSE
  float x, y, z, rhw;
  D3DCOLOR color;
};
struct V142 {  // D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1
  float x, y, z;
  D3DCOLOR color;
  float u, v;
};
struct V104 {  // D3DFVF_XYZRHW | D3DFVF_TEX1
  float x, y, z, rhw;
  float u, v;
};

inline D3DPRESENT_PARAMETERS PresentParams() {
  return D3DPRESENT_PARAMETERS{1024, 768, D3DFMT_X8R8G8B8, 1, 0, D3DSWAPEFFECT_FLIP, 0, 0, 1, D3DFMT_D16, 0, 0, 0};
}

// The dialect the pixel tests draw in: desktop OpenGL, or with WG_GL_DIALECT=webgl2 only what WebGL2
// offers, as the browser draws (ctest runs the suite both ways).
inline gl::GlDialect TestDialect() {
  const char* d = std::getenv("WG_GL_DIALECT");
  return d && std::string(d) == "webgl2" ? gl::GlDialect::WebGl2 : gl::GlDialect::Desktop33;
}

inline std::unique_ptr<Device> CreateHeadlessDevice(gl::KeyDefinesFn keyDefines = gl::ProgramKeyDefines) {
  gl::GlDirect3D8 d3d(true, true, TestDialect(), keyDefines);
  return d3d.CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
                          PresentParams());
}

struct Image {
  std::vector<std::uint8_t> rgba;
  const std::uint8_t* at(int x, int y) const { return &rgba[(static_cast<std::size_t>(y) * 1024 + x) * 4]; }
  bool is(int x, int y, int r, int g, int b) const {
    const std::uint8_t* p = at(x, y);
    return p[0] == r && p[1] == g && p[2] == b;
  }
};

struct GlScene {
  explicit GlScene(float nearPlane = 1.0f, gl::KeyDefinesFn keyDefines = gl::ProgramKeyDefines)
      : dev(CreateHeadlessDevice(keyDefines)) {
    D3DMATRIX m;
    // fov 90 degrees, aspect 4:3: at depth z the screen spans y in -z..z and x in -4z/3..4z/3.
    d3dx::D3DXMatrixPerspectiveFovLH(&m, 1.5707963705062866f, 4.0f / 3.0f, nearPlane, 1000.0f);
    dev->SetTransform(D3DTS_PROJECTION, m);
    dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    dev->SetRenderState(D3DRS_LIGHTING, 0);
  }

  Image frame(D3DCOLOR clearColor, const std::function<void(Device&)>& draw) {
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, clearColor, 1.0f, 0);
    dev->BeginScene();
    draw(*dev);
    dev->EndScene();
    dev->Present(nullptr, nullptr, nullptr, nullptr);
    DWORD w = 0, h = 0;
    return Image{dev->GetBackend().readBack(w, h)};
  }

  // A quad facing the camera at depth z, centred on (cx, cy), as a strip.
  static std::vector<V42> Quad(float cx, float cy, float z, float halfW, float halfH, D3DCOLOR c) {
    return {{cx - halfW, cy + halfH, z, c}, {cx + halfW, cy + halfH, z, c}, {cx - halfW, cy - halfH, z, c},
            {cx + halfW, cy - halfH, z, c}};
  }
  static void DrawQuad(Device& d, const std::vector<V42>& q) {
    d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    d.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, q.data(), sizeof(V42));
  }

  // A texture from ARGB texels, top row first, with its mip chain when `mips`.
  std::shared_ptr<Texture> MakeTexture(int w, int h, const std::vector<D3DCOLOR>& argb, bool mips = false) {
    Texture::Level l0;
    l0.width = w;
    l0.height = h;
    for (D3DCOLOR c : argb)
      for (int shift : {16, 8, 0, 24}) l0.rgba.push_back(static_cast<std::uint8_t>(c >> shift));
    std::vector<Texture::Level> levels{l0};
    if (mips) d3dx::CompleteMipChain(levels);
    return dev->CreateTexture(std::move(levels), "test texture");
  }

  std::unique_ptr<Device> dev;
};

// World units at depth z of half a pixel across and down: moves a point from a pixel centre onto
// the corner between four pixels.
inline float HalfPixelX(float z) { return z / (0.75f * 1024.0f); }
inline float HalfPixelY(float z) { return z / 768.0f; }

}  // namespace gltest
