// SkyBox on the recording backend: its vertex table, buffers, textures and the states it leaves.
#include "components/SkyBox.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "tests/support/RecordingBackend.h"
#include "platform/d3d/d3dxmath.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using components::SkyBox;
using components::SkyVertex;
using d3dx::operator==;

// The example's sky images, used here only as six different files.
std::string Face(int k) {
  static const char* const kNames[6] = {"posx", "negx", "posy", "negy", "posz", "negz"};
  return wgtest::AppDir() + "/terrain/sky_" + kNames[k] + ".jpg";
}

struct SkyBoxTest : ::testing::Test {
  SkyBoxTest() {
    auto rec = std::make_unique<RecordingBackend>();
    backend = rec.get();
    device = std::make_unique<Device>(std::move(rec));
    sky = std::make_unique<SkyBox>(*device);
  }
  SkyVertex Stored(int face, int vertex) const {
    SkyVertex v;
    std::memcpy(&v, sky->FaceBuffers()[static_cast<std::size_t>(face)]->Data() + vertex * sizeof(SkyVertex),
                sizeof v);
    return v;
  }
  RecordingBackend* backend = nullptr;
  std::unique_ptr<Device> device;
  std::unique_ptr<SkyBox> sky;
};

TEST(SkyBoxVertex, CreateLVertexConvertsEveryField) {
  const SkyVertex v = SkyBox::CreateLVertex(1, 2.0, 3.0f, 0x12345678, 0.5, 0.25f);
  EXPECT_EQ(v.x, 1.0f);
  EXPECT_EQ(v.y, 2.0f);
  EXPECT_EQ(v.z, 3.0f);
  EXPECT_EQ(v.diffuse, 0x12345678);
  EXPECT_EQ(v.specular, 0x12345678);
  EXPECT_EQ(v.tu, 0.5f);
  EXPECT_EQ(v.tv, 0.25f);
  EXPECT_EQ(SkyBox::CreateLVertex(0, 0, 0, 2.5, 0, 0).diffuse, 2);
  EXPECT_EQ(SkyBox::CreateLVertex(0, 0, 0, 2.5, 0, 0).specular, 2);
  EXPECT_EQ(SkyBox::CreateLVertex(0, 0, 0, 3.5f, 0, 0).diffuse, 4);
  EXPECT_EQ(SkyBox::CreateLVertex(0, 0, 0, 3.5f, 0, 0).specular, 4);
  EXPECT_EQ(SkyBox::CreateLVertex(0, 0, 0, 0xFFFFFFFFu, 0, 0).diffuse, -1);
  EXPECT_THROW(SkyBox::CreateLVertex(0, 0, 0, 3e9, 0, 0), platform::Error);
}

