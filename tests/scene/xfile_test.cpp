// The X file loader: the same model in every file form, the details of the format, and bad files.
#include "platform/d3dx/XFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "tests/support/RecordingBackend.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Mesh.h"
#include "platform/d3dx/Texture.h"
#include "tests/scene/XFileWriter.h"
#include "tests/support/Harness.h"

namespace {

using namespace d3d;
using d3dx::XModel;
using wgtest::XFileWriter;

XModel Parse(const std::vector<std::uint8_t>& bytes, const std::string& name = "test.x") {
  return d3dx::ParseXFile(bytes.data(), bytes.size(), name);
}
XModel ParseText(const std::string& text) {
  return Parse(XFileWriter::Bytes(text));
}

// Expects a clean failure that names the file.
void ExpectFails(const std::vector<std::uint8_t>& bytes, const std::string& cause) {
  try {
    Parse(bytes, "bad.x");
    ADD_FAILURE() << "no error; expected " << cause;
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("bad.x"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(cause), std::string::npos) << e.what();
  }
}
void ExpectTextFails(const std::string& text, const std::string& cause) {
  ExpectFails(XFileWriter::Bytes(text), cause);
}

// A quad (material 1) and a triangle (material 0) over five vertices, with texture coordinates,
// one named top-level material referenced from the list and one inline.
XFileWriter SmallModel() {
  XFileWriter w;
  w.Open("Material", "Bark")
      .Floats({0.5, 0.25, 0.125, 1})
      .Floats({8})
      .Floats({0.1, 0.2, 0.3})
      .Floats({0, 0, 0});
  w.Open("TextureFilename").String("bark.jpg").Close().Close();
  w.Open("Frame", "Root").Open("FrameTransformMatrix");
  w.Floats({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}).Close();
  w.Open("Mesh", "Small");
  w.Ints({5}).Floats({0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 0.5, 2, 0.25});
  w.Ints({2}).Ints({4, 0, 1, 2, 3}).Ints({3, 3, 2, 4});
  w.Open("MeshTextureCoords").Ints({5}).Floats({0, 0, 1, 0, 1, 1, 0, 1, 0.5, -1.5}).Close();
  w.Open("MeshMaterialList").Ints({2, 2, 1, 0});
  w.Open("Material", "Leaf")
      .Floats({0, 1, 0, 0.5})
      .Floats({2})
      .Floats({1, 1, 1})
      .Floats({0.5, 0.5, 0.5})
      .Close();
  w.Ref("Bark").Close();
  w.Close().Close();
  return w;
}

struct Tri {
  D3DVECTOR p[3];
  float uv[3][2];
  std::uint32_t material;
};
std::vector<Tri> Triangles(const XModel& m) {
  std::vector<Tri> out;
  for (std::size_t f = 0; f < m.attributes.size(); ++f) {
    Tri t{};
    for (int k = 0; k < 3; ++k) {
      const auto& v = m.vertices[m.indices[3 * f + k]];
      t.p[k] = v.position;
      t.uv[k][0] = v.tu;
      t.uv[k][1] = v.tv;
    }
    t.material = m.attributes[f];
    out.push_back(t);
  }
  return out;
}

void ExpectSmallModel(const XModel& m, const char* form) {
  SCOPED_TRACE(form);
  ASSERT_EQ(m.attributes.size(), 3u);
  const auto tris = Triangles(m);
  // The quad becomes the fan (0, 1, 2), (0, 2, 3); texture V is kept as stored.
  const float expected[3][3][5] = {{{0, 0, 0, 0, 0}, {1, 0, 0, 1, 0}, {1, 1, 0, 1, 1}},
                                   {{0, 0, 0, 0, 0}, {1, 1, 0, 1, 1}, {0, 1, 0, 0, 1}},
                                   {{0, 1, 0, 0, 1}, {1, 1, 0, 1, 1}, {0.5f, 2, 0.25f, 0.5f, -1.5f}}};
  const std::uint32_t materials[3] = {1, 1, 0};
  for (int f = 0; f < 3; ++f) {
    EXPECT_EQ(tris[f].material, materials[f]);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(tris[f].p[k].x, expected[f][k][0]);
      EXPECT_EQ(tris[f].p[k].y, expected[f][k][1]);
      EXPECT_EQ(tris[f].p[k].z, expected[f][k][2]);
      EXPECT_EQ(tris[f].uv[k][0], expected[f][k][3]);
      EXPECT_EQ(tris[f].uv[k][1], expected[f][k][4]);
    }
  }
  ASSERT_EQ(m.materials.size(), 2u);
  const auto& leaf = m.materials[0].material;
  EXPECT_EQ(leaf.Diffuse.g, 1.0f);
  EXPECT_EQ(leaf.Diffuse.a, 0.5f);
  EXPECT_EQ(leaf.Power, 2.0f);
  EXPECT_EQ(leaf.Emissive.r, 0.5f);
  EXPECT_EQ(leaf.Emissive.a, 1.0f);
  EXPECT_EQ(leaf.Specular.a, 1.0f);
  EXPECT_EQ(leaf.Ambient.r, 0.0f);
  EXPECT_EQ(leaf.Ambient.a, 1.0f);
  EXPECT_EQ(m.materials[0].textureFilename, "");
  const auto& bark = m.materials[1].material;
  EXPECT_EQ(bark.Diffuse.r, 0.5f);
  EXPECT_EQ(bark.Diffuse.g, 0.25f);
  EXPECT_EQ(bark.Diffuse.b, 0.125f);
  EXPECT_EQ(bark.Power, 8.0f);
  EXPECT_EQ(bark.Specular.g, 0.2f);
  EXPECT_EQ(m.materials[1].textureFilename, "bark.jpg");
  EXPECT_TRUE(m.hasTexCoords);
  EXPECT_FALSE(m.hasNormals);
  EXPECT_FALSE(m.hasColors);
}

