#include "components/SkyBox.h"

#include <cstring>

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

std::int32_t SkyBox::SideOf(CubeFace Face) {
  switch (Face) {
    case CubeFace::PosX:
      return 1;
    case CubeFace::NegX:
      return 0;
    case CubeFace::PosY:
      return 4;
    case CubeFace::NegY:
      return 5;
    case CubeFace::PosZ:
      return 2;
    case CubeFace::NegZ:
      return 3;
  }
  throw platform::Error("SideOf", "no cube-map face " + std::to_string(static_cast<int>(Face)));
}

Texture::Level SkyBox::OrientCubeFace(CubeFace Face, const Texture::Level& Image) {
  const std::size_t w = static_cast<std::size_t>(Image.width), h = static_cast<std::size_t>(Image.height);
  if (Image.rgba.size() != w * h * 4)
    throw platform::Error("OrientCubeFace", "the image holds the wrong number of bytes");
  Texture::Level out;
  out.rgba.resize(Image.rgba.size());
  const auto copy = [&](std::size_t toX, std::size_t toY, std::size_t fromX, std::size_t fromY) {
    std::memcpy(&out.rgba[(toY * static_cast<std::size_t>(out.width) + toX) * 4],
                &Image.rgba[(fromY * w + fromX) * 4], 4);
  };
  if (Face == CubeFace::NegY) {
    // The table runs tu along +z and tv along +x there; the cube map runs s along +x and t along -z.
    out.width = Image.height;
    out.height = Image.width;
    for (std::size_t y = 0; y < w; ++y)
      for (std::size_t x = 0; x < h; ++x) copy(x, y, y, h - 1 - x);
  } else {
    // The table runs tu the opposite way to the cube map's s on every other face.
    out.width = Image.width;
    out.height = Image.height;
    for (std::size_t y = 0; y < h; ++y)
      for (std::size_t x = 0; x < w; ++x) copy(x, y, w - 1 - x, y);
  }
  return out;
}

std::shared_ptr<Texture> SkyBox::LoadCubeFace(CubeFace Face, const std::string& Tex) {
  // Decoded as SetSkyTexture decodes it; the mips are made again from the turned image, as they
  // would be from a file stored that way.
  const auto decoded = d3dx::D3DXCreateTextureFromFile(device_, Tex);
  std::vector<Texture::Level> levels{OrientCubeFace(Face, decoded->levels.at(0))};
  d3dx::CompleteMipChain(levels);
  return device_.CreateTexture(std::move(levels), Tex);
}

void SkyBox::SetSkyTexturesFromCubeMap(const std::array<std::string, 6>& Tex) {
  std::array<std::shared_ptr<Texture>, 6> loaded;
  for (std::size_t k = 0; k < 6; ++k) {
    const auto face = static_cast<CubeFace>(k);
    loaded[static_cast<std::size_t>(SideOf(face))] = LoadCubeFace(face, Tex[k]);
  }
  FaceTexture = std::move(loaded);
}

void SkyBox::SetSkyTextureFromCubeFace(CubeFace Face, const std::string& Tex) {
  const std::int32_t side = SideOf(Face);
  FaceTexture[static_cast<std::size_t>(side)] = LoadCubeFace(Face, Tex);
}

}  // namespace components
