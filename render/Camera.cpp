#include "render/Camera.h"

#include <cmath>

#include "platform/base/Error.h"
#include "platform/d3d/Device.h"
#include "platform/d3d/d3dxmath.h"
#include "render/FrameContext.h"
#include "render/modGen.h"

namespace render {

using namespace d3dx;

void Camera::SetPosition(float x, float Y, float Z) { vecPos = MakeVector(x, Y, Z); }

void Camera::SetRotation(float x, float Y) {
  vecRot = MakeVector(x, Y, 0.0f);
  UseLook = false;
}

void Camera::SetLook(const d3d::D3DVECTOR& Point) {
  vecLook = Point;
  UseLook = true;
}

void Camera::Update(const FrameContext& frame) {
  CalcView(frame.matView);
  d3d::Device& dev = frame.D3DDevice;
  dev.SetTransform(d3d::D3DTS_PROJECTION, frame.matProj);
  dev.SetTransform(d3d::D3DTS_VIEW, frame.matView);
  D3DXMatrixIdentity(&frame.matWorld);
  dev.SetTransform(d3d::D3DTS_WORLD, frame.matWorld);
}

void Camera::CalcView(d3d::D3DMATRIX& matView) const {
  if (UseLook) {
    const d3d::D3DVECTOR up = MakeVector(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&matView, &vecPos, &vecLook, &up);
    return;
  }
  d3d::D3DMATRIX T, Rx, Ry, RyRx;
  D3DXMatrixIdentity(&T);
  D3DXMatrixIdentity(&Rx);
  D3DXMatrixIdentity(&Ry);
  D3DXMatrixIdentity(&RyRx);
  const float nx = -vecPos.x, ny = -vecPos.y, nz = -vecPos.z;
  if (!std::isfinite(nx) || !std::isfinite(ny) || !std::isfinite(nz))
    throw platform::Error("Camera.CalcView", "camera position is not a finite number");
  D3DXMatrixTranslation(&T, nx, ny, nz);
  D3DXMatrixRotationX(&Rx, vecRot.x);
  D3DXMatrixRotationY(&Ry, vecRot.y);
  D3DXMatrixMultiply(&RyRx, &Ry, &Rx);
  D3DXMatrixMultiply(&matView, &RyRx, &T);
}

}  // namespace render