TEST(XFileForms, TextBinaryAndCompressedGiveTheSameModel) {
  const XFileWriter w = SmallModel();
  ExpectSmallModel(Parse(w.Text()), "text");
  ExpectSmallModel(Parse(w.Binary(false)), "binary, 32-bit floats");
  ExpectSmallModel(Parse(w.Binary(true)), "binary, 64-bit floats");
  ExpectSmallModel(Parse(w.CompressedText()), "compressed text");
  ExpectSmallModel(Parse(w.CompressedBinary(false)), "compressed binary");
  ExpectSmallModel(Parse(w.CompressedBinary(true, 4096)), "compressed binary, one block");
}

TEST(XFileForms, CompressedBlocksReachBackIntoThePreviousBlock) {
  // A body that repeats itself: each later block is mostly back-references into the one before.
  XFileWriter w;
  w.Open("Mesh");
  std::vector<double> pos;
  for (int i = 0; i < 300; ++i) pos.insert(pos.end(), {0.125, 0.25, 0.5});
  w.Ints({300}).Floats(pos).Ints({1}).Ints({3, 0, 1, 299}).Close();
  const auto packed = w.CompressedText(256);
  const auto plain = w.Text();
  EXPECT_LT(packed.size() * 4, plain.size());
  const XModel m = Parse(packed);
  ASSERT_EQ(m.attributes.size(), 1u);
  EXPECT_EQ(m.vertices[m.indices[2]].position.z, 0.5f);

  // A block without its signature, or data short of the declared total, is refused.
  auto broken = packed;
  const std::size_t second = 16 + 4 + 6 + (broken[16 + 4 + 2] | (broken[16 + 4 + 3] << 8)) - 2;
  broken[second + 4] = 'X';
  ExpectFails(broken, "CK");
  auto shortTotal = packed;
  shortTotal[16] = static_cast<std::uint8_t>(shortTotal[16] - 1);
  ExpectFails(shortTotal, "declared size");
}