TEST_F(SkyBoxTest, CreateSkyBoxBuildsSixBuffersFromTheVertexTable) {
  sky->CreateSkyBox(100);
  EXPECT_EQ(sky->GetVertexSize(), 28);
  // x, y, z in units of the half-size, then tu, tv; the rows of each face are its strip order.
  const float H = 0.999f, L = 0.001f;
  const float table[6][4][5] = {
      {{-1, -1, -1, H, H}, {-1, 1, -1, H, L}, {-1, -1, 1, L, H}, {-1, 1, 1, L, L}},
      {{1, 1, -1, L, L}, {1, -1, -1, L, H}, {1, 1, 1, H, L}, {1, -1, 1, H, H}},
      {{1, -1, 1, L, H}, {-1, -1, 1, H, H}, {1, 1, 1, L, L}, {-1, 1, 1, H, L}},
      {{-1, -1, -1, L, H}, {1, -1, -1, H, H}, {-1, 1, -1, L, L}, {1, 1, -1, H, L}},
      {{-1, 1, -1, H, L}, {1, 1, -1, L, L}, {-1, 1, 1, H, H}, {1, 1, 1, L, H}},
      {{1, -1, -1, L, H}, {-1, -1, -1, L, L}, {1, -1, 1, H, H}, {-1, -1, 1, H, L}},
  };
  std::vector<Call> creates;
  for (const Call& c : backend->calls)
    if (c.name == "CreateVertexBuffer") creates.push_back(c);
  ASSERT_EQ(creates.size(), 6u);
  for (int k = 0; k < 6; ++k) {
    EXPECT_EQ(creates[static_cast<std::size_t>(k)].args, (std::vector<std::int64_t>{112, 0, 450, 1}));
    const auto& buffer = sky->FaceBuffers()[static_cast<std::size_t>(k)];
    ASSERT_TRUE(buffer);
    EXPECT_EQ(buffer->Length(), 112u);
    EXPECT_EQ(buffer->FVF(), 0x1C2u);
    EXPECT_EQ(buffer->Pool(), 1u);
    for (int i = 0; i < 4; ++i) {
      const SkyVertex v = Stored(k, i);
      const float* row = table[k][i];
      EXPECT_EQ(v.x, 100 * row[0]) << k << "," << i;
      EXPECT_EQ(v.y, 100 * row[1]) << k << "," << i;
      EXPECT_EQ(v.z, 100 * row[2]) << k << "," << i;
      EXPECT_EQ(v.tu, row[3]) << k << "," << i;
      EXPECT_EQ(v.tv, row[4]) << k << "," << i;
      EXPECT_EQ(static_cast<std::uint32_t>(v.diffuse), 0xFFFFFFFFu);
      EXPECT_EQ(static_cast<std::uint32_t>(v.specular), 0xFFFFFFFFu);
    }
  }
  // A second call replaces the buffers, here with another size.
  const auto first = sky->FaceBuffers()[4];
  sky->CreateSkyBox(5);
  EXPECT_NE(sky->FaceBuffers()[4], first);
  EXPECT_EQ(Stored(4, 3).y, 5.0f);
}

TEST_F(SkyBoxTest, SetSkyTextureFillsOneSlotAndRefusesSidesOutsideTheCube) {
  sky->SetSkyTexture(0, Face(0));
  sky->SetSkyTexture(5, Face(5));
  ASSERT_TRUE(sky->FaceTextures()[0]);
  ASSERT_TRUE(sky->FaceTextures()[5]);
  EXPECT_EQ(sky->FaceTextures()[0]->source, Face(0));
  EXPECT_EQ(sky->FaceTextures()[5]->source, Face(5));
  const auto before = sky->FaceTextures();

  for (int side : {6, -1}) {
    std::string msg;
    try {
      sky->SetSkyTexture(side, Face(1));
    } catch (const platform::Error& e) {
      msg = e.what();
    }
    EXPECT_NE(msg.find("subscript out of range"), std::string::npos) << msg;
    EXPECT_EQ(sky->FaceTextures(), before);
  }
  // The file is loaded before the side is looked at: a missing file is that error instead.
  const std::string missing = wgtest::AppDir() + "/terrain/none.jpg";
  try {
    sky->SetSkyTexture(9, missing);
    ADD_FAILURE() << "no error";
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find(missing), std::string::npos);
  }
  EXPECT_THROW(sky->SetSkyTexture(2, missing), platform::Error);
  EXPECT_EQ(sky->FaceTextures(), before);

  sky->SetSkyTexture(0, Face(3));
  EXPECT_EQ(sky->FaceTextures()[0]->source, Face(3));
}

