#include <gtest/gtest.h>

#include <cmath>

#include "platform/d3d/d3dxmath.h"

namespace {

using namespace d3dx;
using d3d::D3DMATRIX;
using d3d::D3DVECTOR;

TEST(D3DXMath, MultiplyAppliesTheLeftMatrixFirst) {
  D3DMATRIX s, t, st;
  D3DXMatrixScaling(&s, 2, 3, 4);
  D3DXMatrixTranslation(&t, 10, 20, 30);
  D3DXMatrixMultiply(&st, &s, &t);
  const D3DVECTOR p = D3DXVec3TransformCoord(D3DVECTOR{1, 1, 1}, st);
  EXPECT_FLOAT_EQ(p.x, 12);
  EXPECT_FLOAT_EQ(p.y, 23);
  EXPECT_FLOAT_EQ(p.z, 34);
  // A direction is scaled but not moved.
  const D3DVECTOR d = D3DXVec3TransformNormal(D3DVECTOR{1, 1, 1}, st);
  EXPECT_FLOAT_EQ(d.x, 2);
  EXPECT_FLOAT_EQ(d.y, 3);
  EXPECT_FLOAT_EQ(d.z, 4);
}

TEST(D3DXMath, RotationsAreLeftHanded) {
  D3DMATRIX r;
  D3DXMatrixRotationY(&r, static_cast<float>(M_PI / 2));
  D3DVECTOR p = D3DXVec3TransformCoord(D3DVECTOR{1, 0, 0}, r);  // +x turns to -z
  EXPECT_NEAR(p.x, 0, 1e-6);
  EXPECT_NEAR(p.z, -1, 1e-6);
  D3DXMatrixRotationZ(&r, static_cast<float>(M_PI / 2));
  p = D3DXVec3TransformCoord(D3DVECTOR{1, 0, 0}, r);  // +x turns to +y
  EXPECT_NEAR(p.y, 1, 1e-6);
  D3DXMatrixRotationX(&r, static_cast<float>(M_PI / 2));
  p = D3DXVec3TransformCoord(D3DVECTOR{0, 1, 0}, r);  // +y turns to +z
  EXPECT_NEAR(p.z, 1, 1e-6);
}

TEST(D3DXMath, LookAtPutsTheTargetOnThePositiveZAxis) {
  D3DMATRIX v;
  const D3DVECTOR eye{100, 15, 30}, at{0, 10, 30}, up{0, 1, 0};
  D3DXMatrixLookAtLH(&v, &eye, &at, &up);
  const D3DVECTOR p = D3DXVec3TransformCoord(at, v);
  EXPECT_NEAR(p.x, 0, 1e-4);
  EXPECT_NEAR(p.y, 0, 1e-4);
  EXPECT_NEAR(p.z, std::sqrt(100.0 * 100.0 + 25.0), 1e-3);
}

TEST(D3DXMath, NormaliseAndDot) {
  D3DVECTOR n;
  const D3DVECTOR v{3, 0, 4};
  D3DXVec3Normalize(&n, &v);
  EXPECT_FLOAT_EQ(n.x, 0.6f);
  EXPECT_FLOAT_EQ(n.z, 0.8f);
  EXPECT_FLOAT_EQ(D3DXVec3Dot(&n, &v), 5.0f);
  const D3DVECTOR zero{0, 0, 0};
  D3DXVec3Normalize(&n, &zero);
  EXPECT_EQ(n.x, 0.0f);
}

}  // namespace