TEST(XFileDetails, FloatsAreReadExactly) {
  // Halfway between 1 and the next float lies 1 + 2^-24; this decimal is a hair above it, so the
  // float is the upper neighbour, though rounding through a double would land on the tie and go to 1.
  const XModel t = ParseText(
      "xof 0303txt 0032\nMesh { 2; 1.0000000596046448; 0.1; -2.5e-3;, 3e2; 1E-50; 7;; 1; 3; 0, 1, 1;; }");
  EXPECT_EQ(t.vertices[0].position.x, std::nextafter(1.0f, 2.0f));
  EXPECT_EQ(t.vertices[0].position.y, 0.1f);
  EXPECT_EQ(t.vertices[0].position.z, -0.0025f);
  EXPECT_EQ(t.vertices[1].position.x, 300.0f);
  EXPECT_EQ(t.vertices[1].position.y, 0.0f);
  EXPECT_EQ(t.vertices[1].position.z, 7.0f);

  // Binary 64-bit floats are stored doubles, each rounded once to float.
  XFileWriter w;
  w.Open("Mesh").Ints({3}).Floats({1.0000000596046448, 0.1, 1e-3, 16777217.0, -0.0, 3.4e38, 0, 0, 0});
  w.Ints({1, 3, 0, 1, 2}).Close();
  const XModel b = Parse(w.Binary(true));
  ASSERT_EQ(b.vertices.size(), 3u);
  EXPECT_EQ(b.vertices[0].position.x, static_cast<float>(1.0000000596046448));
  EXPECT_EQ(b.vertices[0].position.y, 0.1f);
  EXPECT_EQ(b.vertices[0].position.z, 1e-3f);
  EXPECT_EQ(b.vertices[1].position.x, 16777216.0f);
  EXPECT_TRUE(std::signbit(b.vertices[1].position.y));
  EXPECT_EQ(b.vertices[1].position.z, 3.4e38f);
}

TEST(XFileDetails, NamedMaterialsResolveInTheOrderOfTheReferences) {
  XFileWriter w;
  w.Open("Material", "Red").Floats({1, 0, 0, 1, 1, 0, 0, 0, 0, 0, 0}).Close();
  w.Open("Material", "Blue").Floats({0, 0, 1, 1, 1, 0, 0, 0, 0, 0, 0});
  w.Open("TextureFilename").String("blue.png").Close().Close();
  w.Open("Mesh").Ints({3}).Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).Ints({2, 3, 0, 1, 2, 3, 2, 1, 0});
  w.Open("MeshMaterialList").Ints({3, 2, 2, 0}).Ref("Blue");
  w.Open("Material").Floats({0, 1, 0, 1, 1, 0, 0, 0, 0, 0, 0}).Close();
  w.Ref("Red").Close().Close();
  for (const auto& bytes : {w.Text(), w.Binary()}) {
    const XModel m = Parse(bytes);
    ASSERT_EQ(m.materials.size(), 3u);
    EXPECT_EQ(m.materials[0].material.Diffuse.b, 1.0f);
    EXPECT_EQ(m.materials[0].textureFilename, "blue.png");
    EXPECT_EQ(m.materials[1].material.Diffuse.g, 1.0f);
    EXPECT_EQ(m.materials[2].material.Diffuse.r, 1.0f);
    EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{2, 0}));
  }
  ExpectTextFails(
      "xof 0303txt 0032 Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;; "
      "{Nowhere} } }",
      "no data object named \"Nowhere\" before it");
}

TEST(XFileDetails, FramesComposeAndATopLevelMeshKeepsTheIdentity) {
  // Outer frame moves by (10, 0, 0); the inner one scales by 2 before it. A mesh of the outer
  // frame before its matrix keeps the parent's (identity) transform.
  const std::string oneTri = "3; 1;0;0;, 0;1;0;, 0;0;1;; 1; 3;0,1,2;;";
  const XModel m = ParseText(
      "xof 0303txt 0032\n"
      "Mesh Top { " +
      oneTri +
      " }\n"
      "Frame Outer {\n"
      "  Mesh Before { " +
      oneTri +
      " }\n"
      "  FrameTransformMatrix { 1,0,0,0, 0,1,0,0, 0,0,1,0, 10,0,0,1;; }\n"
      "  Mesh After { " +
      oneTri +
      " }\n"
      "  Frame Inner {\n"
      "    FrameTransformMatrix { 2,0,0,0, 0,2,0,0, 0,0,2,0, 0,0,0,1;; }\n"
      "    Mesh Deep { " +
      oneTri +
      " }\n"
      "  }\n"
      "}\n");
  ASSERT_EQ(m.attributes.size(), 4u);
  const auto tris = Triangles(m);
  const float x0[4] = {1, 1, 11, 12};  // first corner (1, 0, 0) of each mesh
  const float y1[4] = {1, 1, 1, 2};    // second corner (0, 1, 0)
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(tris[i].p[0].x, x0[i]) << i;
    EXPECT_EQ(tris[i].p[1].y, y1[i]) << i;
  }
  // A mesh without a material list gets a default material of its own.
  EXPECT_EQ(m.materials.size(), 4u);
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{0, 1, 2, 3}));
}

