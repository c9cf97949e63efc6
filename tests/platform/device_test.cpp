// The fixed-function device on the recording backend: its defaults, state round-trips, the order
// of transforms, and the calls it refuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <functional>
#include <string>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "tests/support/RecordingBackend.h"

namespace {

using namespace d3d;
using d3dx::operator==;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

struct DeviceFixture : ::testing::Test {
  DeviceFixture() {
    auto b = std::make_unique<RecordingBackend>();
    backend = b.get();
    device = std::make_unique<Device>(std::move(b));
  }
  RecordingBackend* backend;
  std::unique_ptr<Device> device;
};

struct V42 {
  float x, y, z;
  D3DCOLOR color;
};

DWORD Bits(float f) { return std::bit_cast<DWORD>(f); }

TEST_F(DeviceFixture, AFreshDeviceHasDirect3D8Defaults) {
  const Device& d = *device;
  EXPECT_EQ(d.GetRenderState(D3DRS_ZENABLE), D3DZB_TRUE);
  EXPECT_EQ(d.GetRenderState(D3DRS_ZWRITEENABLE), 1u);
  EXPECT_EQ(d.GetRenderState(D3DRS_ZFUNC), D3DCMP_LESSEQUAL);
  EXPECT_EQ(d.GetRenderState(D3DRS_SRCBLEND), D3DBLEND_ONE);
  EXPECT_EQ(d.GetRenderState(D3DRS_DESTBLEND), D3DBLEND_ZERO);
  EXPECT_EQ(d.GetRenderState(D3DRS_ALPHABLENDENABLE), 0u);
  EXPECT_EQ(d.GetRenderState(D3DRS_CULLMODE), D3DCULL_CCW);
  EXPECT_EQ(d.GetRenderState(D3DRS_SHADEMODE), D3DSHADE_GOURAUD);
  EXPECT_EQ(d.GetRenderState(D3DRS_FOGENABLE), 0u);
  EXPECT_EQ(d.GetRenderState(D3DRS_POINTSIZE), Bits(1.0f));
  EXPECT_EQ(d.GetRenderState(D3DRS_POINTSIZE_MIN), Bits(1.0f));
  EXPECT_EQ(d.GetRenderState(D3DRS_POINTSIZE_MAX), Bits(64.0f));
  EXPECT_EQ(d.GetTextureStageState(0, D3DTSS_COLOROP), D3DTOP_MODULATE);
  EXPECT_EQ(d.GetTextureStageState(0, D3DTSS_COLORARG1), D3DTA_TEXTURE);
  EXPECT_EQ(d.GetTextureStageState(0, D3DTSS_COLORARG2), D3DTA_CURRENT);
  EXPECT_EQ(d.GetTextureStageState(0, D3DTSS_ALPHAOP), D3DTOP_SELECTARG1);
  EXPECT_EQ(d.GetTextureStageState(0, D3DTSS_ALPHAARG1), D3DTA_TEXTURE);
  EXPECT_EQ(d.GetTextureStageState(1, D3DTSS_COLOROP), D3DTOP_DISABLE);
  EXPECT_EQ(d.GetTextureStageState(1, D3DTSS_TEXCOORDINDEX), 1u);
  for (DWORD type : {D3DTSS_COLORARG0, D3DTSS_ALPHAARG0, D3DTSS_RESULTARG})
    EXPECT_EQ(d.GetTextureStageState(1, type), D3DTA_CURRENT) << type;
  EXPECT_EQ(d.GetTextureStageState(0, D3DTSS_ADDRESSU), D3DTADDRESS_WRAP);
  EXPECT_EQ(d.GetTextureStageState(0, D3DTSS_MIPFILTER), D3DTEXF_NONE);
  D3DMATRIX identity;
  d3dx::D3DXMatrixIdentity(&identity);
  EXPECT_TRUE(d.GetTransform(D3DTS_WORLD) == identity);
  EXPECT_EQ(d.GetTexture(0), nullptr);
}

TEST_F(DeviceFixture, StatesRoundTripAndEachDrawCarriesTheStateInForce) {
  Device& d = *device;
  d.SetRenderState(D3DRS_FOGSTART, Bits(50.0f));
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 1);
  d.SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  D3DMATERIAL8 m{};
  m.Diffuse = {0.5f, 0.25f, 1, 1};
  m.Power = 3;
  d.SetMaterial(m);
  EXPECT_EQ(d.GetRenderState(D3DRS_FOGSTART), 0x42480000u);
  EXPECT_EQ(d.GetTextureStageState(0, D3DTSS_MINFILTER), D3DTEXF_LINEAR);
  EXPECT_EQ(d.GetMaterial().Diffuse.g, 0.25f);
  EXPECT_EQ(d.GetMaterial().Power, 3.0f);

