// Wavefront OBJ models and their MTL libraries: turned into the scene's left-handed model exactly,
// and every broken file refused naming it and its line.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/base/Error.h"
#include "platform/d3dx/ObjFile.h"
#include "tests/support/Harness.h"

namespace {

d3dx::ObjModel Parse(const std::string& text, const std::string& folder = "") {
  return d3dx::ParseObjWithWarnings(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                                    "tree.obj", folder);
}

std::string Refusal(const std::string& text) {
  try {
    Parse(text);
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "accepted";
}

void Write(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void ExpectVector(const d3d::D3DVECTOR& v, float x, float y, float z) {
  EXPECT_EQ(v.x, x);
  EXPECT_EQ(v.y, y);
  EXPECT_EQ(v.z, z);
}

void ExpectColor(const d3d::D3DCOLORVALUE& c, float r, float g, float b, float a) {
  EXPECT_EQ(c.r, r);
  EXPECT_EQ(c.g, g);
  EXPECT_EQ(c.b, b);
  EXPECT_EQ(c.a, a);
}

TEST(ObjFile, QuadIsMirroredIntoTheLeftHandedSystemWithItsImageRowsFlipped) {
  const auto obj = Parse(
      "# a quad facing +z\r\n"
      "v 0 0 1\nv 2 0 1\nv 2 3 1\nv 0 3 1\n"
      "vt 0 0\nvt 1 0\nvt 1 0.25\nvt 0 1\n"
      "vn 0 0 1\n"
      "o quad\ng group\ns 1\n"
      "f 1/1/1 2/2/1 3/3/1 4/4/1\n");
  const d3dx::XModel& m = obj.model;
  ASSERT_EQ(m.vertices.size(), 4u);
  ExpectVector(m.vertices[0].position, 0, 0, -1);
  ExpectVector(m.vertices[1].position, 2, 0, -1);
  ExpectVector(m.vertices[2].position, 2, 3, -1);
  ExpectVector(m.vertices[3].position, 0, 3, -1);
  for (const auto& v : m.vertices) {
    ExpectVector(v.normal, 0, 0, -1);
    EXPECT_EQ(v.color, 0xFFFFFFFFu);
  }
  EXPECT_EQ(m.vertices[0].tu, 0.0f);
  EXPECT_EQ(m.vertices[0].tv, 1.0f);
  EXPECT_EQ(m.vertices[1].tu, 1.0f);
  EXPECT_EQ(m.vertices[1].tv, 1.0f);
  EXPECT_EQ(m.vertices[2].tv, 0.75f);
  EXPECT_EQ(m.vertices[3].tv, 0.0f);
  // Counter-clockwise seen from +z in the file; clockwise seen from -z, where it now faces.
  EXPECT_EQ(m.indices, (std::vector<std::uint32_t>{0, 2, 1, 0, 3, 2}));
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{0, 0}));
  ASSERT_EQ(m.materials.size(), 1u);
  ExpectColor(m.materials[0].material.Diffuse, 1, 1, 1, 1);
  ExpectColor(m.materials[0].material.Ambient, 1, 1, 1, 1);
  ExpectColor(m.materials[0].material.Specular, 0, 0, 0, 0);
  EXPECT_EQ(m.materials[0].material.Power, 0.0f);
  EXPECT_TRUE(m.hasNormals);
  EXPECT_TRUE(m.hasTexCoords);
  EXPECT_FALSE(m.hasColors);
  EXPECT_EQ(m.format, d3dx::ModelFormat::Obj);
  EXPECT_TRUE(obj.warnings.empty());
}

TEST(ObjFile, NegativeIndicesCountBackFromTheLatestDeclared) {
  const auto m = Parse(
                     "v 0 0 0\nv 1 0 0\nv 0 1 0\n"
                     "f -3 -2 -1\n"
                     "v 5 5 5\nvt 0.5 0.5\n"
                     "f -4/-1 -1/-1 3/1\n")
                     .model;
  ASSERT_EQ(m.vertices.size(), 6u);
  ExpectVector(m.vertices[3].position, 0, 0, 0);
  ExpectVector(m.vertices[4].position, 5, 5, -5);
  ExpectVector(m.vertices[5].position, 0, 1, 0);
  EXPECT_EQ(m.vertices[4].tv, 0.5f);
  EXPECT_EQ(m.indices, (std::vector<std::uint32_t>{0, 2, 1, 3, 5, 4}));
  EXPECT_FALSE(m.hasNormals);
}

TEST(ObjFile, PolygonsAreFannedAndSharedCornersShareAVertex) {
  const auto m = Parse(
                     "v 0 0 0\nv 1 0 0\nv 2 1 0\nv 1 2 0\nv 0 1 0\nvt 0 0\nvt 1 1\n"
                     "f 1 2 3 4 5\n"
                     "f 1/1 3/1 3\n"  // v 3 with and without a texture coordinate: two vertices
                     "f 1 3 5\n")
                     .model;
  EXPECT_EQ(m.indices, (std::vector<std::uint32_t>{0, 2, 1, 0, 3, 2, 0, 4, 3, 5, 2, 6, 0, 4, 2}));
  ASSERT_EQ(m.vertices.size(), 7u);
  EXPECT_EQ(m.attributes.size(), 5u);
  EXPECT_TRUE(m.hasTexCoords);
}

TEST(ObjFile, MaterialsComeFromTheLibraryWithTheirAlphaAndTexture) {
  const std::string dir = wgtest::ScratchDir("obj-materials");
  std::filesystem::create_directories(dir + "/tex");
  Write(dir + "/tex/bark wood.png", "png");
  Write(dir + "/tree.mtl",
        "newmtl bark\nKa 0.1 0.1 0.1\nKd 0.5 0.25 0.125\nKs 1 1 1\nNs 90\nd 0.75\nTr 0.9\n"
        "map_Kd -s 2 2 1 -clamp on -bm 0.5 tex/bark wood.png\n"
        "newmtl glow\nKd 0.2\nKe 0 1 2\nTr 0.25\n"
        "newmtl bark\nKd 0 0 0\n");  // a second definition does not replace the first
  const auto obj = Parse(
      "mtllib tree.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
      "f 1 2 3\nusemtl glow\nf 1 2 3\nusemtl bark\nf 1 2 3\nf 3 2 1\nusemtl glow\nf 2 3 1\n",
      dir);
  const d3dx::XModel& m = obj.model;
  EXPECT_TRUE(obj.warnings.empty()) << obj.warnings.front();
  EXPECT_EQ(m.attributes, (std::vector<std::uint32_t>{0, 1, 2, 2, 1}));
  ASSERT_EQ(m.materials.size(), 3u);
  ExpectColor(m.materials[0].material.Diffuse, 1, 1, 1, 1);
  EXPECT_EQ(m.materials[0].alphaMode, d3dx::AlphaMode::Opaque);
  const auto& glow = m.materials[1];
  ExpectColor(glow.material.Diffuse, 0.2f, 0.2f, 0.2f, 0.75f);
  ExpectColor(glow.material.Ambient, 0.2f, 0.2f, 0.2f, 0.75f);
  ExpectColor(glow.material.Emissive, 0, 1, 1, 1);  // clamped
  EXPECT_EQ(glow.alphaMode, d3dx::AlphaMode::Blend);
  EXPECT_TRUE(glow.textureFilename.empty());
  const auto& bark = m.materials[2];
  ExpectColor(bark.material.Diffuse, 0.5f, 0.25f, 0.125f, 0.75f);  // d wins over Tr
  ExpectColor(bark.material.Ambient, 0.5f, 0.25f, 0.125f, 0.75f);
  ExpectColor(bark.material.Specular, 0, 0, 0, 0);
  EXPECT_EQ(bark.material.Power, 0.0f);
  EXPECT_EQ(bark.textureFilename, "tex/bark wood.png");
  EXPECT_TRUE(bark.textureData.empty());
  EXPECT_FALSE(bark.doubleSided);
}

TEST(ObjFile, ExportersStatementsThatAreNotDrawnAreSkipped) {
  const std::string dir = wgtest::ScratchDir("obj-exporter");
  std::filesystem::create_directories(dir + "/Textures");
  Write(dir + "/Textures/Bark.PNG", "png");
  Write(dir + "/Tree.MTL",
        "# Blender MTL File\r\nnewmtl Bark\r\nNs 250\r\nKa 1 1 1\r\nKs 0.5 0.5 0.5\r\nNi 1.45\r\nillum 2\r\n"
        "Kd 0.8 0.6 0.4\r\nmap_Bump -bm 1.0 normal.png\r\nmap_d mask.png\r\nmap_Kd textures\\bark.png\r\n");
  const auto obj = Parse(
      "# Blender 4.2\r\nmtllib tree.mtl\r\no Trunk\r\nv 0 0 0\r\nv 1 0 0\r\nv 0 1 0\r\nvp 0.5\r\n"
      "vt 0 0\r\nvn 0 0 1\r\ns off\r\ng trunk bark\r\nusemtl Bark\r\nf 1/1/1 2/1/1 3/1/1\r\nl 1 2\r\np 3\r\n"
      "cstype bezier\r\n",
      dir);
  EXPECT_TRUE(obj.warnings.empty()) << obj.warnings.front();
  ASSERT_EQ(obj.model.materials.size(), 1u);
  ExpectColor(obj.model.materials[0].material.Diffuse, 0.8f, 0.6f, 0.4f, 1);
  ExpectColor(obj.model.materials[0].material.Specular, 0, 0, 0, 0);
  EXPECT_EQ(obj.model.materials[0].textureFilename, "textures\\bark.png");
  EXPECT_EQ(obj.model.indices.size(), 3u);
}

TEST(ObjFile, AMissingLibraryLeavesTheModelWhiteWithOneWarning) {
  const std::string dir = wgtest::ScratchDir("obj-no-mtl");
  const auto obj =
      Parse("mtllib gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl a\nf 1 2 3\nusemtl b\nf 1 2 3\n", dir);
  ASSERT_EQ(obj.warnings.size(), 1u);
  EXPECT_NE(obj.warnings[0].find("\"gone.mtl\""), std::string::npos) << obj.warnings[0];
  ASSERT_EQ(obj.model.materials.size(), 2u);
  for (const auto& mat : obj.model.materials) ExpectColor(mat.material.Diffuse, 1, 1, 1, 1);
  // Without a folder nothing is read at all.
  const auto bare = Parse("mtllib gone.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_EQ(bare.warnings.size(), 1u);
}

TEST(ObjFile, ALibraryNamedTwiceOrTheModelItselfIsReadOnce) {
  const std::string dir = wgtest::ScratchDir("obj-mtl-twice");
  Write(dir + "/a.mtl", "newmtl red\nKd 1 0 0\n");
  const std::string text =
      "mtllib a.mtl a.mtl\nmtllib A.MTL\nmtllib tree.obj\nv 0 0 0\nv 1 0 0\nv 0 1 0\n"
      "usemtl red\nf 1 2 3\nusemtl other\nf 1 2 3\n";
  Write(dir + "/tree.obj", text);
  const auto obj = Parse(text, dir);
  ASSERT_EQ(obj.model.materials.size(), 2u);
  ExpectColor(obj.model.materials[0].material.Diffuse, 1, 0, 0, 1);
  ExpectColor(obj.model.materials[1].material.Diffuse, 1, 1, 1, 1);
  ASSERT_EQ(obj.warnings.size(), 1u);
  EXPECT_NE(obj.warnings[0].find("\"other\""), std::string::npos) << obj.warnings[0];
}

TEST(ObjFile, TexturesLeavingTheFolderOrMissingAreDroppedWithAWarning) {
  const std::string dir = wgtest::ScratchDir("obj-escape");
  std::filesystem::create_directories(dir + "/model");
  Write(dir + "/secret.png", "png");
  Write(dir + "/model/m.mtl",
        "newmtl up\nmap_Kd ../secret.png\nnewmtl abs\nmap_Kd /etc/passwd\nnewmtl gone\nmap_Kd nothing.png\n");
  const auto obj = Parse(
      "mtllib m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl up\nf 1 2 3\nusemtl abs\nf 1 2 3\nusemtl gone\nf 1 2 "
      "3\n",
      dir + "/model");
  ASSERT_EQ(obj.model.materials.size(), 3u);
  for (const auto& mat : obj.model.materials) EXPECT_TRUE(mat.textureFilename.empty());
  ASSERT_EQ(obj.warnings.size(), 3u);
  EXPECT_NE(obj.warnings[0].find("climbs out"), std::string::npos) << obj.warnings[0];
  EXPECT_NE(obj.warnings[1].find("absolute"), std::string::npos) << obj.warnings[1];
  EXPECT_NE(obj.warnings[2].find("not in its folder"), std::string::npos) << obj.warnings[2];
  // A library leaving the folder is not read either.
  const auto up = Parse("mtllib ../model/m.mtl\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n", dir + "/model");
  ASSERT_EQ(up.warnings.size(), 1u);
  EXPECT_NE(up.warnings[0].find("climbs out"), std::string::npos) << up.warnings[0];
}

TEST(ObjFile, VertexColoursAreRoundedTo8Bits) {
  const auto m = Parse("v 0 0 0\nv 1 0 0 1 0.5 0.2\nv 0 1 0 2 -1 0.002\nv 1 1 0\nf 1 2 3 4\n").model;
  EXPECT_TRUE(m.hasColors);
  ASSERT_EQ(m.vertices.size(), 4u);
  EXPECT_EQ(m.vertices[0].color, 0xFFFFFFFFu);
  EXPECT_EQ(m.vertices[1].color, 0xFFFF8033u);  // 127.5 to even, 51
  EXPECT_EQ(m.vertices[2].color, 0xFFFF0001u);  // clamped; 0.51 rounds up
  EXPECT_EQ(m.vertices[3].color, 0xFFFFFFFFu);
}

TEST(ObjFile, NumbersOutsideAFloatAreRefusedAndTinyOnesAreZero) {
  EXPECT_EQ(Parse("v 1e-50 +2 -0.5e1\nv 1 0 0\nv 0 1 0\nf 1 2 3\n").model.vertices[0].position.y, 2.0f);
  ExpectVector(Parse("v 1e-50 +2 -0.5e1\nv 1 0 0\nv 0 1 0\nf 1 2 3\n").model.vertices[0].position, 0, 2, 5);
  for (const char* bad : {"1e999", "-1e39", "nan", "inf", "-infinity", "0x10", "1.0.0", "1,5", "--1", ""}) {
    const std::string why = Refusal(std::string("v 1 0 0\nv 0 1 0\nv ") + bad + " 0 0\nf 1 2 3\n");
    EXPECT_NE(why.find("(tree.obj)"), std::string::npos) << bad << ": " << why;
    EXPECT_NE(why.find("line 3"), std::string::npos) << bad << ": " << why;
  }
}

TEST(ObjFile, IndicesOutOfRangeAreRefusedNamingTheLine) {
  const std::string head = "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvn 0 0 1\n";
  for (const char* face : {"f 1 2 4", "f 0 1 2", "f -4 1 2", "f 1/2 2/1 3/1", "f 1//2 2 3", "f 1/0 2 3",
                           "f 1 2 99999999999999999999", "f 1 2 -9223372036854775808", "f 1 2 3/1/1/1",
                           "f 1 2 x", "f 1 2 3.0", "f /1 2 3"}) {
    const std::string why = Refusal(head + face + "\n");
    EXPECT_NE(why.find("line 6"), std::string::npos) << face << ": " << why;
    EXPECT_NE(why.find("(tree.obj)"), std::string::npos) << face << ": " << why;
  }
  // A position declared after the face is not there yet.
  EXPECT_NE(Refusal("v 0 0 0\nv 1 0 0\nf 1 2 3\nv 0 1 0\n").find("out of range"), std::string::npos);
}

TEST(ObjFile, FacesOfFewerThanThreeCornersAreRefused) {
  EXPECT_NE(Refusal("v 0 0 0\nv 1 0 0\nf 1\n").find("line 3: a face has 1 corners"), std::string::npos);
  EXPECT_NE(Refusal("v 0 0 0\nv 1 0 0\nf 1 2 # 3\n").find("line 3: a face has 2 corners"), std::string::npos);
  EXPECT_NE(Refusal("v 0 0 0\n").find("no faces"), std::string::npos);
  EXPECT_NE(Refusal("v 0 0\nf 1 1 1\n").find("line 1: v has 2 numbers"), std::string::npos);
}

TEST(ObjFile, FilesThatAreNotTextOrHaveHugeLinesAreRefused) {
  const std::string tri = "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n";
  EXPECT_NE(Refusal(tri + std::string("v 0 0\0 0\n", 9)).find("line 5: the file is not text"),
            std::string::npos);
  EXPECT_NE(Refusal("\x7F"
                    "ELF\x02\x01\x01")
                .find("not text"),
            std::string::npos);
  EXPECT_NE(Refusal(tri + "# " + std::string(d3dx::kMaxObjLine, 'x') + "\n").find("line 5 is longer than"),
            std::string::npos);
  // A line just under the limit is fine, even a face of many corners.
  std::string face = "f";
  for (int i = 0; i < 40000; ++i) face += " 1 2 3";
  EXPECT_EQ(Parse(tri + face + "\n").model.attributes.size(), 120000u - 2 + 1);
  // A byte-order mark and UTF-8 names are text.
  EXPECT_EQ(Parse("\xEF\xBB\xBFusemtl \xC3\xA9t\xC3\xA9\n" + tri).model.materials.size(), 1u);
}

TEST(ObjFile, TenMillionTrianglesAreRefusedByCountBeforeAnythingIsSized) {
  std::string text = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";
  text.reserve(text.size() + 10'000'000 * 8);
  for (int i = 0; i < 10'000'000; ++i) text += "f 1 2 3\n";
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const std::string why = Refusal(text);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  EXPECT_NE(why.find("more than 2097152 triangles"), std::string::npos) << why;
  EXPECT_NE(why.find("line 2097156"), std::string::npos) << why;
  // Indices for that many triangles would take 100 MB; the refusal touched almost nothing.
  EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 16 * 1024) << "kB";
}

TEST(ObjFile, BrokenLibrariesAreSkippedWithAWarning) {
  const std::string dir = wgtest::ScratchDir("obj-bad-mtl");
  Write(dir + "/nan.mtl", "newmtl a\nKd nan 0 0\n");
  Write(dir + "/bin.mtl", std::string("newmtl b\nKd 0 0 0\n\0\0", 21));
  Write(dir + "/big.mtl", "newmtl c\n" + std::string(d3dx::kMaxMtlFile, '#'));
  std::filesystem::create_directories(dir + "/dir.mtl");
  const auto obj = Parse(
      "mtllib nan.mtl\nmtllib bin.mtl\nmtllib big.mtl\nmtllib dir.mtl\n"
      "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl a\nf 1 2 3\nusemtl b\nf 1 2 3\n",
      dir);
  ASSERT_EQ(obj.warnings.size(), 4u);
  EXPECT_NE(obj.warnings[0].find("line 2: the number \"nan\" is not finite"), std::string::npos)
      << obj.warnings[0];
  EXPECT_NE(obj.warnings[1].find("not text"), std::string::npos) << obj.warnings[1];
  EXPECT_NE(obj.warnings[2].find("larger than 4 MB"), std::string::npos) << obj.warnings[2];
  ASSERT_EQ(obj.model.materials.size(), 2u);
  ExpectColor(obj.model.materials[1].material.Diffuse, 1, 1, 1, 1);
}

TEST(ObjFile, AFileNamingThousandsOfLibrariesGetsAFewLookUpsAndWarnings) {
  const std::string dir = wgtest::ScratchDir("obj-many-mtl");
  Write(dir + "/x40.mtl", "newmtl red\nKd 1 0 0\n");
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "mtllib x" + std::to_string(i) + ".mtl\n";
  const std::string longName(5000, 'n');
  text += "v 0 0 0\nv 1 0 0\nv 0 1 0\nusemtl red\nf 1 2 3\nusemtl " + longName + "\nf 1 2 3\n";
  const auto obj = Parse(text, dir);
  ASSERT_EQ(obj.warnings.size(), d3dx::kMaxObjWarnings + 1);
  EXPECT_NE(obj.warnings[0].find("\"x0.mtl\""), std::string::npos) << obj.warnings[0];
  EXPECT_EQ(obj.warnings.back(), "more warnings were left out");
  // x40.mtl is past the names looked up, so red stays white.
  ExpectColor(obj.model.materials[0].material.Diffuse, 1, 1, 1, 1);
  // Without libraries the long name is told, cut short.
  const auto bare = Parse("usemtl " + longName + "\nv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  ASSERT_EQ(bare.warnings.size(), 1u);
  EXPECT_LT(bare.warnings[0].size(), 200u);
  EXPECT_NE(bare.warnings[0].find(std::string(100, 'n') + "...\""), std::string::npos) << bare.warnings[0];
}

TEST(ObjFile, OnlyObjNamesLookLikeObj) {
  for (const char* yes : {"tree.obj", "TREE.OBJ", "models/a.Obj"})
    EXPECT_TRUE(d3dx::LooksLikeObj(yes)) << yes;
  for (const char* no : {"tree.objx", "obj", "tree.x", "tree.gltf", ".ob", ""})
    EXPECT_FALSE(d3dx::LooksLikeObj(no)) << no;
}

}  // namespace
