#include "scene/Plane.h"

#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "render/FrameContext.h"

namespace scene {

using namespace d3d;

void Plane::InitPlane(const D3DVECTOR& Position, const D3DVECTOR& Scaling) {
  vecPos = Position;
  vecScale = Scaling;
  Vertex[0] = PlaneVertex{-1, 0, -1, 0, 0};
  Vertex[1] = PlaneVertex{1, 0, -1, 100, 0};
  Vertex[2] = PlaneVertex{-1, 0, 1, 0, 100};
  Vertex[3] = PlaneVertex{1, 0, 1, 100, 100};
  VertexSize = sizeof(PlaneVertex);
}

void Plane::RenderPlane(const render::FrameContext& frame) {
  Device& dev = frame.D3DDevice;
  dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  d3dx::D3DXMatrixTranslation(&frame.matWorld, vecPos.x, vecPos.y, vecPos.z);
  dev.SetTransform(D3DTS_WORLD, frame.matWorld);
  // The device puts the scaling on the left of the translation: scaled first, then moved.
  d3dx::D3DXMatrixScaling(&frame.matWorld, vecScale.x, vecScale.y, vecScale.z);
  dev.MultiplyTransform(D3DTS_WORLD, frame.matWorld);
  dev.SetVertexShader(kFVF);
  dev.SetTexture(0, Texture);
  dev.DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, Vertex.data(), static_cast<DWORD>(VertexSize));
  // Left on for whatever is drawn next, whatever it was before.
  dev.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
}

void Plane::SetTexture(Device& dev, const std::string& File) {
  // Loaded first, so a failure keeps the previous texture.
  auto loaded = d3dx::D3DXCreateTextureFromFile(dev, File);
  Texture = std::move(loaded);
}

}  // namespace scene