  const V42 v[3] = {{0, 0, 1, 0xFF102030}, {1, 0, 1, 0}, {0, 1, 1, 0}};
  d.BeginScene();
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(V42));
  d.SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(V42));
  d.EndScene();

  ASSERT_EQ(backend->draws.size(), 2u);
  EXPECT_EQ(backend->draws[0].state.renderStates[D3DRS_ALPHABLENDENABLE], 1u);
  EXPECT_EQ(backend->draws[1].state.renderStates[D3DRS_ALPHABLENDENABLE], 0u);
  EXPECT_EQ(backend->draws[0].state.renderStates[D3DRS_FOGSTART], 0x42480000u);
  EXPECT_EQ(backend->draws[0].vertexData.size(), 3 * sizeof(V42));
  EXPECT_EQ(backend->draws[0].call.fvf, 0x42u);
  EXPECT_EQ(backend->calls[0].name, "SetRenderState");
  EXPECT_THAT(backend->calls[0].args, ElementsAre(D3DRS_FOGSTART, 0x42480000));
  EXPECT_EQ(backend->callNames().back(), "EndScene");
}

TEST_F(DeviceFixture, MultiplyTransformPutsTheGivenMatrixFirst) {
  Device& d = *device;
  D3DMATRIX t, s, st;
  d3dx::D3DXMatrixTranslation(&t, 10, 5, 100);
  d3dx::D3DXMatrixScaling(&s, 2, 3, 1);
  d.SetTransform(D3DTS_WORLD, t);
  d.MultiplyTransform(D3DTS_WORLD, s);
  d3dx::D3DXMatrixMultiply(&st, &s, &t);
  EXPECT_TRUE(d.GetTransform(D3DTS_WORLD) == st);
  const D3DVECTOR p = d3dx::D3DXVec3TransformCoord(D3DVECTOR{1, 1, 0}, d.GetTransform(D3DTS_WORLD));
  EXPECT_EQ(p.x, 12);
  EXPECT_EQ(p.y, 8);
  EXPECT_EQ(p.z, 100);
  EXPECT_EQ(backend->calls.back().name, "MultiplyTransform");
  EXPECT_TRUE(backend->calls.back().matrix == s);
}

TEST_F(DeviceFixture, BadDrawsAreErrorsNamingTheCallAndReachNoBackend) {
  Device& d = *device;
  const V42 v[4] = {};
  const std::uint16_t idx[4] = {2, 3, 4, 5};
  auto message = [](auto&& f) -> std::string {
    try {
      f();
    } catch (const platform::Error& e) {
      return e.what();
    }
    return "no error";
  };
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  EXPECT_THAT(message([&] { d.DrawPrimitiveUP(D3DPT_POINTLIST, 1, v, sizeof(V42)); }),
              HasSubstr("DrawPrimitiveUP: draw outside BeginScene"));
  d.BeginScene();
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE | 0x00010000);  // a 3-float first coordinate set
  EXPECT_THAT(message([&] { d.DrawPrimitiveUP(D3DPT_POINTLIST, 1, v, sizeof(V42)); }),
              HasSubstr("DrawPrimitiveUP: vertex format 0x10042"));
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  EXPECT_THAT(message([&] { d.DrawPrimitiveUP(D3DPT_POINTLIST, 1, v, 12); }), HasSubstr("stride 12"));
  // Range 2..5 of six vertices allowed; index 5 lies beyond a range of 3 starting at 2.
  EXPECT_THAT(message([&] { d.DrawIndexedPrimitiveUP(D3DPT_TRIANGLESTRIP, 2, 3, 2, idx, D3DFMT_INDEX16, v, sizeof(V42)); }),
              HasSubstr("DrawIndexedPrimitiveUP: index 5 outside the vertex range 2..4"));
  auto vb = d.CreateVertexBuffer(3 * sizeof(V42), 0, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED);
  EXPECT_THAT(message([&] { d.DrawPrimitive(D3DPT_POINTLIST, 0, 1); }), HasSubstr("DrawPrimitive: no stream source"));
  d.SetStreamSource(0, vb, sizeof(V42));
  EXPECT_THAT(message([&] { d.DrawPrimitive(D3DPT_POINTLIST, 1, 3); }),
              HasSubstr("DrawPrimitive: 3 vertices from 1 reach beyond the buffer's 48 bytes"));
  EXPECT_THAT(message([&] { vb->SetData(40, 16, 0, v); }), HasSubstr("VertexBuffer SetData"));
  EXPECT_EQ(backend->drawCount, 0u);
  d.DrawPrimitive(D3DPT_POINTLIST, 0, 3);
  EXPECT_EQ(backend->drawCount, 1u);
}