TEST(XFileDetails, TextureFilenameKeepsItsBytesWithEscapedBackslashesJoined) {
  const XModel m = ParseText(
      "xof 0303txt 0032\n"
      "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;\n"
      "  MeshMaterialList { 2; 1; 0;;\n"
      "    Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"C:\\\\tex\\\\bark tree.JPG\"; } }\n"
      "    Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; TextureFilename { \"a\\nb\\\\\\\\c\"; } }\n"
      "  }\n}\n");
  ASSERT_EQ(m.materials.size(), 2u);
  EXPECT_EQ(m.materials[0].textureFilename, "C:\\tex\\bark tree.JPG");
  EXPECT_EQ(m.materials[1].textureFilename, "a\\nb\\\\c");
  // Binary strings are taken byte for byte.
  XFileWriter w;
  w.Open("Mesh").Ints({3}).Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).Ints({1, 3, 0, 1, 2});
  w.Open("MeshMaterialList").Ints({1, 1, 0}).Open("Material").Floats({1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
  w.Open("TextureFilename").String("sub\\\\x.png").Close().Close().Close().Close();
  EXPECT_EQ(Parse(w.Binary()).materials[0].textureFilename, "sub\\\\x.png");
}

TEST(XFileDetails, PolygonsBecomeFansFromTheirFirstVertex) {
  const XModel m = ParseText(
      "xof 0303txt 0032\nMesh { 6; 0;0;0;, 1;0;0;, 2;0;0;, 3;0;0;, 4;0;0;, 5;0;0;;\n"
      " 2; 5; 4,3,2,1,0;, 3; 5,4,3;;\n"
      " MeshMaterialList { 2; 2; 1, 0;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }"
      " Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }");
  std::vector<float> corners;
  for (std::uint32_t i : m.indices) corners.push_back(m.vertices[i].position.x);
  EXPECT_EQ(corners, (std::vector<float>{4, 3, 2, 4, 2, 1, 4, 1, 0, 5, 4, 3}));
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{1, 1, 1, 0}));
}

TEST(XFileDetails, ShortFaceIndexListsRepeatTheLastMaterial) {
  const XModel m = ParseText(
      "xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 3; 3;0,1,2;, 3;0,1,2;, 3;0,1,2;;\n"
      " MeshMaterialList { 2; 1; 1;; Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }"
      " Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } } }");
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{1, 1, 1}));
}

TEST(XFileDetails, NormalsAndVertexColoursJoinTheVertexFormat) {
  XFileWriter w;
  w.Open("Frame")
      .Open("FrameTransformMatrix")
      .Floats({0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1})
      .Close();
  w.Open("Mesh").Ints({3}).Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).Ints({1, 3, 0, 1, 2});
  // Two normals over three corners: corners 0 and 2 share normal 1.
  w.Open("MeshNormals").Ints({2}).Floats({0, 0, 1, 1, 0, 0}).Ints({1, 3, 1, 0, 1}).Close();
  w.Open("MeshVertexColors").Ints({1}).Ints({2}).Floats({1, 0.5, 0, 1}).Close();
  w.Close().Close();
  const XModel m = Parse(w.Binary());
  EXPECT_TRUE(m.hasNormals);
  EXPECT_TRUE(m.hasColors);
  ASSERT_EQ(m.vertices.size(), 3u);
  // The frame turns +X into +Y, and the normals with it.
  EXPECT_EQ(m.vertices[1].position.y, 1.0f);
  EXPECT_EQ(m.vertices[1].normal.z, 1.0f);
  EXPECT_EQ(m.vertices[0].normal.y, 1.0f);
  EXPECT_EQ(m.vertices[0].color, 0xFFFFFFFFu);
  EXPECT_EQ(m.vertices[2].color, D3DColorARGB(255, 255, 128, 0));

  Device dev(std::make_unique<RecordingBackend>());
  d3dx::D3DXMesh mesh(dev, m, d3dx::D3DXMESH_MANAGED);
  EXPECT_EQ(mesh.GetFVF(), static_cast<DWORD>(D3DFVF_XYZ | D3DFVF_NORMAL | D3DFVF_DIFFUSE));
  EXPECT_EQ(mesh.GetNumBytesPerVertex(), 28u);
  EXPECT_EQ(mesh.GetVertex(2).color, D3DColorARGB(255, 255, 128, 0));
}

