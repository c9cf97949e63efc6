// What one frame's draws share, built by RenderFrame and handed to each module's render call: the
// device, the time the frame steps by, the generator and the shared matrices. The modules keep none
// of it between frames.
#pragma once

#include "platform/d3d/Device.h"

namespace render {

class Random;

struct FrameContext {
  d3d::Device& D3DDevice;
  double FrameTime;  // milliseconds the previous frame took
  Random& Rnd;
  // The scratch matrix a draw builds its world transform in.
  d3d::D3DMATRIX& matWorld;
  // The camera's view, computed each frame, and the projection InitD3D set.
  d3d::D3DMATRIX& matView;
  const d3d::D3DMATRIX& matProj;
};

}  // namespace render