TEST_F(DeviceFixture, IndexBufferDrawsReachTheBackendFromTheBaseVertexAndAreCheckedLikeTheOthers) {
  Device& d = *device;
  auto message = [](auto&& f) -> std::string {
    try {
      f();
    } catch (const platform::Error& e) {
      return e.what();
    }
    return "no error";
  };
  EXPECT_THAT(message([&] { d.CreateIndexBuffer(12, 0, D3DFMT_INDEX32, D3DPOOL_MANAGED); }),
              HasSubstr("CreateIndexBuffer: index format 102 not supported"));
  V42 v[6] = {};
  for (int i = 0; i < 6; ++i) v[i].x = static_cast<float>(i);
  auto vb = d.CreateVertexBuffer(sizeof v, 0, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED);
  vb->SetData(0, sizeof v, 0, v);
  auto ib = d.CreateIndexBuffer(12, D3DUSAGE_WRITEONLY, D3DFMT_INDEX16, D3DPOOL_MANAGED);
  const std::uint16_t idx[6] = {9, 9, 0, 1, 2, 2};
  ib->SetData(0, sizeof idx, 0, idx);
  EXPECT_EQ(ib->dirtyBegin, 0u);
  EXPECT_EQ(ib->dirtyEnd, 12u);
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  d.SetStreamSource(0, vb, sizeof(V42));
  d.BeginScene();
  EXPECT_THAT(message([&] { d.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 2, 1); }),
              HasSubstr("DrawIndexedPrimitive: no index buffer"));
  d.SetIndices(ib, 3);
  EXPECT_EQ(backend->calls.back().name, "SetIndices");
  EXPECT_THAT(backend->calls.back().args, ElementsAre(1, 3));
  d.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 2, 1);
  EXPECT_EQ(backend->calls.back().name, "DrawIndexedPrimitive");
  EXPECT_THAT(backend->calls.back().args, ElementsAre(D3DPT_TRIANGLELIST, 0, 3, 2, 1));
  ASSERT_EQ(backend->draws.size(), 1u);
  const auto& draw = backend->draws[0];
  EXPECT_EQ(draw.indexData, (std::vector<std::uint16_t>{0, 1, 2}));
  EXPECT_EQ(draw.call.startIndex, 2u);
  EXPECT_EQ(draw.call.baseVertex, 3u);
  EXPECT_EQ(draw.call.vertexCount, 3u);
  float x;  // the draw's records start at the base vertex
  std::memcpy(&x, draw.vertexData.data(), 4);
  EXPECT_EQ(x, 3.0f);

  // The same range from a later base reaches past the six records; the indices before it lie outside
  // the vertex range; the range runs past the buffer's six indices.
  d.SetIndices(ib, 4);
  EXPECT_THAT(message([&] { d.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 2, 1); }),
              HasSubstr("DrawIndexedPrimitive: vertices 4..6 reach beyond the buffer's 96 bytes"));
  d.SetIndices(ib, 0);
  EXPECT_THAT(message([&] { d.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 6, 0, 1); }),
              HasSubstr("DrawIndexedPrimitive: index 9 outside the vertex range 0..5"));
  EXPECT_THAT(message([&] { d.DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 0, 6, 3, 2); }),
              HasSubstr("DrawIndexedPrimitive: 4 indices from 3 reach beyond the index buffer's 12 bytes"));
  // A range found good once is checked again after the buffer is written.
  d.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 2, 1);
  const std::uint16_t far = 7;
  ib->SetData(6, 2, 0, &far);
  EXPECT_THAT(message([&] { d.DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0, 3, 2, 1); }),
              HasSubstr("index 7 outside the vertex range 0..2"));
  EXPECT_EQ(backend->drawCount, 2u);
  d.EndScene();
}

