// The model mesh on the recording backend: its world transform, the calls of Render, loading that
// never fails, and textures looked up in the application's models folder.
#include "platform/d3dx/Mesh.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"
#include "render/Camera.h"
#include "scene/Mesh.h"
#include "scene/Plane.h"
#include "tests/scene/XFileWriter.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using d3dx::operator==;

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Three triangles, one per material: a material with the tree's bark texture, one naming a file
// that does not exist, and one without a texture.
std::vector<std::uint8_t> ThreeMaterialModel() {
  wgtest::XFileWriter w;
  w.Open("Mesh")
      .Ints({4})
      .Floats({1, 0, 0, 0, 1, 0, 0, 0, 1, 2, 2, 2})
      .Ints({3, 3, 0, 1, 2, 3, 1, 2, 3, 3, 0, 2, 3});
  w.Open("MeshTextureCoords").Ints({4}).Floats({0, 0, 1, 0, 0, 1, 1, 1}).Close();
  w.Open("MeshMaterialList").Ints({3, 3, 0, 1, 2});
  w.Open("Material").Floats({0.25, 0.5, 0.75, 1, 5, 0, 0, 0, 0, 0, 0});
  w.Open("TextureFilename").String("bark.jpg").Close().Close();
  w.Open("Material").Floats({1, 0, 0, 1, 6, 0, 0, 0, 0, 0, 0});
  w.Open("TextureFilename").String("absent.png").Close().Close();
  w.Open("Material").Floats({0, 1, 0, 1, 7, 0, 0, 0, 0, 0, 0}).Close();
  w.Close().Close();
  return w.Text();
}

struct MeshFixture : ::testing::Test {
  wgtest::RecordingDemo demo;
  void SetUp() override { demo.form.D3D.InitD3D(nullptr); }
  scene::Mesh& mesh() { return demo.form.D3D.GetMesh(); }
  Device& dev() { return demo.device(); }
  std::string tree() const { return wgtest::AppDir() + "/models/tree.x"; }
  // Render inside a scene; returns the calls it made.
  std::vector<Call> render() {
    dev().BeginScene();
    demo.backend().calls.clear();
    demo.backend().draws.clear();
    mesh().Render(demo.frame());
    auto calls = demo.backend().calls;
    dev().EndScene();
    return calls;
  }
  static std::vector<std::string> names(const std::vector<Call>& calls) {
    std::vector<std::string> n;
    for (const auto& c : calls) n.push_back(c.name);
    return n;
  }
};

TEST_F(MeshFixture, DemoPlacementPutsModelPointOneZeroZeroAtTenOneThirty) {
  mesh().Load(&dev(), tree());
  mesh().SetPosition(0, 0, 30);
  mesh().SetScale(10, 10, 10);
  mesh().SetPosition(0, 1, 30);
  render();
  const D3DVECTOR p = d3dx::D3DXVec3TransformCoord(D3DVECTOR{1, 0, 0}, dev().GetTransform(D3DTS_WORLD));
  EXPECT_FLOAT_EQ(p.x, 10.0f);
  EXPECT_FLOAT_EQ(p.y, 1.0f);
  EXPECT_FLOAT_EQ(p.z, 30.0f);
  // Every draw of the tree ran under that world, with blending off.
  ASSERT_FALSE(demo.backend().draws.empty());
  for (const auto& d : demo.backend().draws) {
    EXPECT_TRUE(d.state.world == dev().GetTransform(D3DTS_WORLD));
    EXPECT_EQ(d.state.renderStates[D3DRS_ALPHABLENDENABLE], 0u);
  }
  EXPECT_EQ(dev().GetRenderState(D3DRS_ALPHABLENDENABLE), 1u);
}

TEST_F(MeshFixture, InTheRunningDemoTheTreeIsDrawnAtItsOrbitPlacement) {
  wgtest::RecordingDemo running;
  running.startup();
  running.frames(3);
  const DWORD fvf = running.form.D3D.GetMesh().GetMesh()->GetFVF();
  int treeDraws = 0;
  for (const auto& d : running.backend().draws) {
    if (d.indexData.empty() || d.call.fvf != fvf) continue;
    ++treeDraws;
    const D3DVECTOR p = d3dx::D3DXVec3TransformCoord(D3DVECTOR{1, 0, 0}, d.state.world);
    EXPECT_FLOAT_EQ(p.x, 10.0f);
    EXPECT_FLOAT_EQ(p.y, 1.0f);
    EXPECT_FLOAT_EQ(p.z, 30.0f);
  }
  EXPECT_EQ(treeDraws, 3 * running.form.D3D.GetMesh().GetNumMaterials());
}

