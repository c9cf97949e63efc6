// The OpenGL backend on llvmpipe: a frame of the demo's heaviest draws (3000 scaled point sprites
// from a vertex buffer rewritten slot by slot, then a textured ground strip), and the cost of one
// small user-memory draw.
#include <benchmark/benchmark.h>

#include <bit>
#include <cmath>
#include <vector>

#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"

namespace {

using namespace d3d;

struct Flake {
  float x, y, z;
  D3DCOLOR color;
};
struct Ground {
  float x, y, z, u, v;
};

std::unique_ptr<Device> MakeDevice() {
  gl::GlDirect3D8 d3d(true);
  const D3DPRESENT_PARAMETERS p{1024, 768, D3DFMT_X8R8G8B8, 1, 0, D3DSWAPEFFECT_FLIP, 0, 0, 1, D3DFMT_D16, 0, 0, 0};
  auto dev = d3d.CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING, p);
  D3DMATRIX m;
  d3dx::D3DXMatrixPerspectiveFovLH(&m, 1.57f, 0.75f, 0.1f, 1000.0f);
  dev->SetTransform(D3DTS_PROJECTION, m);
  const D3DVECTOR eye{100, 15, 30}, at{0, 10, 30}, up{0, 1, 0};
  d3dx::D3DXMatrixLookAtLH(&m, &eye, &at, &up);
  dev->SetTransform(D3DTS_VIEW, m);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetRenderState(D3DRS_LIGHTING, 0);
  return dev;
}

std::shared_ptr<Texture> Checker(Device& dev, int side) {
  Texture::Level l;
  l.width = l.height = side;
  for (int i = 0; i < side * side; ++i) {
    const std::uint8_t v = ((i % side + i / side) % 2) ? 230 : 180;
    l.rgba.insert(l.rgba.end(), {v, v, 255, 255});
  }
  std::vector<Texture::Level> levels{l};
  while (levels.back().width > 1) levels.push_back(d3dx::Downsample(levels.back()));
  return dev.CreateTexture(std::move(levels), "checker");
}

void BM_SnowAndGroundFrame(benchmark::State& state) {
  auto dev = MakeDevice();
  auto flakeTex = Checker(*dev, 32), groundTex = Checker(*dev, 256);
  auto vb = dev->CreateVertexBuffer(3000 * sizeof(Flake), D3DUSAGE_WRITEONLY | D3DUSAGE_POINTS,
                                    D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED);
  std::vector<Flake> flakes(3000);
  for (int i = 0; i < 3000; ++i)
    flakes[i] = {std::fmod(i * 37.0f, 200.0f) - 100, std::fmod(i * 11.0f, 60.0f), std::fmod(i * 53.0f, 200.0f) - 70,
                 0xFFFFFFFF};
  const Ground ground[4] = {{-1000, 0, -1000, 0, 0}, {1000, 0, -1000, 100, 0}, {-1000, 0, 1000, 0, 100},
                            {1000, 0, 1000, 100, 100}};
  auto bits = [](float f) { return std::bit_cast<DWORD>(f); };
  dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
  DWORD w = 0, h = 0;
  for (auto _ : state) {
    for (DWORD i = 0; i < 3000; ++i) {
      flakes[i].y -= 0.1f;
      vb->SetData(i * sizeof(Flake), sizeof(Flake), 0, &flakes[i]);
    }
    dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF7F7FB4, 1.0f, 0);
    dev->BeginScene();
    dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
    dev->SetTexture(0, flakeTex);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
    dev->SetRenderState(D3DRS_SRCBLEND, D3DBLEND_SRCALPHA);
    dev->SetRenderState(D3DRS_DESTBLEND, D3DBLEND_ONE);
    dev->SetRenderState(D3DRS_POINTSPRITEENABLE, 1);
    dev->SetRenderState(D3DRS_POINTSCALEENABLE, 1);
    dev->SetRenderState(D3DRS_POINTSCALE_A, bits(0.6f));
    dev->SetRenderState(D3DRS_POINTSCALE_B, bits(0.6f));
    dev->SetRenderState(D3DRS_POINTSCALE_C, bits(0.6f));
    dev->SetRenderState(D3DRS_ZWRITEENABLE, 0);
    dev->SetStreamSource(0, vb, sizeof(Flake));
    dev->DrawPrimitive(D3DPT_POINTLIST, 0, 3000);
    dev->SetRenderState(D3DRS_ZWRITEENABLE, 1);
    dev->SetRenderState(D3DRS_POINTSCALEENABLE, 0);
    dev->SetRenderState(D3DRS_POINTSPRITEENABLE, 0);
    dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
    dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_TEX1);
    dev->SetTexture(0, groundTex);
    dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, ground, sizeof(Ground));
    dev->EndScene();
    dev->Present(nullptr, nullptr, nullptr, nullptr);
    // Reading one frame back waits for the rasteriser, so the time is the frame's, not its queueing.
    benchmark::DoNotOptimize(dev->GetBackend().readBack(w, h).data());
  }
}
BENCHMARK(BM_SnowAndGroundFrame)->Unit(benchmark::kMillisecond);

void BM_SmallUserMemoryDraws(benchmark::State& state) {
  auto dev = MakeDevice();
  const Flake quad[4] = {{0, 10, 30, 0xFFFF0000}, {1, 10, 30, 0xFFFF0000}, {0, 11, 30, 0xFFFF0000},
                         {1, 11, 30, 0xFFFF0000}};
  dev->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
  dev->BeginScene();
  dev->SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  for (auto _ : state) dev->DrawPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, quad, sizeof(Flake));
  dev->EndScene();
  dev->Present(nullptr, nullptr, nullptr, nullptr);
}
BENCHMARK(BM_SmallUserMemoryDraws);

}  // namespace

BENCHMARK_MAIN();
