// Direct3D 8 on the page's canvas (#scene, its size the frame's: page.js sizes it to the window) through WebGL2.
#pragma once

#include <emscripten/html5_webgl.h>

#include "platform/d3d/Direct3D8.h"

namespace web {

class WebDirect3D8 : public d3d::Direct3D8 {
 public:
  // Creates the canvas's WebGL2 context; throws when the browser has none.
  WebDirect3D8();
  ~WebDirect3D8() override;
  WebDirect3D8(const WebDirect3D8&) = delete;
  WebDirect3D8& operator=(const WebDirect3D8&) = delete;

  d3d::D3DDISPLAYMODE GetAdapterDisplayMode(d3d::DWORD adapter) override;
  std::unique_ptr<d3d::Device> CreateDevice(d3d::DWORD adapter, d3d::DWORD deviceType, void* focusWindow,
                                            d3d::DWORD behaviorFlags,
                                            const d3d::D3DPRESENT_PARAMETERS& params) override;

 private:
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context_ = 0;
};

}  // namespace web