TEST_F(SkyBoxTest, RenderSkyBoxDrawsSixFacesAroundTheCameraAndLeavesItsStates) {
  sky->CreateSkyBox(100);
  for (int k = 0; k < 5; ++k) sky->SetSkyTexture(k, Face(k));  // face 5 stays without a texture
  const D3DVECTOR p{10, -20, 30};
  device->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
  device->BeginScene();
  backend->reset();
  sky->RenderSkyBox(p);
  device->EndScene();

  std::vector<std::string> order{"SetTransform", "SetRenderState"};
  for (int k = 0; k < 6; ++k)
    for (const char* n : {"SetRenderState", "SetVertexShader", "SetTexture", "SetStreamSource",
                          "DrawPrimitive", "SetRenderState"})
      order.push_back(n);
  order.push_back("SetTransform");
  order.push_back("EndScene");
  ASSERT_EQ(backend->callNames(), order);
  const auto& calls = backend->calls;
  EXPECT_EQ(calls[1].args, (std::vector<std::int64_t>{22, 1}));
  for (int k = 0; k < 6; ++k) {
    const std::size_t b = 2 + 6 * static_cast<std::size_t>(k);
    EXPECT_EQ(calls[b].args, (std::vector<std::int64_t>{27, 0}));
    EXPECT_EQ(calls[b + 1].args, (std::vector<std::int64_t>{0x1C2}));
    EXPECT_EQ(calls[b + 2].args, (std::vector<std::int64_t>{0, k < 5 ? 1 : 0}));
    EXPECT_EQ(calls[b + 3].args, (std::vector<std::int64_t>{0, 28}));
    EXPECT_EQ(calls[b + 4].args, (std::vector<std::int64_t>{5, 0, 2}));
    EXPECT_EQ(calls[b + 5].args, (std::vector<std::int64_t>{27, 1}));
  }

  D3DMATRIX there, back;
  d3dx::D3DXMatrixTranslation(&there, 10, -20, 30);
  d3dx::D3DXMatrixTranslation(&back, -10, 20, -30);
  EXPECT_TRUE(calls[0].matrix == there);
  EXPECT_TRUE(device->GetTransform(D3DTS_WORLD) == back);
  EXPECT_EQ(device->GetRenderState(D3DRS_CULLMODE), D3DCULL_NONE);
  EXPECT_EQ(device->GetRenderState(D3DRS_ALPHABLENDENABLE), 1u);

  // Each face drawn opaque, with its own texture, through the world centred on the camera; together
  // the faces span the camera position plus and minus the half-size on every axis.
  ASSERT_EQ(backend->draws.size(), 6u);
  D3DVECTOR lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
  for (std::size_t k = 0; k < 6; ++k) {
    const auto& d = backend->draws[k];
    EXPECT_EQ(d.state.renderStates[D3DRS_ALPHABLENDENABLE], 0u);
    EXPECT_EQ(d.state.renderStates[D3DRS_CULLMODE], D3DCULL_NONE);
    EXPECT_EQ(d.state.fvf, 0x1C2u);
    EXPECT_EQ(d.state.textures[0], sky->FaceTextures()[k]);
    EXPECT_EQ(d.call.type, D3DPT_TRIANGLESTRIP);
    EXPECT_EQ(d.call.vertexCount, 4u);
    EXPECT_TRUE(d.state.world == there);
    for (int i = 0; i < 4; ++i) {
      SkyVertex v;
      std::memcpy(&v, d.vertexData.data() + i * sizeof(SkyVertex), sizeof v);
      const D3DVECTOR w = d3dx::D3DXVec3TransformCoord(D3DVECTOR{v.x, v.y, v.z}, d.state.world);
      lo = {std::min(lo.x, w.x), std::min(lo.y, w.y), std::min(lo.z, w.z)};
      hi = {std::max(hi.x, w.x), std::max(hi.y, w.y), std::max(hi.z, w.z)};
    }
  }
  EXPECT_FALSE(backend->draws[5].state.textures[0]);
  EXPECT_EQ(lo.x, -90.0f);
  EXPECT_EQ(hi.x, 110.0f);
  EXPECT_EQ(lo.y, -120.0f);
  EXPECT_EQ(hi.y, 80.0f);
  EXPECT_EQ(lo.z, -70.0f);
  EXPECT_EQ(hi.z, 130.0f);
}

TEST_F(SkyBoxTest, RenderBeforeCreateSkyBoxFailsAtTheFirstDraw) {
  device->BeginScene();
  EXPECT_THROW(sky->RenderSkyBox(D3DVECTOR{1, 2, 3}), platform::Error);
  D3DMATRIX there;
  d3dx::D3DXMatrixTranslation(&there, 1, 2, 3);
  EXPECT_TRUE(device->GetTransform(D3DTS_WORLD) == there);
  EXPECT_EQ(device->GetRenderState(D3DRS_ALPHABLENDENABLE), 0u);
}

}  // namespace