TEST_F(MeshFixture, CalcWorldSetsTranslationThenMultipliesRotationsAndScaleOnTheLeft) {
  mesh().Load(&dev(), tree());
  mesh().SetPosition(1, 2, 3);
  mesh().SetRotation(0.3f, -0.7f, 1.1f);
  mesh().SetScale(2, 3, 4);
  const auto calls = render();
  D3DMATRIX t, rx, ry, rz, s;
  d3dx::D3DXMatrixTranslation(&t, 1, 2, 3);
  d3dx::D3DXMatrixRotationX(&rx, 0.3f);
  d3dx::D3DXMatrixRotationY(&ry, -0.7f);
  d3dx::D3DXMatrixRotationZ(&rz, 1.1f);
  d3dx::D3DXMatrixScaling(&s, 2, 3, 4);
  ASSERT_GE(calls.size(), 6u);
  const D3DMATRIX* expected[5] = {&t, &rx, &ry, &rz, &s};
  const char* name[5] = {"SetTransform", "MultiplyTransform", "MultiplyTransform", "MultiplyTransform",
                         "MultiplyTransform"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(calls[1 + i].name, name[i]);
    EXPECT_EQ(calls[1 + i].args, (std::vector<std::int64_t>{256}));
    EXPECT_TRUE(calls[1 + i].matrix == *expected[i]) << i;
  }
  // S x Rz x Ry x Rx x T, associated as the device builds it: each new matrix on the left.
  D3DMATRIX w = t, tmp;
  for (const D3DMATRIX* m : {&rx, &ry, &rz, &s}) {
    d3dx::D3DXMatrixMultiply(&tmp, m, &w);
    w = tmp;
  }
  EXPECT_TRUE(dev().GetTransform(D3DTS_WORLD) == w);
}

TEST_F(MeshFixture, LoadResetsTheScaleButKeepsPositionAndRotation) {
  mesh().SetPosition(4, 5, 6);
  mesh().SetRotation(0.1f, 0.2f, 0.3f);
  mesh().SetScale(10, 10, 10);
  mesh().Load(&dev(), tree());
  EXPECT_EQ(mesh().GetScale().x, 1.0f);
  EXPECT_EQ(mesh().GetScale().y, 1.0f);
  EXPECT_EQ(mesh().GetScale().z, 1.0f);
  EXPECT_EQ(mesh().GetPosition().y, 5.0f);
  EXPECT_EQ(mesh().GetRotation().z, 0.3f);
  // A failed load resets it too.
  mesh().SetScale(3, 3, 3);
  mesh().Load(&dev(), wgtest::AppDir() + "/models/none.x");
  EXPECT_EQ(mesh().GetScale().x, 1.0f);
}