TEST_F(DeviceFixture, AFreshDeviceLightsWithDirect3D8sDefaultsAndNoLight) {
  const Device& d = *device;
  EXPECT_EQ(d.GetRenderState(D3DRS_LIGHTING), 1u);
  EXPECT_EQ(d.GetRenderState(D3DRS_AMBIENT), 0u);
  EXPECT_EQ(d.GetRenderState(D3DRS_COLORVERTEX), 1u);
  EXPECT_EQ(d.GetRenderState(D3DRS_SPECULARENABLE), 0u);
  EXPECT_EQ(d.GetRenderState(D3DRS_LOCALVIEWER), 1u);
  EXPECT_EQ(d.GetRenderState(D3DRS_NORMALIZENORMALS), 0u);
  EXPECT_EQ(d.GetRenderState(D3DRS_DIFFUSEMATERIALSOURCE), D3DMCS_COLOR1);
  EXPECT_EQ(d.GetRenderState(D3DRS_SPECULARMATERIALSOURCE), D3DMCS_COLOR2);
  EXPECT_EQ(d.GetRenderState(D3DRS_AMBIENTMATERIALSOURCE), D3DMCS_MATERIAL);
  EXPECT_EQ(d.GetRenderState(D3DRS_EMISSIVEMATERIALSOURCE), D3DMCS_MATERIAL);
  EXPECT_TRUE(d.State().lights.empty());
  EXPECT_EQ(d.State().enabledLights, 0u);
}

// A call the device refuses with platform::Error, its message holding `text`.
auto Refused(const std::string& text) {
  return ::testing::ThrowsMessage<platform::Error>(HasSubstr(text));
}

TEST_F(DeviceFixture, ALightReadsBackAsSetAndEachDrawCarriesTheLightsInForce) {
  Device& d = *device;
  D3DLIGHT8 spot{};
  spot.Type = D3DLIGHT_SPOT;
  spot.Diffuse = {1, 0.5f, 0.25f, 1};
  spot.Specular = {0.125f, 0, 0, 0};
  spot.Ambient = {0, 0.75f, 0, 0};
  spot.Position = {1, 2, 3};
  spot.Direction = {0, -1, 0};
  spot.Range = 40;
  spot.Falloff = 2;
  spot.Attenuation0 = 1;
  spot.Attenuation1 = 0.5f;
  spot.Attenuation2 = 0.25f;
  spot.Theta = 0.5f;
  spot.Phi = 1;
  d.SetLight(70000, spot);
  EXPECT_EQ(d.GetLightEnable(70000), 0);
  d.LightEnable(70000, 1);
  const D3DLIGHT8 back = d.GetLight(70000);
  EXPECT_EQ(std::memcmp(&back, &spot, sizeof spot), 0);
  EXPECT_EQ(d.GetLightEnable(70000), 1);
  EXPECT_EQ(backend->calls.back().name, "LightEnable");
  EXPECT_THAT(backend->calls.back().args, ElementsAre(70000, 1));

  const V42 v[3] = {};
  d.BeginScene();
  d.SetVertexShader(D3DFVF_XYZ | D3DFVF_DIFFUSE);
  d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(V42));
  d.LightEnable(70000, 0);
  d.DrawPrimitiveUP(D3DPT_TRIANGLELIST, 1, v, sizeof(V42));
  d.EndScene();
  ASSERT_EQ(backend->draws.size(), 2u);
  ASSERT_EQ(backend->draws[0].state.lights.count(70000), 1u);
  EXPECT_TRUE(backend->draws[0].state.lights.at(70000).enabled);
  EXPECT_EQ(backend->draws[0].state.lights.at(70000).light.Range, 40.0f);
  EXPECT_FALSE(backend->draws[1].state.lights.at(70000).enabled);
  EXPECT_EQ(backend->draws[1].state.enabledLights, 0u);
}

TEST_F(DeviceFixture, EnablingALightNeverSetGivesItTheDefaultLight) {
  Device& d = *device;
  d.LightEnable(5, 1);
  D3DLIGHT8 white{};  // directional, diffuse (1, 1, 1, 0) along +z, everything else 0
  white.Type = D3DLIGHT_DIRECTIONAL;
  white.Diffuse = {1, 1, 1, 0};
  white.Direction = {0, 0, 1};
  const D3DLIGHT8 l = d.GetLight(5);
  EXPECT_EQ(std::memcmp(&l, &white, sizeof l), 0);
  EXPECT_EQ(d.GetLightEnable(5), 1);
}

