// The X file rules that real exporters rely on: type names in any case, references to objects
// anywhere before them, frames that draw referenced meshes, several transform matrices in one
// frame, names that start with a digit, and the default material. Each rule is checked in every
// form of the file where it concerns parsing.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3dx/XFile.h"
#include "tests/scene/XFileWriter.h"

namespace {

using d3dx::XModel;
using wgtest::XFileWriter;

XModel Parse(const std::vector<std::uint8_t>& bytes) {
  return d3dx::ParseXFile(bytes.data(), bytes.size(), "rule.x");
}

std::string Refusal(const std::vector<std::uint8_t>& bytes) {
  try {
    Parse(bytes);
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "loaded";
}

// The file in each of its forms, named for the trace.
std::vector<std::pair<const char*, std::vector<std::uint8_t>>> Forms(const XFileWriter& w) {
  return {{"text", w.Text()},
          {"binary", w.Binary(false)},
          {"binary, 64-bit floats", w.Binary(true)},
          {"compressed text", w.CompressedText()},
          {"compressed binary", w.CompressedBinary()}};
}

// One triangle (1, 0, 0), (0, 1, 0), (0, 0, 1).
void Triangle(XFileWriter& w) {
  w.Ints({3}).Floats({1, 0, 0, 0, 1, 0, 0, 0, 1}).Ints({1, 3, 0, 1, 2});
}

void Material(XFileWriter& w, const std::string& name, float red, const std::string& texture = "") {
  w.Open("Material", name).Floats({red, 0, 0, 1}).Floats({0}).Floats({0, 0, 0}).Floats({0, 0, 0});
  if (!texture.empty()) w.Open("TextureFilename").String(texture).Close();
  w.Close();
}

const d3d::D3DVECTOR& Corner(const XModel& m, std::size_t triangle, int k) {
  return m.vertices[m.indices[3 * triangle + static_cast<std::size_t>(k)]].position;
}

TEST(XFileRules, TypeNamesMatchWithoutRegardToCase) {
  XFileWriter w;
  w.Open("frame", "Root")
      .Open("FRAMETRANSFORMMATRIX")
      .Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 5, 0, 0, 1});
  w.Close().Open("MESH");
  Triangle(w);
  w.Open("meshtexturecoords").Ints({3}).Floats({0, 0, 1, 0, 0, 1}).Close();
  w.Open("MeshNORMALS").Ints({1}).Floats({0, 0, 1}).Ints({1, 3, 0, 0, 0}).Close();
  w.Open("meshMaterialList").Ints({1, 1, 0});
  w.Open("MATERIAL").Floats({0.25, 0.5, 1, 1}).Floats({3}).Floats({0, 0, 0}).Floats({0, 0, 0});
  w.Open("TextureFileName").String("Bark.BMP").Close().Close();
  w.Close().Close().Close();
  for (const auto& [form, bytes] : Forms(w)) {
    SCOPED_TRACE(form);
    const XModel m = Parse(bytes);
    ASSERT_EQ(m.attributes.size(), 1u);
    EXPECT_EQ(Corner(m, 0, 0).x, 6.0f);  // the frame's matrix moved it
    EXPECT_TRUE(m.hasTexCoords);
    EXPECT_TRUE(m.hasNormals);
    ASSERT_EQ(m.materials.size(), 1u);
    EXPECT_EQ(m.materials[0].material.Diffuse.g, 0.5f);
    EXPECT_EQ(m.materials[0].textureFilename, "Bark.BMP");
  }
  // The keyword of a template definition too.
  const XModel t = Parse(XFileWriter::Bytes(
      "xof 0303txt 0032\nTEMPLATE Thing { <01234567-89ab-cdef-0123-456789abcdef> DWORD n; }\n"
      "Template Other { <11234567-89ab-cdef-0123-456789abcdef> [...] }\n"
      "mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n"));
  EXPECT_EQ(t.attributes.size(), 1u);
}