TEST_F(MeshFixture, EachMaterialGivesOneTextureMaterialDrawTripleInOrder) {
  const std::string dir = wgtest::ScratchDir("mesh-three");
  WriteFile(dir + "/three.x", ThreeMaterialModel());
  std::filesystem::copy_file(wgtest::AppDir() + "/models/bark.jpg", dir + "/bark.jpg");
  mesh().Load(&dev(), dir + "/three.x");
  ASSERT_EQ(mesh().GetNumMaterials(), 3);
  const auto calls = render();
  const std::vector<std::string> triple{"SetTexture",      "SetMaterial", "SetVertexShader",
                                        "SetStreamSource", "SetIndices",  "DrawIndexedPrimitive"};
  std::vector<std::string> expected{"SetRenderState",    "SetTransform",      "MultiplyTransform",
                                    "MultiplyTransform", "MultiplyTransform", "MultiplyTransform"};
  for (int i = 0; i < 3; ++i) expected.insert(expected.end(), triple.begin(), triple.end());
  expected.push_back("SetRenderState");
  EXPECT_EQ(names(calls), expected);
  EXPECT_EQ(calls.front().args, (std::vector<std::int64_t>{27, 0}));
  EXPECT_EQ(calls.back().args, (std::vector<std::int64_t>{27, 1}));

  // Textures come from the model's own folder; the absent file and the material without a name
  // leave their subsets untextured, and only the absent file is reported.
  const auto& textures = mesh().GetTextures();
  ASSERT_TRUE(textures[0]);
  EXPECT_EQ(textures[0]->source, dir + "/bark.jpg");
  ASSERT_EQ(mesh().LoadErrors().size(), 1u);
  EXPECT_NE(mesh().LoadErrors()[0].find(dir + "/absent.png"), std::string::npos) << mesh().LoadErrors()[0];
  EXPECT_FALSE(textures[1]);
  EXPECT_FALSE(textures[2]);
  EXPECT_EQ(calls[6].args, (std::vector<std::int64_t>{0, 1}));
  EXPECT_EQ(calls[12].args, (std::vector<std::int64_t>{0, 0}));
  EXPECT_EQ(calls[18].args, (std::vector<std::int64_t>{0, 0}));

  const auto& draws = demo.backend().draws;
  ASSERT_EQ(draws.size(), 3u);
  const float diffuseR[3] = {0.25f, 1.0f, 0.0f};
  const float power[3] = {5, 6, 7};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(draws[i].state.textures[0], textures[i]);
    EXPECT_EQ(draws[i].state.material.Diffuse.r, diffuseR[i]);
    EXPECT_EQ(draws[i].state.material.Power, power[i]);
    EXPECT_EQ(draws[i].state.material.Ambient.a, 1.0f);
    EXPECT_EQ(draws[i].state.fvf, static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_TEX1));
    EXPECT_EQ(draws[i].call.primitiveCount, 1u);
    EXPECT_EQ(draws[i].call.stride, 20u);
  }
  // Subset 1 is the face (1, 2, 3): its first corner is the model point (0, 1, 0).
  float y;
  std::memcpy(&y, draws[1].vertexData.data() + draws[1].indexData[0] * 20 + 4, 4);
  EXPECT_EQ(y, 1.0f);
  // The last texture and material stay on the device.
  EXPECT_EQ(dev().GetMaterial().Power, 7.0f);
  EXPECT_FALSE(dev().GetTexture(0));
}

TEST_F(MeshFixture, MissingOrBrokenFileLeavesAnEmptyMeshThatSetsOnlyBlendingAndWorld) {
  const std::string dir = wgtest::ScratchDir("mesh-missing");
  const std::vector<std::uint8_t> whole = ThreeMaterialModel();
  const std::vector<std::uint8_t> truncated(whole.begin(), whole.begin() + 120);
  WriteFile(dir + "/cut.x", truncated);
  WriteFile(dir + "/empty.x", {});
  for (const std::string& file : {dir + "/none.x", dir + "/cut.x", dir + "/empty.x", dir}) {
    SCOPED_TRACE(file);
    mesh().Load(&dev(), file);
    EXPECT_EQ(mesh().GetMesh(), nullptr);
    EXPECT_EQ(mesh().GetNumMaterials(), 0);
    // Why, naming the file: what a user who chose the model is told.
    ASSERT_EQ(mesh().LoadErrors().size(), 1u);
    EXPECT_NE(mesh().LoadErrors()[0].find(file), std::string::npos) << mesh().LoadErrors()[0];
    EXPECT_TRUE(mesh().GetMaterials().empty());
    const auto calls = render();
    EXPECT_EQ(names(calls), (std::vector<std::string>{"SetRenderState", "SetTransform", "MultiplyTransform",
                                                      "MultiplyTransform", "MultiplyTransform",
                                                      "MultiplyTransform", "SetRenderState"}));
    EXPECT_TRUE(demo.backend().draws.empty());
  }
}

TEST_F(MeshFixture, ASecondLoadReplacesTheModelAndAFailedOneEmptiesIt) {
  const std::string dir = wgtest::ScratchDir("mesh-reload");
  WriteFile(dir + "/three.x", ThreeMaterialModel());
  mesh().Load(&dev(), tree());
  const int treeMaterials = mesh().GetNumMaterials();
  EXPECT_GE(treeMaterials, 3);
  mesh().Load(&dev(), dir + "/three.x");
  EXPECT_EQ(mesh().GetNumMaterials(), 3);
  EXPECT_EQ(mesh().GetMesh()->GetNumFaces(), 3u);
  mesh().Load(&dev(), dir + "/gone.x");
  EXPECT_EQ(mesh().GetMesh(), nullptr);
  EXPECT_EQ(mesh().GetNumMaterials(), 0);
}

