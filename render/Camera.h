// The camera: an eye position with either a target point (look-at mode) or two rotation angles
// (rotation mode), turned into the device's view transform once per frame.
#pragma once

#include "platform/d3d/d3d8types.h"

namespace render {

struct FrameContext;

class Camera {
 public:
  void SetPosition(float x, float Y, float Z);
  void SetRotation(float x, float Y);
  void SetLook(const d3d::D3DVECTOR& Point);
  d3d::D3DVECTOR GetPosition() const { return vecPos; }
  d3d::D3DVECTOR GetRotation() const { return vecRot; }
  // CalcView into the frame's view, then projection, view and an identity world (the frame's world
  // matrix reset) on the device.
  void Update(const FrameContext& frame);

  bool UsesLook() const { return UseLook; }

 private:
  void CalcView(d3d::D3DMATRIX& matView) const;

  d3d::D3DVECTOR vecPos{};
  d3d::D3DVECTOR vecRot{};
  d3d::D3DVECTOR vecLook{};
  bool UseLook = false;
};

}  // namespace render