TEST(XFileRules, ReferencesReachNamedObjectsAnywhereBeforeThem) {
  XFileWriter w;
  w.Open("Frame", "Outer");
  Material(w, "Gold", 0.75f, "gold.png");  // a material inside a frame
  w.Open("FrameTransformMatrix").Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 10, 1}).Close();
  w.Open("Mesh", "Tri");
  Triangle(w);
  w.Open("MeshMaterialList").Ints({2, 1, 1});
  Material(w, "Inner", 0.25f);  // a material inside a mesh's list
  w.Ref("Gold").Close().Close().Close();
  w.Open("Mesh", "Other");
  Triangle(w);
  w.Open("MeshMaterialList").Ints({2, 1, 0}).Ref("Gold").Ref("Inner").Close().Close();
  // A mesh a frame refers to is drawn with that frame's transform.
  w.Open("Frame", "Copy");
  w.Open("FrameTransformMatrix").Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 100, 0, 0, 1}).Close();
  w.Ref("Tri").Close();
  for (const auto& [form, bytes] : Forms(w)) {
    SCOPED_TRACE(form);
    const XModel m = Parse(bytes);
    ASSERT_EQ(m.attributes.size(), 3u);
    // Tri inside Outer; Other at the top level; Tri again through Copy, without Outer's matrix.
    EXPECT_EQ(Corner(m, 0, 0).z, 10.0f);
    EXPECT_EQ(Corner(m, 1, 0).x, 1.0f);
    EXPECT_EQ(Corner(m, 1, 0).z, 0.0f);
    EXPECT_EQ(Corner(m, 2, 0).x, 101.0f);
    EXPECT_EQ(Corner(m, 2, 0).z, 0.0f);
    ASSERT_EQ(m.materials.size(), 6u);
    const float reds[6] = {0.25f, 0.75f, 0.75f, 0.25f, 0.25f, 0.75f};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(m.materials[i].material.Diffuse.r, reds[i]) << i;
    EXPECT_EQ(m.materials[1].textureFilename, "gold.png");
    EXPECT_EQ(m.materials[2].textureFilename, "gold.png");
    // Each instance's faces use its own copy of the materials.
    EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{1, 2, 5}));
  }
}

TEST(XFileRules, AReferenceReachesOnlyObjectsCompletedBeforeIt) {
  const std::string h = "xof 0303txt 0032\n";
  const std::string tri = "3; 1;0;0;, 0;1;0;, 0;0;1;; 1; 3;0,1,2;;";
  // Forward, and into the frame that holds the reference: neither is complete yet.
  EXPECT_NE(Refusal(XFileWriter::Bytes(h + "Frame A { {Later} }\nMesh Later { " + tri + " }"))
                .find("Frame: no data object named \"Later\" before it (rule.x)"),
            std::string::npos);
  EXPECT_NE(Refusal(XFileWriter::Bytes(h + "Frame Self { Mesh { " + tri + " } {Self} }")).find("\"Self\""),
            std::string::npos);
  // A reference inside a type the model does not use is not followed; one that names an object of
  // such a type is passed over; so is a reference by GUID alone.
  const XModel m = Parse(XFileWriter::Bytes(h + "AnimTicksPerSecond Ticks { 24; }\nMesh M { " + tri +
                                            " }\nAnimationSet { Animation { {Nowhere} } }\nFrame { {Ticks} { "
                                            "<01234567-89ab-cdef-0123-456789abcdef> } {M} }"));
  EXPECT_EQ(m.attributes.size(), 2u);
}