TEST_F(MeshFixture, TheTreeLoadsWithItsTexturesAndAnUntexturedStar) {
  mesh().Load(&dev(), tree());
  ASSERT_NE(mesh().GetMesh(), nullptr);
  const auto& tex = mesh().GetTextures();
  int textured = 0;
  for (const auto& t : tex) textured += t ? 1 : 0;
  EXPECT_GE(textured, 2);
  EXPECT_LT(textured, mesh().GetNumMaterials());
  EXPECT_EQ(mesh().GetMesh()->GetFVF(), static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1));
}

TEST(MeshStartup, AMissingTreeLetsTheDemoRunWithoutIt) {
  wgtest::RecordingDemo demo(wgtest::AppDirWithout("no-tree", {"models/tree.x"}));
  demo.startup();
  demo.frames(3);
  EXPECT_EQ(demo.form.D3D.GetMesh().GetNumMaterials(), 0);
  for (const auto& d : demo.backend().draws)
    EXPECT_NE(d.call.fvf, static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_DIFFUSE | D3DFVF_TEX1));
  EXPECT_EQ(demo.backend().presents, 3);
}

// Before InitD3D there is no device: asking for it, or for a frame to draw in, names the call that
// asked; RenderFrame fails before it starts the stopwatch; and Load, which never reports a failure,
// given no device leaves an empty model, loaded or not before.
TEST(SceneWithoutADevice, CallsNameThemselvesAndLoadLeavesAnEmptyModel) {
  wgtest::RecordingDemo demo;
  render::modD3D& d3d = demo.form.D3D;
  ASSERT_EQ(d3d.D3DDevice, nullptr);
  auto failure = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const platform::Error& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  const std::string ground = wgtest::AppDir() + "/tex/snow.jpg";
  scene::Plane& plane = d3d.GetPlane();
  plane.InitPlane(D3DVECTOR{0, 0, 0}, D3DVECTOR{1, 1, 1});
  EXPECT_EQ(failure([&] { plane.SetTexture(d3d.DeviceFor("Plane.SetTexture"), ground); }),
            "Plane.SetTexture: no device: InitD3D has not run");
  EXPECT_EQ(plane.GetTexture(), nullptr);
  EXPECT_EQ(failure([&] { plane.RenderPlane(d3d.Frame("Plane.RenderPlane")); }),
            "Plane.RenderPlane: no device: InitD3D has not run");

  scene::Mesh& mesh = d3d.GetMesh();
  mesh.SetPosition(1, 2, 3);
  mesh.SetScale(7, 7, 7);
  mesh.Load(d3d.D3DDevice.get(), wgtest::AppDir() + "/models/tree.x");
  EXPECT_EQ(mesh.GetMesh(), nullptr);
  EXPECT_EQ(mesh.GetNumMaterials(), 0);
  EXPECT_TRUE(mesh.GetMaterials().empty());
  EXPECT_TRUE(mesh.GetTextures().empty());
  EXPECT_EQ(mesh.GetScale().x, 1);
  EXPECT_EQ(mesh.GetScale().z, 1);
  EXPECT_EQ(mesh.GetPosition().y, 2);
  EXPECT_EQ(failure([&] { d3d.RenderFrame(); }), "RenderFrame: no device: InitD3D has not run");
  EXPECT_EQ(demo.form.API.PerfFrequency, 0);  // FrameTimer(-1) never ran

  // With the device, the same objects work: nothing was left half-made.
  d3d.InitD3D(nullptr);
  plane.SetTexture(*d3d.D3DDevice, ground);
  EXPECT_NE(plane.GetTexture(), nullptr);
  mesh.Load(d3d.D3DDevice.get(), wgtest::AppDir() + "/models/tree.x");
  EXPECT_GE(mesh.GetNumMaterials(), 3);
  mesh.Load(nullptr, wgtest::AppDir() + "/models/tree.x");
  EXPECT_EQ(mesh.GetMesh(), nullptr);
  EXPECT_TRUE(mesh.GetTextures().empty());
}

}  // namespace
