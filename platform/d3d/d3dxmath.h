// The D3DX matrix and vector functions, in the row-vector convention: p' = p x M, and in A x B the
// transform A is applied first.
#pragma once

#include "platform/d3d/d3d8types.h"

namespace d3dx {

using d3d::D3DMATRIX;
using d3d::D3DVECTOR;

D3DMATRIX* D3DXMatrixIdentity(D3DMATRIX* out);
D3DMATRIX* D3DXMatrixMultiply(D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b);
D3DMATRIX* D3DXMatrixScaling(D3DMATRIX* out, float sx, float sy, float sz);
D3DMATRIX* D3DXMatrixTranslation(D3DMATRIX* out, float x, float y, float z);
D3DMATRIX* D3DXMatrixRotationX(D3DMATRIX* out, float angle);
D3DMATRIX* D3DXMatrixRotationY(D3DMATRIX* out, float angle);
D3DMATRIX* D3DXMatrixRotationZ(D3DMATRIX* out, float angle);
D3DMATRIX* D3DXMatrixLookAtLH(D3DMATRIX* out, const D3DVECTOR* eye, const D3DVECTOR* at, const D3DVECTOR* up);
D3DMATRIX* D3DXMatrixPerspectiveFovLH(D3DMATRIX* out, float fovy, float aspect, float zn, float zf);

D3DVECTOR* D3DXVec3Normalize(D3DVECTOR* out, const D3DVECTOR* v);
D3DVECTOR* D3DXVec3Cross(D3DVECTOR* out, const D3DVECTOR* a, const D3DVECTOR* b);
D3DVECTOR* D3DXVec3Subtract(D3DVECTOR* out, const D3DVECTOR* a, const D3DVECTOR* b);
float D3DXVec3Dot(const D3DVECTOR* a, const D3DVECTOR* b);
float D3DXVec3Length(const D3DVECTOR* v);

// p x M for a point with w = 1, returning x, y, z after the divide by w.
D3DVECTOR D3DXVec3TransformCoord(const D3DVECTOR& p, const D3DMATRIX& m);
// v x M for a direction (w = 0): the translation does not move it.
D3DVECTOR D3DXVec3TransformNormal(const D3DVECTOR& v, const D3DMATRIX& m);

bool operator==(const D3DMATRIX& a, const D3DMATRIX& b);

}  // namespace d3dx