TEST(XFileRules, ReferencesThatMultiplyThemselvesAreBounded) {
  // Each frame draws the one before it twice: 2^30 meshes from a few hundred bytes.
  std::string text = "xof 0303txt 0032\nFrame F0 { Mesh { 0;; 0;; } }\n";
  for (int i = 1; i <= 30; ++i)
    text += "Frame F" + std::to_string(i) + " { {F" + std::to_string(i - 1) + "} {F" + std::to_string(i - 1) +
            "} }\n";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(Refusal(XFileWriter::Bytes(text)).find("frames and meshes once references are followed"),
            std::string::npos);
  // Stopped after about a million instances, not a billion.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST(XFileRules, AModelMayDrawAsManyTrianglesAsAnyModelAndNoMore) {
  // A 1024-triangle mesh, each frame drawing the one before twice: frame 11 draws it 2048 times,
  // 2 097 152 triangles, the most a model may draw; one copy more is refused before it is added.
  std::string mesh = "3; 0;0;0;, 1;0;0;, 0;1;0;; 1024; ";
  for (int i = 0; i < 1024; ++i) mesh += std::string("3;0,1,2;") + (i + 1 < 1024 ? "," : ";");
  std::string text = "xof 0303txt 0032\nHeader {\nFrame F0 { Mesh { " + mesh + " } }\n";
  for (int i = 1; i <= 11; ++i)
    text += "Frame F" + std::to_string(i) + " { {F" + std::to_string(i - 1) + "} {F" + std::to_string(i - 1) +
            "} }\n";
  text += "}\n";
  EXPECT_EQ(Parse(XFileWriter::Bytes(text + "Frame Top { {F11} }\n")).attributes.size(), d3dx::kMaxModelTriangles);
  EXPECT_NE(Refusal(XFileWriter::Bytes(text + "Frame Top { {F11} {F0} }\n"))
                .find("more than 2097152 triangles in the model"),
            std::string::npos);
}

TEST(XFileRules, FramesThatReferencesChainAreBoundedInDepth) {
  // Frames kept inside an object of another type are drawn only where a reference names them; a
  // chain of them nests as deep as it is long.
  auto chain = [](int n) {
    std::string text =
        "xof 0303txt 0032\nHeader {\nFrame F0 { Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; } }\n";
    for (int i = 1; i < n; ++i)
      text += "Frame F" + std::to_string(i) + " { {F" + std::to_string(i - 1) + "} }\n";
    return text + "}\nFrame Top { {F" + std::to_string(n - 1) + "} }\n";
  };
  EXPECT_EQ(Parse(XFileWriter::Bytes(chain(d3dx::kMaxXNesting - 1))).attributes.size(), 1u);
  EXPECT_NE(Refusal(XFileWriter::Bytes(chain(100000)))
                .find("frames nested more than 64 deep once references are followed"),
            std::string::npos);
}

TEST(XFileRules, SeveralTransformMatricesInOneFrameNestInFileOrder) {
  // A quarter turn about Z, then a move along X: the second matrix acts inside the first, as a
  // child frame's would, so (1, 0, 0) moves to (11, 0, 0) and turns to (0, 11, 0). A mesh between
  // the two matrices only turns.
  XFileWriter w;
  w.Open("Frame")
      .Open("FrameTransformMatrix")
      .Floats({0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})
      .Close();
  w.Open("Mesh");
  Triangle(w);
  w.Close();
  w.Open("FrameTransformMatrix").Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 0, 0, 1}).Close();
  w.Open("Mesh");
  Triangle(w);
  w.Close().Close();
  for (const auto& [form, bytes] : Forms(w)) {
    SCOPED_TRACE(form);
    const XModel m = Parse(bytes);
    ASSERT_EQ(m.attributes.size(), 2u);
    EXPECT_NEAR(Corner(m, 0, 0).x, 0.0f, 1e-6f);
    EXPECT_EQ(Corner(m, 0, 0).y, 1.0f);
    EXPECT_NEAR(Corner(m, 1, 0).x, 0.0f, 1e-6f);
    EXPECT_EQ(Corner(m, 1, 0).y, 11.0f);
    EXPECT_EQ(Corner(m, 1, 1).x, -1.0f);  // (0, 1, 0) moves to (10, 1, 0) and turns to (-1, 10, 0)
    EXPECT_EQ(Corner(m, 1, 1).y, 10.0f);
  }
}

