#include <gtest/gtest.h>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "scene/Plane.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using d3dx::operator==;

struct PlaneFixture : ::testing::Test {
  wgtest::RecordingDemo demo;
  void SetUp() override { demo.form.D3D.InitD3D(nullptr); }
  scene::Plane& plane() { return demo.form.D3D.GetPlane(); }
};

TEST_F(PlaneFixture, InitPlaneBuildsTheQuadWithTexturesRepeatingAHundredTimes) {
  plane().InitPlane(D3DVECTOR{0, 0, 0}, D3DVECTOR{1000, 1000, 1000});
  const auto& v = plane().Vertices();
  const float expected[4][5] = {{-1, 0, -1, 0, 0}, {1, 0, -1, 100, 0}, {-1, 0, 1, 0, 100}, {1, 0, 1, 100, 100}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(v[i].x, expected[i][0]);
    EXPECT_EQ(v[i].y, expected[i][1]);
    EXPECT_EQ(v[i].z, expected[i][2]);
    EXPECT_EQ(v[i].tu, expected[i][3]);
    EXPECT_EQ(v[i].tv, expected[i][4]);
  }
  EXPECT_EQ(plane().GetVertexSize(), 20);
}

TEST_F(PlaneFixture, RenderPlaneLeavesBlendingOnAndTheWorldAtScalingTimesTranslation) {
  plane().InitPlane(D3DVECTOR{5, 2, -7}, D3DVECTOR{1000, 1000, 1000});
  plane().SetTexture(demo.device(), wgtest::AppDir() + "/tex/snow.jpg");
  demo.device().SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  demo.device().BeginScene();
  demo.backend().calls.clear();
  plane().RenderPlane(demo.frame());
  const std::vector<std::string> names = demo.backend().callNames();
  demo.device().EndScene();

  EXPECT_EQ(demo.device().GetRenderState(D3DRS_ALPHABLENDENABLE), 1u);
  D3DMATRIX s, t, st;
  d3dx::D3DXMatrixScaling(&s, 1000, 1000, 1000);
  d3dx::D3DXMatrixTranslation(&t, 5, 2, -7);
  d3dx::D3DXMatrixMultiply(&st, &s, &t);
  EXPECT_TRUE(demo.device().GetTransform(D3DTS_WORLD) == st);
  EXPECT_TRUE(demo.form.D3D.matWorld == s);

  const std::vector<std::string> order{"SetRenderState",  "SetTransform", "MultiplyTransform", "SetVertexShader",
                                       "SetTexture",      "DrawPrimitiveUP", "SetRenderState"};
  EXPECT_EQ(names, order);
  const auto& calls = demo.backend().calls;
  EXPECT_EQ(calls[0].args, (std::vector<std::int64_t>{27, 0}));
  EXPECT_EQ(calls[3].args, (std::vector<std::int64_t>{0x102}));
  EXPECT_EQ(calls[5].args, (std::vector<std::int64_t>{5, 2, 20}));
  EXPECT_EQ(calls[6].args, (std::vector<std::int64_t>{27, 1}));

  // The draw itself ran with blending off and the plane's texture on stage 0.
  ASSERT_EQ(demo.backend().draws.size(), 1u);
  const auto& d = demo.backend().draws[0];
  EXPECT_EQ(d.state.renderStates[D3DRS_ALPHABLENDENABLE], 0u);
  EXPECT_EQ(d.state.textures[0], plane().GetTexture());
  EXPECT_EQ(d.call.vertexCount, 4u);
  // A world point of the quad's far corner: (1, 0, 1) scaled and moved.
  const D3DVECTOR corner = d3dx::D3DXVec3TransformCoord(D3DVECTOR{1, 0, 1}, d.state.world);
  EXPECT_FLOAT_EQ(corner.x, 1005);
  EXPECT_FLOAT_EQ(corner.y, 2);
  EXPECT_FLOAT_EQ(corner.z, 993);
}

TEST_F(PlaneFixture, RenderPlaneBeforeSetTextureGivesTheStageNoTexture) {
  plane().InitPlane(D3DVECTOR{0, 0, 0}, D3DVECTOR{1, 1, 1});
  demo.device().BeginScene();
  plane().RenderPlane(demo.frame());
  demo.device().EndScene();
  ASSERT_EQ(demo.backend().draws.size(), 1u);
  EXPECT_EQ(demo.backend().draws[0].state.textures[0], nullptr);
}

TEST_F(PlaneFixture, AFailedSetTextureKeepsThePreviousTexture) {
  plane().SetTexture(demo.device(), wgtest::AppDir() + "/tex/snow.jpg");
  const auto before = plane().GetTexture();
  ASSERT_NE(before, nullptr);
  EXPECT_THROW(plane().SetTexture(demo.device(), wgtest::AppDir() + "/tex/missing.jpg"), platform::Error);
  EXPECT_EQ(plane().GetTexture(), before);
}

}  // namespace