TEST(XFileDetails, TemplatesAndUnknownObjectsAreSkippedByTheirBraces) {
  const XModel m = ParseText(
      "xof 0303txt 0032\n"
      "template Vector { <3D82AB5E-62DA-11cf-AB39-0020AF71E433> FLOAT x; FLOAT y; FLOAT z; }\n"
      "template MeshMaterialList { <F6F23F42-7686-11cf-8F52-0040333594A3> DWORD nMaterials;"
      " array DWORD faceIndexes[nFaceIndexes]; [Material <3D82AB4D-62DA-11cf-AB39-0020AF71E433>] }\n"
      "# a comment { with a brace\n"
      "AnimationSet Walk { Animation { {Root} AnimationKey { 0; 1; 0; 4; 1.5, 2, 3, 4;;; } } }\n"
      "Mesh <01234567-89AB-CDEF-0123-456789ABCDEF> { 3; 0;0;0;, 1;0;0;, 0;1;0;; // trailing\n"
      " 1; 3;0,1,2;; VertexDuplicationIndices { 3; 3; 0, 1, 2;; } }\n");
  EXPECT_EQ(m.attributes.size(), 1u);
}

TEST(XFileBadInput, BrokenCountsAndIndicesFailCleanly) {
  const std::string h = "xof 0303txt 0032\n";
  const std::string tri = "3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;;";
  const std::string mat = "Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; }";
  ExpectTextFails(h + "Mesh { " + tri + " MeshMaterialList { 1; 1; 0;; } }", "no Material objects");
  ExpectTextFails(h + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,3;; }", "face vertex index 3");
  ExpectTextFails(h + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 2;0,1;; }", "fewer than three");
  ExpectTextFails(h + "Mesh { " + tri + " MeshNormals { 1; 0;0;1;; 1; 3;0,0,1;; } }", "normal index 1");
  ExpectTextFails(h + "Mesh { " + tri + " MeshNormals { 1; 0;0;1;; 1; 4;0,0,0,0;; } }", "corner count");
  ExpectTextFails(h + "Mesh { " + tri +
                      " SkinWeights { \"Bone\"; 2; 0, 3; 0.5, 0.5; 1,0,0,0,0,1,0,0,0,0,1,0,0,0,0,1;; } }",
                  "SkinWeights: vertex index 3");
  ExpectTextFails(h + "Mesh { " + tri + " MeshVertexColors { 1; 5; 1;1;1;1;;; } }", "vertex index 5");
  ExpectTextFails(h + "Mesh { " + tri + " MeshTextureCoords { 2; 0;0;, 1;1;; } }", "nTextureCoords");
  ExpectTextFails(h + "Mesh { " + tri + " MeshMaterialList { 1; 1; 1;; " + mat + " } }", "material index 1");
  ExpectTextFails(h + "Mesh { " + tri + " MeshMaterialList { 2; 1; 0;; " + mat + " } }", "nMaterials 2");
  ExpectTextFails(h + "Mesh { 4000000000; 0;0;0;; 0; }", "exceeds the data");
  ExpectTextFails(h + "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 4294967295; }", "exceeds the data");
  ExpectTextFails(h + "Mesh { -1; }", "whole number");
  ExpectTextFails(h + "Mesh { 1.5; }", "whole number");
  ExpectTextFails(h + "Mesh { 1; 1e39; 0; 0;; 0;; }", "range");
  ExpectTextFails(h + "Mesh { " + tri, "ends inside");
  ExpectTextFails(h + "Mesh { \"open", "unterminated string");
  ExpectTextFails("xof 0303txt 0016 Mesh {}", "float size");
  ExpectTextFails("xof 0303zzz 0032 Mesh {}", "unknown format");
  ExpectTextFails("xif 0303txt 0032", "not an X file");
  ExpectTextFails("xof 0303", "header");

  // Binary counts larger than the bytes that follow are refused before anything is read.
  std::vector<std::uint8_t> b = XFileWriter::WithHeader("bin ", false, {});
  XFileWriter::W16(b, 1);
  XFileWriter::W32(b, 4);
  for (char c : std::string("Mesh")) b.push_back(static_cast<std::uint8_t>(c));
  XFileWriter::W16(b, 0x0A);
  auto list = b;
  XFileWriter::W16(list, 7);
  XFileWriter::W32(list, 0x40000000);
  XFileWriter::W32(list, 0);
  ExpectFails(list, "runs past the end");
  auto name = b;
  XFileWriter::W16(name, 1);
  XFileWriter::W32(name, 0xFFFFFFFF);
  ExpectFails(name, "runs past the end");
  auto token = b;
  XFileWriter::W16(token, 0x99);
  ExpectFails(token, "unknown binary token");
}

