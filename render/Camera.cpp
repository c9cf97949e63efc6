#include "render/Camera.h"

#include <cmath>

#include "platform/d3d/Device.h"
#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "render/modD3D.h"
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

void Camera::Update() {
  CalcView();
  d3d::Device& dev = d3d_.DeviceFor("Camera.Update");
  dev.SetTransform(d3d::D3DTS_PROJECTION, d3d_.matProj);
  dev.SetTransform(d3d::D3DTS_VIEW, d3d_.matView);
  D3DXMatrixIdentity(&d3d_.matWorld);
  dev.SetTransform(d3d::D3DTS_WORLD, d3d_.matWorld);
}

void Camera::CalcView() {
  if (UseLook) {
    const d3d::D3DVECTOR up = MakeVector(0.0f, 1.0f, 0.0f);
    D3DXMatrixLookAtLH(&d3d_.matView, &vecPos, &vecLook, &up);
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
  D3DXMatrixMultiply(&d3d_.matView, &RyRx, &T);
}

}  // namespace render
