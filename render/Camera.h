// The camera: an eye position with either a target point (look-at mode) or two rotation angles
// (rotation mode), turned into the device's view transform once per frame.
#pragma once

#include "platform/d3d/d3d8types.h"

namespace render {

class modD3D;

class Camera {
 public:
  explicit Camera(modD3D& d3d) : d3d_(d3d) {}

  void SetPosition(float x, float Y, float Z);
  void SetRotation(float x, float Y);
  void SetLook(const d3d::D3DVECTOR& Point);
  d3d::D3DVECTOR GetPosition() const { return vecPos; }
  d3d::D3DVECTOR GetRotation() const { return vecRot; }
  // CalcView, then projection, view and an identity world on the device.
  void Update();

  bool UsesLook() const { return UseLook; }

 private:
  void CalcView();

  modD3D& d3d_;
  d3d::D3DVECTOR vecPos{};
  d3d::D3DVECTOR vecRot{};
  d3d::D3DVECTOR vecLook{};
  bool UseLook = false;
};

}  // namespace render