TEST(XFileBadInput, DeepNestingIsRefusedAndModerateNestingLoads) {
  auto nested = [](int depth) {
    std::string s = "xof 0303txt 0032\n";
    for (int i = 0; i < depth - 1; ++i) s += "Frame {\n";
    s += "Mesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n";
    for (int i = 0; i < depth - 1; ++i) s += "}\n";
    return s;
  };
  EXPECT_EQ(ParseText(nested(d3dx::kMaxXNesting)).attributes.size(), 1u);
  ExpectTextFails(nested(d3dx::kMaxXNesting + 1), "nested");
  ExpectTextFails("xof 0303txt 0032\n" + std::string(100000, '{'), "top level");
  std::string frames = "xof 0303txt 0032\n";
  for (int i = 0; i < 100000; ++i) frames += "Frame {";
  ExpectTextFails(frames, "nested");
}

// Every prefix and many single-byte changes of a file load or fail with platform::Error, nothing else.
void Mangle(const std::vector<std::uint8_t>& file, std::size_t prefixStep, int changes = 3000) {
  std::size_t loaded = 0;
  for (std::size_t n = 0; n <= file.size(); n += (n < 64 ? 1 : prefixStep)) {
    std::vector<std::uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
    try {
      Parse(cut);
      ++loaded;
    } catch (const platform::Error&) {
    }
  }
  std::uint32_t seed = 12345;
  for (int i = 0; i < changes; ++i) {
    auto bent = file;
    for (int k = 0; k < 1 + i % 4; ++k) {
      seed = seed * 1664525u + 1013904223u;
      bent[seed % bent.size()] = static_cast<std::uint8_t>(seed >> 24);
    }
    try {
      Parse(bent);
      ++loaded;
    } catch (const platform::Error&) {
    }
  }
  EXPECT_GT(loaded, 0u);
}

TEST(XFileBadInput, TruncatedAndGarbledFilesNeverCrash) {
  const XFileWriter w = SmallModel();
  Mangle(w.Text(), 1);
  Mangle(w.Binary(false), 1);
  Mangle(w.Binary(true), 1);
  Mangle(w.CompressedText(), 1);
  Mangle(w.CompressedBinary(), 1);
  Mangle(d3dx::ReadFile("test", wgtest::AppDir() + "/models/tree.x"), 997, 200);
}

TEST(D3DXMesh, SubsetsDrawTheirOwnFacesInRunsOf16BitIndices) {
  // 70 000 separate triangles in one subset and one triangle in another: more vertices than one
  // 16-bit draw can address.
  XModel m;
  constexpr std::uint32_t kTris = 70000;
  for (std::uint32_t t = 0; t < kTris + 1; ++t) {
    for (int k = 0; k < 3; ++k) {
      d3dx::XVertex v;
      v.position = D3DVECTOR{static_cast<float>(t), static_cast<float>(k), 0};
      m.vertices.push_back(v);
      m.indices.push_back(3 * t + static_cast<std::uint32_t>(k));
    }
    m.attributes.push_back(t == 5 ? 1 : 0);
  }
  auto backend = std::make_unique<RecordingBackend>();
  RecordingBackend& rec = *backend;
  Device dev(std::move(backend));
  d3dx::D3DXMesh mesh(dev, m, d3dx::D3DXMESH_MANAGED);
  // The buffers are made and written once, with the mesh: each run's own vertices, its indices.
  EXPECT_EQ(rec.callNames(), (std::vector<std::string>{"CreateVertexBuffer", "CreateIndexBuffer"}));
  ASSERT_TRUE(mesh.GetVertexBuffer() && mesh.GetIndexBuffer());
  EXPECT_EQ(mesh.GetVertexBuffer()->Length(), 3 * (kTris + 1) * 12);
  EXPECT_EQ(mesh.GetIndexBuffer()->Length(), 3 * (kTris + 1) * 2);
  EXPECT_EQ(mesh.GetFVF(), static_cast<DWORD>(D3DFVF_XYZ));
  EXPECT_EQ(mesh.GetNumFaces(), kTris + 1);
  EXPECT_EQ(mesh.GetSubsetFaceCount(0), kTris);
  EXPECT_EQ(mesh.GetSubsetFaceCount(1), 1u);
  EXPECT_EQ(mesh.GetSubsetFaceCount(7), 0u);
  dev.BeginScene();
  mesh.DrawSubset(0);
  std::size_t faces = 0;
  std::set<float> seen;
  for (const auto& d : rec.draws) {
    EXPECT_EQ(d.call.type, D3DPT_TRIANGLELIST);
    EXPECT_LE(d.call.vertexCount, 65535u);
    faces += d.call.primitiveCount;
    for (std::size_t i = 0; i < d.indexData.size(); i += 3) {
      float x;
      std::memcpy(&x, d.vertexData.data() + d.indexData[i] * d.call.stride, 4);
      seen.insert(x);
    }
  }
  EXPECT_GE(rec.draws.size(), 4u);
  EXPECT_EQ(faces, kTris);
  // One stream source for the subset, then each run based at its own first vertex.
  const std::vector<std::string> names = rec.callNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "SetStreamSource"), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), "SetIndices"), static_cast<long>(rec.draws.size()));
  EXPECT_EQ(std::count(names.begin(), names.end(), "CreateVertexBuffer"), 1);
  EXPECT_EQ(rec.draws[1].call.baseVertex, rec.draws[0].call.vertexCount);
  EXPECT_EQ(rec.draws[1].call.startIndex, 3 * rec.draws[0].call.primitiveCount);
  EXPECT_EQ(seen.size(), kTris);
  EXPECT_EQ(seen.count(5.0f), 0u);
  rec.draws.clear();
  mesh.DrawSubset(1);
  ASSERT_EQ(rec.draws.size(), 1u);
  float x;
  std::memcpy(&x, rec.draws[0].vertexData.data(), 4);
  EXPECT_EQ(x, 5.0f);
  rec.draws.clear();
  mesh.DrawSubset(2);
  EXPECT_TRUE(rec.draws.empty());
  dev.EndScene();
}

