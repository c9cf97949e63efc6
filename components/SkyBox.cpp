#include "components/SkyBox.h"

#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"

namespace components {

using namespace d3d;

void SkyBox::CreateSkyBox(float SkyScale) {
  const float S = SkyScale;
  const D3DCOLOR W = D3DColorRGB(255, 255, 255);
  // The texture coordinates stop 0.001 short of each edge, so linear filtering never samples the
  // texel row on the far side of a wrapping texture.
  constexpr double lo = 0.001, hi = 0.999;
  const SkyVertex faces[6][4] = {
      {CreateLVertex(-S, -S, -S, W, hi, hi), CreateLVertex(-S, S, -S, W, hi, lo),
       CreateLVertex(-S, -S, S, W, lo, hi), CreateLVertex(-S, S, S, W, lo, lo)},
      {CreateLVertex(S, S, -S, W, lo, lo), CreateLVertex(S, -S, -S, W, lo, hi),
       CreateLVertex(S, S, S, W, hi, lo), CreateLVertex(S, -S, S, W, hi, hi)},
      {CreateLVertex(S, -S, S, W, lo, hi), CreateLVertex(-S, -S, S, W, hi, hi),
       CreateLVertex(S, S, S, W, lo, lo), CreateLVertex(-S, S, S, W, hi, lo)},
      {CreateLVertex(-S, -S, -S, W, lo, hi), CreateLVertex(S, -S, -S, W, hi, hi),
       CreateLVertex(-S, S, -S, W, lo, lo), CreateLVertex(S, S, -S, W, hi, lo)},
      {CreateLVertex(-S, S, -S, W, hi, lo), CreateLVertex(S, S, -S, W, lo, lo),
       CreateLVertex(-S, S, S, W, hi, hi), CreateLVertex(S, S, S, W, lo, hi)},
      {CreateLVertex(S, -S, -S, W, lo, hi), CreateLVertex(-S, -S, -S, W, lo, lo),
       CreateLVertex(S, -S, S, W, hi, hi), CreateLVertex(-S, -S, S, W, hi, lo)},
  };

  VertexSize = sizeof(SkyVertex);
  const DWORD bytes = static_cast<DWORD>(VertexSize) * 4;
  for (int k = 0; k < 6; ++k) {
    FaceBuffer[k] = device_.CreateVertexBuffer(bytes, 0, kFVF, D3DPOOL_MANAGED);
    FaceBuffer[k]->SetData(0, bytes, 0, faces[k]);
  }
}

void SkyBox::SetSkyTexture(std::int32_t Side, const std::string& Tex) {
  auto loaded = d3dx::D3DXCreateTextureFromFile(device_, Tex);
  if (Side < 0 || Side > 5)
    throw platform::Error("SetSkyTexture",
                          "subscript out of range: Side " + std::to_string(Side) + " is not 0..5", Tex);
  FaceTexture[static_cast<std::size_t>(Side)] = std::move(loaded);
}

void SkyBox::RenderSkyBox(const D3DVECTOR& CamPos) {
  D3DMATRIX centred;
  d3dx::D3DXMatrixTranslation(&centred, CamPos.x, CamPos.y, CamPos.z);
  device_.SetTransform(D3DTS_WORLD, centred);
  device_.SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  for (std::size_t k = 0; k < 6; ++k) {
    device_.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    device_.SetVertexShader(kFVF);
    device_.SetTexture(0, FaceTexture[k]);
    device_.SetStreamSource(0, FaceBuffer[k], static_cast<DWORD>(VertexSize));
    device_.DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2);
    device_.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  }
  // Left at the opposite translation, not at the identity: whoever draws next sets its own world.
  D3DMATRIX back;
  d3dx::D3DXMatrixTranslation(&back, -CamPos.x, -CamPos.y, -CamPos.z);
  device_.SetTransform(D3DTS_WORLD, back);
}

}  // namespace components
