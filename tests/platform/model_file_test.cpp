// Which reader a model file goes to, and the colours it comes out with: a glTF or OBJ vertex's colour
// times its material's, which the device's lighting cannot multiply itself.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/d3dx/XFile.h"
#include "tests/support/Harness.h"

namespace {

d3dx::XModel Parse(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
  return d3dx::ParseModel(reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), path);
}

TEST(ParseModel, AVertexColourIsMultipliedByEachMaterialThatUsesIt) {
  const std::string dir = wgtest::ScratchDir("parse-model");
  std::ofstream(dir + "/two.mtl") << "newmtl half\nKd 0.5 1 0.2\nd 0.5\nnewmtl white\nKd 1 1 1\n";
  // Vertices 2 (0.8, 0.4, 1) and 3 are used by a triangle of each material.
  const d3dx::XModel m = Parse(dir + "/two.obj",
                               "mtllib two.mtl\n"
                               "v 0 0 0 1 1 1\nv 1 0 0 0.8 0.4 1\nv 0 1 0 1 1 1\nv 1 1 0 1 1 1\n"
                               "usemtl half\nf 1 2 3\nusemtl white\nf 2 4 3\n");
  ASSERT_EQ(m.format, d3dx::ModelFormat::Obj);
  ASSERT_TRUE(m.hasColors);
  ASSERT_EQ(m.attributes.size(), 2u);
  ASSERT_EQ(m.materials.size(), 2u);
  // The shared vertex is split: each triangle's corner has its own material's product.
  const auto colourOf = [&](std::size_t triangle, float x, float y) -> d3d::D3DCOLOR {
    for (std::size_t c = 0; c < 3; ++c) {
      const d3dx::XVertex& v = m.vertices[m.indices[3 * triangle + c]];
      if (v.position.x == x && v.position.y == y) return v.color;
    }
    ADD_FAILURE() << "no corner at " << x << ", " << y;
    return 0;
  };
  const std::size_t half = m.attributes[0] == 0 ? 0 : 1;
  // 0.8 x 0.5 = 0.4 -> 102, 0.4 x 1 -> 102, 1 x 0.2 -> 51, alpha 1 x 0.5 -> 128.
  EXPECT_EQ(colourOf(half, 1, 0), 0x80666633u);
  EXPECT_EQ(colourOf(1 - half, 1, 0), 0xFFCC66FFu);
  EXPECT_EQ(colourOf(half, 0, 0), 0x8080FF33u);
  EXPECT_EQ(colourOf(1 - half, 1, 1), 0xFFFFFFFFu);
  EXPECT_EQ(m.vertices.size(), 6u);  // the two corners both triangles share, split
}

TEST(ParseModel, TheContentChoosesTheReaderAndTheNameOnlyForObj) {
  const std::string dir = wgtest::ScratchDir("parse-model-kind");
  // A glTF named .x is read as glTF; an X file named .gltf as X.
  const std::string gltf = R"({"asset":{"version":"2.0"},"meshes":[]})";
  EXPECT_EQ(Parse(dir + "/tree.x", gltf).format, d3dx::ModelFormat::Gltf);
  const d3dx::XModel x =
      Parse(dir + "/tree.gltf", "xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }\n");
  EXPECT_EQ(x.format, d3dx::ModelFormat::X);
  EXPECT_EQ(x.attributes.size(), 1u);
}

}  // namespace