TEST(TreeModel, IsAFirOfAFewThousandTrianglesStandingOnTheOrigin) {
  const auto bytes = d3dx::ReadFile("test", wgtest::AppDir() + "/models/tree.x");
  ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + 16), "xof 0303txt 0032");
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_NE(text.find("Frame "), std::string::npos);
  EXPECT_NE(text.find("FrameTransformMatrix"), std::string::npos);
  const XModel m = Parse(bytes);
  EXPECT_GE(m.attributes.size(), 300u);
  EXPECT_LE(m.attributes.size(), 5000u);
  ASSERT_GE(m.materials.size(), 3u);
  EXPECT_TRUE(m.hasTexCoords);
  int untextured = 0;
  for (const auto& mat : m.materials) {
    if (mat.textureFilename.empty()) {
      ++untextured;
    } else {
      EXPECT_TRUE(std::filesystem::is_regular_file(wgtest::AppDir() + "/models/" + mat.textureFilename))
          << mat.textureFilename;
    }
  }
  EXPECT_GE(untextured, 1);
  std::vector<bool> used(m.materials.size(), false);
  for (auto a : m.attributes) used.at(a) = true;
  for (std::size_t i = 0; i < used.size(); ++i) EXPECT_TRUE(used[i]) << i;

  D3DVECTOR lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
  for (const auto& v : m.vertices) {
    lo = D3DVECTOR{std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
    hi = D3DVECTOR{std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
  }
  EXPECT_NEAR(lo.y, 0.0f, 1e-6f);
  EXPECT_GE(hi.y, 2.0f);
  EXPECT_LE(hi.y, 3.0f);
  EXPECT_NEAR(lo.x + hi.x, 0.0f, 0.1f);
  EXPECT_NEAR(lo.z + hi.z, 0.0f, 0.1f);
  // The camera's target, 0.9 above the base, lies inside the crown.
  EXPECT_GT(hi.x - lo.x, 1.0f);
}

}  // namespace

namespace {

TEST(XFileForms, EverySeedOfTheFuzzCorpusLoads) {
  int seeds = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::string(WG_SOURCE_DIR) + "/fuzz/corpus/xfile")) {
    SCOPED_TRACE(entry.path().string());
    const auto bytes = d3dx::ReadFile("test", entry.path().string());
    const XModel m = Parse(bytes);
    EXPECT_FALSE(m.attributes.empty());
    EXPECT_FALSE(m.materials.empty());
    ++seeds;
  }
  EXPECT_GE(seeds, 6);
}

}  // namespace
