#include "platform/d3d/d3dxmath.h"

#include <cmath>

namespace d3dx {

D3DMATRIX* D3DXMatrixIdentity(D3DMATRIX* out) {
  *out = D3DMATRIX{};
  for (int i = 0; i < 4; ++i) out->m[i][i] = 1.0f;
  return out;
}

D3DMATRIX* D3DXMatrixMultiply(D3DMATRIX* out, const D3DMATRIX* a, const D3DMATRIX* b) {
  D3DMATRIX r;
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      r.m[i][j] = a->m[i][0] * b->m[0][j] + a->m[i][1] * b->m[1][j] + a->m[i][2] * b->m[2][j] +
                  a->m[i][3] * b->m[3][j];
  *out = r;
  return out;
}

D3DMATRIX* D3DXMatrixScaling(D3DMATRIX* out, float sx, float sy, float sz) {
  D3DXMatrixIdentity(out);
  out->m[0][0] = sx;
  out->m[1][1] = sy;
  out->m[2][2] = sz;
  return out;
}

D3DMATRIX* D3DXMatrixTranslation(D3DMATRIX* out, float x, float y, float z) {
  D3DXMatrixIdentity(out);
  out->m[3][0] = x;
  out->m[3][1] = y;
  out->m[3][2] = z;
  return out;
}

D3DMATRIX* D3DXMatrixRotationX(D3DMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  D3DXMatrixIdentity(out);
  out->m[1][1] = c;
  out->m[1][2] = s;
  out->m[2][1] = -s;
  out->m[2][2] = c;
  return out;
}

D3DMATRIX* D3DXMatrixRotationY(D3DMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  D3DXMatrixIdentity(out);
  out->m[0][0] = c;
  out->m[0][2] = -s;
  out->m[2][0] = s;
  out->m[2][2] = c;
  return out;
}

D3DMATRIX* D3DXMatrixRotationZ(D3DMATRIX* out, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  D3DXMatrixIdentity(out);
  out->m[0][0] = c;
  out->m[0][1] = s;
  out->m[1][0] = -s;
  out->m[1][1] = c;
  return out;
}

D3DMATRIX* D3DXMatrixLookAtLH(D3DMATRIX* out, const D3DVECTOR* eye, const D3DVECTOR* at, const D3DVECTOR* up) {
  D3DVECTOR zaxis, xaxis, yaxis, tmp;
  D3DXVec3Subtract(&tmp, at, eye);
  D3DXVec3Normalize(&zaxis, &tmp);
  D3DXVec3Cross(&tmp, up, &zaxis);
  D3DXVec3Normalize(&xaxis, &tmp);
  D3DXVec3Cross(&yaxis, &zaxis, &xaxis);
  *out = D3DMATRIX{{{xaxis.x, yaxis.x, zaxis.x, 0.0f},
                    {xaxis.y, yaxis.y, zaxis.y, 0.0f},
                    {xaxis.z, yaxis.z, zaxis.z, 0.0f},
                    {-D3DXVec3Dot(&xaxis, eye), -D3DXVec3Dot(&yaxis, eye), -D3DXVec3Dot(&zaxis, eye), 1.0f}}};
  return out;
}

D3DMATRIX* D3DXMatrixPerspectiveFovLH(D3DMATRIX* out, float fovy, float aspect, float zn, float zf) {
  const float yScale = 1.0f / std::tan(fovy / 2.0f);
  const float xScale = yScale / aspect;
  *out = D3DMATRIX{};
  out->m[0][0] = xScale;
  out->m[1][1] = yScale;
  out->m[2][2] = zf / (zf - zn);
  out->m[2][3] = 1.0f;
  out->m[3][2] = -zn * zf / (zf - zn);
  return out;
}

D3DVECTOR* D3DXVec3Normalize(D3DVECTOR* out, const D3DVECTOR* v) {
  const float len = D3DXVec3Length(v);
  // D3DX leaves a zero vector at zero rather than dividing by its length.
  if (len == 0.0f) {
    *out = D3DVECTOR{0.0f, 0.0f, 0.0f};
  } else {
    *out = D3DVECTOR{v->x / len, v->y / len, v->z / len};
  }
  return out;
}

D3DVECTOR* D3DXVec3Cross(D3DVECTOR* out, const D3DVECTOR* a, const D3DVECTOR* b) {
  *out = D3DVECTOR{a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
  return out;
}

D3DVECTOR* D3DXVec3Subtract(D3DVECTOR* out, const D3DVECTOR* a, const D3DVECTOR* b) {
  *out = D3DVECTOR{a->x - b->x, a->y - b->y, a->z - b->z};
  return out;
}

float D3DXVec3Dot(const D3DVECTOR* a, const D3DVECTOR* b) { return a->x * b->x + a->y * b->y + a->z * b->z; }

float D3DXVec3Length(const D3DVECTOR* v) { return std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z); }

D3DVECTOR D3DXVec3TransformCoord(const D3DVECTOR& p, const D3DMATRIX& m) {
  float r[4];
  for (int j = 0; j < 4; ++j) r[j] = p.x * m.m[0][j] + p.y * m.m[1][j] + p.z * m.m[2][j] + m.m[3][j];
  return D3DVECTOR{r[0] / r[3], r[1] / r[3], r[2] / r[3]};
}

D3DVECTOR D3DXVec3TransformNormal(const D3DVECTOR& v, const D3DMATRIX& m) {
  float r[3];
  for (int j = 0; j < 3; ++j) r[j] = v.x * m.m[0][j] + v.y * m.m[1][j] + v.z * m.m[2][j];
  return D3DVECTOR{r[0], r[1], r[2]};
}

bool operator==(const D3DMATRIX& a, const D3DMATRIX& b) {
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      if (a.m[i][j] != b.m[i][j]) return false;
  return true;
}

}  // namespace d3dx