TEST(XFileRules, NamesMayStartWithADigitWhileNumbersStayNumbers) {
  const XModel m =
      Parse(XFileWriter::Bytes("xof 0302txt 0032\n"
                               "Material 0Red { 1;0;0;1;; 0; 0;0;0;; 0;0;0;; }\n"
                               "Frame 1Box {\n"
                               "  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 0,2e1,0,1;; }\n"
                               "  Mesh 2Tri-3.x { 3; 1e2;0;0;, 0;1.5;0;, 0;0;-2;; 1; 3;0,1,2;;\n"
                               "    MeshMaterialList { 1; 1; 0;; {0Red} } }\n"
                               "}\n"));
  ASSERT_EQ(m.attributes.size(), 1u);
  EXPECT_EQ(Corner(m, 0, 0).x, 100.0f);
  EXPECT_EQ(Corner(m, 0, 0).y, 20.0f);
  EXPECT_EQ(Corner(m, 0, 1).y, 21.5f);
  EXPECT_EQ(Corner(m, 0, 2).z, -2.0f);
  ASSERT_EQ(m.materials.size(), 1u);
  EXPECT_EQ(m.materials[0].material.Diffuse.r, 1.0f);
}

void ExpectDefaultMaterial(const d3dx::XMaterial& x) {
  const d3d::D3DMATERIAL8& m = x.material;
  const float expected[17] = {0.5f, 0.5f, 0.5f, 0, 0, 0, 0, 0, 0.5f, 0.5f, 0.5f, 0, 0, 0, 0, 0, 0};
  const float actual[17] = {m.Diffuse.r,  m.Diffuse.g,  m.Diffuse.b,  m.Diffuse.a,  m.Ambient.r,
                            m.Ambient.g,  m.Ambient.b,  m.Ambient.a,  m.Specular.r, m.Specular.g,
                            m.Specular.b, m.Specular.a, m.Emissive.r, m.Emissive.g, m.Emissive.b,
                            m.Emissive.a, m.Power};
  for (int i = 0; i < 17; ++i) EXPECT_EQ(actual[i], expected[i]) << i;
  EXPECT_EQ(x.textureFilename, "");
}

TEST(XFileRules, AMeshThatNamesNoMaterialGetsD3DXsDefaultOne) {
  // Without a list, with a list of no materials (its face indexes say nothing), and with one.
  XFileWriter w;
  w.Open("Mesh");
  Triangle(w);
  w.Close().Open("Mesh");
  Triangle(w);
  w.Open("MeshMaterialList").Ints({0, 1, 0}).Close().Close();
  w.Open("Mesh");
  Triangle(w);
  w.Open("MeshMaterialList").Ints({0, 0}).Close().Close();
  w.Open("Mesh");
  Triangle(w);
  w.Open("MeshMaterialList").Ints({1, 1, 0});
  Material(w, "", 1.0f);
  w.Close().Close();
  for (const auto& [form, bytes] : Forms(w)) {
    SCOPED_TRACE(form);
    const XModel m = Parse(bytes);
    ASSERT_EQ(m.materials.size(), 4u);
    for (int i = 0; i < 3; ++i) ExpectDefaultMaterial(m.materials[i]);
    EXPECT_EQ(m.materials[3].material.Diffuse.r, 1.0f);
    EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{0, 1, 2, 3}));
  }
}

TEST(XFileRules, AClosingBraceWithNothingOpenIsPassedOver) {
  // As an exporter left one at the end of a file.
  XFileWriter w;
  w.Open("Frame", "Root").Open("Mesh");
  Triangle(w);
  w.Close().Close().Close();
  for (const auto& [form, bytes] : Forms(w)) {
    SCOPED_TRACE(form);
    EXPECT_EQ(Parse(bytes).attributes.size(), 1u);
  }
}

}  // namespace