TEST_F(DeviceFixture, AtMostEightLightsAreEnabledAtOnce) {
  Device& d = *device;
  for (DWORD i = 0; i < 8; ++i) d.LightEnable(i * 10, 1);
  d.LightEnable(30, 1);  // enabled already: no ninth
  EXPECT_EQ(d.State().enabledLights, 8u);
  EXPECT_THAT([&] { d.LightEnable(3, 1); }, Refused("LightEnable: light 3: 8 lights are enabled already"));
  EXPECT_EQ(d.State().lights.count(3), 0u);  // the refused call left nothing behind
  d.LightEnable(30, 0);
  d.LightEnable(30, 0);
  EXPECT_EQ(d.State().enabledLights, 7u);
  d.LightEnable(3, 1);
  EXPECT_EQ(d.State().enabledLights, 8u);
  EXPECT_EQ(d.GetLightEnable(3), 1);
}

TEST_F(DeviceFixture, BadLightsAndIndicesNeverSetAreRefusedNamingTheLight) {
  Device& d = *device;
  EXPECT_THAT([&] { d.GetLight(2); }, Refused("GetLight: light 2 was never set"));
  EXPECT_THAT([&] { d.GetLightEnable(2); }, Refused("GetLightEnable: light 2 was never set"));
  D3DLIGHT8 good{};
  good.Type = D3DLIGHT_POINT;
  good.Range = 10;
  good.Attenuation0 = 1;
  d.SetLight(1, good);
  struct Case {
    const char* why;
    std::function<void(D3DLIGHT8&)> spoil;
    const char* message;
  } cases[] = {
      {"unknown type", [](D3DLIGHT8& l) { l.Type = static_cast<D3DLIGHTTYPE>(4); }, "light type 4 unknown"},
      {"negative range", [](D3DLIGHT8& l) { l.Range = -1; }, "range -1"},
      {"no attenuation", [](D3DLIGHT8& l) { l.Attenuation0 = 0; }, "attenuation"},
      {"negative attenuation", [](D3DLIGHT8& l) { l.Attenuation1 = -0.5f; }, "attenuation"},
      {"directional without direction", [](D3DLIGHT8& l) { l.Type = D3DLIGHT_DIRECTIONAL; },
       "direction of length 0"},
      {"spot cone inside out",
       [](D3DLIGHT8& l) {
         l.Type = D3DLIGHT_SPOT;
         l.Direction = {0, 0, 1};
         l.Theta = 1;
         l.Phi = 0.5f;
       },
       "cone angles"},
      {"spot cone wider than pi",
       [](D3DLIGHT8& l) {
         l.Type = D3DLIGHT_SPOT;
         l.Direction = {0, 0, 1};
         l.Phi = 4;
       },
       "cone angles"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    D3DLIGHT8 bad = good;
    c.spoil(bad);
    EXPECT_THAT([&] { d.SetLight(1, bad); }, Refused(std::string("SetLight: light 1: ") + c.message));
    EXPECT_EQ(d.GetLight(1).Range, 10.0f);  // the light before stays
    EXPECT_EQ(d.GetLight(1).Type, D3DLIGHT_POINT);
  }
}

// A backend that holds its own copy of every texture, as the OpenGL one does.
struct CopyingBackend : RecordingBackend {
  void createTexture(Texture& t) override { t.backendHandle = std::make_shared<int>(0); }
};

TEST(DeviceTexels, ATextureLetsGoOfItsTexelsWhenTheNextSceneBeginsUnlessTheyAreKept) {
  for (const bool keep : {false, true}) {
    Device device(std::make_unique<CopyingBackend>());
    device.KeepTexels(keep);
    const auto t = device.CreateTexture({Texture::Level{2, 1, std::vector<std::uint8_t>(8, 7)},
                                         Texture::Level{1, 1, std::vector<std::uint8_t>(4, 7)}},
                                        "two texels");
    // Its creator may still read them until the scene begins.
    ASSERT_EQ(t->levels.size(), 2u);
    device.BeginScene();
    EXPECT_EQ(t->levels.size(), keep ? 2u : 0u);
    EXPECT_EQ(t->Width(), 2);
    EXPECT_EQ(t->Height(), 1);
    device.EndScene();
  }
  // A backend without a copy of its own leaves the texels where they are.
  Device recording(std::make_unique<RecordingBackend>());
  const auto t = recording.CreateTexture({Texture::Level{1, 1, {1, 2, 3, 4}}}, "one texel");
  recording.BeginScene();
  ASSERT_EQ(t->levels.size(), 1u);
  EXPECT_EQ(t->levels[0].rgba, (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

}  // namespace
