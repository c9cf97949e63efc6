// The glTF reader: exact positions, normals, windings and colours in the scene's left-handed space,
// materials and their images, and every kind of hostile file refused naming the file and the fault.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3dx/GltfFile.h"
#include "tests/support/Files.h"
#include "tests/support/GltfWriter.h"
#include "tests/support/Harness.h"

namespace {

d3dx::XModel Parse(const std::vector<std::uint8_t>& bytes, const std::string& folder = "",
                   const std::string& file = "tree.glb") {
  return d3dx::ParseGltf(bytes.data(), bytes.size(), file, folder);
}

// The message a refused file gives; it always names the file.
std::string Refusal(const std::vector<std::uint8_t>& bytes, const std::string& folder = "") {
  try {
    Parse(bytes, folder);
  } catch (const platform::Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("(tree.glb)"), std::string::npos) << what;
    return what;
  }
  ADD_FAILURE() << "the file was read";
  return "";
}

#define EXPECT_REFUSED(bytes, fragment)                                       \
  do {                                                                        \
    const std::string why_ = Refusal(bytes);                                  \
    EXPECT_NE(why_.find(fragment), std::string::npos) << "message: " << why_; \
  } while (0)

// One triangle (0,0,0), (1,0,0), (0,1,0) facing +z as mesh 0 (accessor 0 positions, 1 normals),
// drawn by the nodes given.
wgtest::GltfDoc TriangleDoc(const std::string& nodes = R"({"mesh":0})") {
  wgtest::GltfDoc d;
  d.Data<float>({0, 0, 0, 1, 0, 0, 0, 1, 0}, 5126, "VEC3");
  d.Data<float>({0, 0, 1, 0, 0, 1, 0, 0, 1}, 5126, "VEC3");
  d.meshes.push_back(R"({"primitives":[{"attributes":{"POSITION":0,"NORMAL":1}}]})");
  d.nodes = {nodes};
  return d;
}

void ExpectVector(const d3d::D3DVECTOR& v, float x, float y, float z) {
  EXPECT_EQ(v.x, x);
  EXPECT_EQ(v.y, y);
  EXPECT_EQ(v.z, z);
}

TEST(Gltf, TriangleIsMovedByItsNodeIntoTheLeftHandedScene) {
  // Scale 2, half a turn about z, then moved by (1, 2, 3); z negated and the winding reversed.
  const auto model = Parse(
      TriangleDoc(R"({"mesh":0,"translation":[1,2,3],"rotation":[0,0,1,0],"scale":[2,2,2]})").GlbFile());
  EXPECT_EQ(model.format, d3dx::ModelFormat::Glb);
  ASSERT_EQ(model.vertices.size(), 3u);
  ExpectVector(model.vertices[0].position, 1, 2, -3);
  ExpectVector(model.vertices[1].position, -1, 2, -3);
  ExpectVector(model.vertices[2].position, 1, 0, -3);
  for (const auto& v : model.vertices) {
    ExpectVector(v.normal, 0, 0, -1);
    EXPECT_EQ(v.color, 0xFFFFFFFFu);
  }
  EXPECT_EQ(model.indices, (std::vector<std::uint32_t>{0, 2, 1}));
  EXPECT_EQ(model.attributes, (std::vector<std::uint32_t>{0}));
  EXPECT_TRUE(model.hasNormals);
  EXPECT_FALSE(model.hasColors);
  EXPECT_FALSE(model.hasTexCoords);
  // No material named: glTF's default, white and opaque.
  ASSERT_EQ(model.materials.size(), 1u);
  const auto& m = model.materials[0];
  EXPECT_EQ(m.material.Diffuse.r, 1.0f);
  EXPECT_EQ(m.material.Diffuse.a, 1.0f);
  EXPECT_EQ(m.material.Ambient.g, 1.0f);
  EXPECT_EQ(m.material.Specular.r, 0.0f);
  EXPECT_EQ(m.material.Emissive.r, 0.0f);
  EXPECT_EQ(m.material.Power, 0.0f);
  EXPECT_EQ(m.alphaMode, d3dx::AlphaMode::Opaque);
  EXPECT_FALSE(m.doubleSided);
  EXPECT_TRUE(m.textureFilename.empty());
}

TEST(Gltf, NodesComposeTheirParentsAndAMirroredInstanceKeepsItsFrontFace) {
  // Node 0 moves by x+10 and has two children drawing the mesh: one as it is, one mirrored in x by a
  // matrix (negative determinant), whose winding is reversed once more.
  const auto model = Parse(TriangleDoc(R"({"translation":[10,0,0],"children":[1,2]},{"mesh":0},
         {"mesh":0,"matrix":[-1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,5,1]})")
                               .GlbFile());
  ASSERT_EQ(model.vertices.size(), 6u);
  ExpectVector(model.vertices[1].position, 11, 0, 0);
  ExpectVector(model.vertices[4].position, 9, 0, -5);
  ExpectVector(model.vertices[5].position, 10, 1, -5);
  // The normal, carried by the mirror's inverse transpose, still points along +z, then is negated.
  ExpectVector(model.vertices[4].normal, 0, 0, -1);
  EXPECT_EQ(model.indices, (std::vector<std::uint32_t>{0, 2, 1, 3, 4, 5}));
}

TEST(Gltf, NormalsFollowTheInverseTransposeAndComeOutUnitLength) {
  // A non-uniform scale (x 2, y 1): the face (1,1,0)/sqrt2 tilts towards y, as the surface does.
  wgtest::GltfDoc d = TriangleDoc(R"({"mesh":0,"scale":[2,1,1]})");
  d.accessors[1] = R"({"bufferView":2,"componentType":5126,"count":3,"type":"VEC3"})";
  d.Data<float>({0.6f, 0.8f, 0, 0.6f, 0.8f, 0, 0.6f, 0.8f, 0}, 5126, "VEC3");
  const auto model = Parse(d.GlbFile());
  const auto& n = model.vertices[0].normal;
  EXPECT_NEAR(n.x, 0.3 / std::sqrt(0.3 * 0.3 + 0.8 * 0.8), 1e-6);
  EXPECT_NEAR(n.y, 0.8 / std::sqrt(0.3 * 0.3 + 0.8 * 0.8), 1e-6);
  EXPECT_EQ(n.z, 0.0f);
}

TEST(Gltf, TheSceneChoosesItsRootsAndOtherScenesAreNotDrawn) {
  wgtest::GltfDoc d = TriangleDoc(R"({"mesh":0,"translation":[0,0,1]},{"mesh":0,"translation":[0,0,2]})");
  d.top = R"(,"scene":1,"scenes":[{"nodes":[0]},{"nodes":[1]}])";
  const auto model = Parse(d.GlbFile());
  ASSERT_EQ(model.vertices.size(), 3u);
  EXPECT_EQ(model.vertices[0].position.z, -2.0f);
  // With no scene at all every root node is drawn.
  EXPECT_EQ(Parse(TriangleDoc(R"({"mesh":0},{"mesh":0})").GlbFile()).vertices.size(), 6u);
}

TEST(Gltf, StripsAndFansBecomeTrianglesExactlyAndPointsAreSkipped) {
  wgtest::GltfDoc d;
  d.Data<float>({0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 0, 2, 0}, 5126, "VEC3");
  d.Data<std::uint8_t>({4, 3, 2, 1, 0}, 5121, "SCALAR");
  d.materials = {"{}", "{}"};
  d.meshes = {R"({"primitives":[{"attributes":{"POSITION":0},"mode":5,"material":1},
                               {"attributes":{"POSITION":0},"mode":0},
                               {"attributes":{"POSITION":0},"mode":1},
                               {"attributes":{"POSITION":0},"mode":6,"indices":1,"material":0}]})"};
  d.nodes = {R"({"mesh":0})"};
  const auto model = Parse(d.GlbFile());
  // The strip: (0,1,2) (1,3,2) (2,3,4); the fan of 4,3,2,1,0: (3,2,4) (2,1,4) (1,0,4); each reversed.
  // Points and lines add nothing, so the fan's five vertices follow the strip's.
  EXPECT_EQ(model.vertices.size(), 10u);
  EXPECT_EQ(model.indices, (std::vector<std::uint32_t>{0, 2, 1, 1, 2, 3, 2, 4, 3,  //
                                                       8, 9, 7, 7, 9, 6, 6, 9, 5}));
  EXPECT_EQ(model.attributes, (std::vector<std::uint32_t>{1, 1, 1, 0, 0, 0}));
  EXPECT_EQ(model.materials.size(), 2u);
}

// The colour of each vertex of the triangle given COLOR_0 as accessor 2.
template <typename T>
std::vector<std::uint32_t> Colors(std::initializer_list<T> values, int componentType, const char* type,
                                  bool normalized) {
  wgtest::GltfDoc d = TriangleDoc();
  d.Data<T>(values, componentType, type, normalized);
  d.meshes = {R"({"primitives":[{"attributes":{"POSITION":0,"COLOR_0":2}}]})"};
  const auto model = Parse(d.GlbFile());
  EXPECT_TRUE(model.hasColors);
  std::vector<std::uint32_t> out;
  for (const auto& v : model.vertices) out.push_back(v.color);
  return out;
}

TEST(Gltf, VertexColoursInEveryEncodingBecomeD3dColors) {
  // Floats: linear values rounded to 8 bits (0.5 * 255 = 127.5 rounds to even 128), clamped to [0, 1].
  EXPECT_EQ(
      Colors<float>({0.5f, 0.25f, 1.0f, 0.75f, 0, 0, 0, 0, 2.0f, -1.0f, 1.0f, 1.0f}, 5126, "VEC4", false),
      (std::vector<std::uint32_t>{0xBF8040FFu, 0x00000000u, 0xFFFF00FFu}));
  // Normalized unsigned bytes, three components: as stored, alpha 255.
  EXPECT_EQ(Colors<std::uint8_t>({10, 20, 30, 255, 0, 128, 1, 2, 3}, 5121, "VEC3", true),
            (std::vector<std::uint32_t>{0xFF0A141Eu, 0xFFFF0080u, 0xFF010203u}));
  // Normalized unsigned shorts: 32768 / 65535 * 255 = 127.50 rounds to 128; 257 is exactly 1.
  EXPECT_EQ(Colors<std::uint16_t>({65535, 32768, 0, 257, 0, 0, 0, 0, 0, 0, 0, 65535}, 5123, "VEC4", true),
            (std::vector<std::uint32_t>{0x01FF8000u, 0x00000000u, 0xFF000000u}));
  // Unnormalized integers are no colours.
  EXPECT_THROW(Colors<std::uint8_t>({1, 2, 3, 4, 5, 6, 7, 8, 9}, 5121, "VEC3", false), platform::Error);
}

TEST(Gltf, TextureCoordinatesAreKeptAsFloatsOrScaledFromIntegers) {
  for (bool bytes : {false, true}) {
    wgtest::GltfDoc d = TriangleDoc();
    if (bytes)
      d.Data<std::uint8_t>({255, 0, 51, 102, 0, 255}, 5121, "VEC2", true);
    else
      d.Data<float>({1.0f, 0.0f, 0.2f, 0.4f, 0.0f, 1.0f}, 5126, "VEC2");
    d.meshes = {R"({"primitives":[{"attributes":{"POSITION":0,"TEXCOORD_0":2}}]})"};
    const auto model = Parse(d.GlbFile());
    EXPECT_TRUE(model.hasTexCoords);
    EXPECT_EQ(model.vertices[0].tu, 1.0f);
    EXPECT_EQ(model.vertices[0].tv, 0.0f);
    EXPECT_FLOAT_EQ(model.vertices[1].tu, 0.2f);
    EXPECT_FLOAT_EQ(model.vertices[1].tv, 0.4f);
    EXPECT_EQ(model.vertices[2].tv, 1.0f);
  }
}

TEST(Gltf, MaterialsCarryTheirFactorsModesAndEmbeddedImages) {
  const std::vector<std::uint8_t> png = wgtest::Bytes("\x89PNG\r\n\x1a\nimage bytes");
  wgtest::GltfDoc d = TriangleDoc();
  const std::size_t at = d.bin.Add<std::uint8_t>({});
  d.bin.bytes.insert(d.bin.bytes.end(), png.begin(), png.end());
  d.View(at, png.size());
  d.images = {R"({"bufferView":2,"mimeType":"image/png"})",
              R"({"uri":"data:image/png;base64,)" + wgtest::Base64(png) + "\"}"};
  d.textures = {R"({"source":0})", R"({"source":1})"};
  d.materials = {
      R"({"pbrMetallicRoughness":{"baseColorFactor":[0.5,0.25,1,0.5],"baseColorTexture":{"index":0}},
                     "emissiveFactor":[0.1,0.2,0.3],"alphaMode":"MASK","alphaCutoff":0.3,"doubleSided":true})",
      R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":1}},"alphaMode":"BLEND"})",
      R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":1,"texCoord":1}}})"};
  const auto model = Parse(d.GlbFile());
  ASSERT_EQ(model.materials.size(), 4u);  // the three, and the default one the mesh uses
  const auto& m = model.materials[0];
  EXPECT_EQ(m.material.Diffuse.r, 0.5f);
  EXPECT_EQ(m.material.Diffuse.g, 0.25f);
  EXPECT_EQ(m.material.Diffuse.a, 0.5f);
  EXPECT_EQ(m.material.Ambient.b, 1.0f);
  EXPECT_EQ(m.material.Emissive.g, 0.2f);
  EXPECT_EQ(m.alphaMode, d3dx::AlphaMode::Mask);
  EXPECT_EQ(m.alphaCutoff, 0.3f);
  EXPECT_TRUE(m.doubleSided);
  EXPECT_EQ(m.textureFilename, "tree.glb#image0");
  EXPECT_EQ(m.textureData, png);
  EXPECT_EQ(model.materials[1].alphaMode, d3dx::AlphaMode::Blend);
  EXPECT_EQ(model.materials[1].textureFilename, "tree.glb#image1");
  EXPECT_EQ(model.materials[1].textureData, png);
  // A texture on the second texture coordinates is left out.
  EXPECT_TRUE(model.materials[2].textureFilename.empty());
  EXPECT_EQ(model.attributes, (std::vector<std::uint32_t>{3}));
}

TEST(Gltf, FilesBesideTheModelAreReadOnlyFromItsFolder) {
  const std::string dir = wgtest::ScratchDir("gltf-beside");
  wgtest::GltfDoc d = TriangleDoc();
  d.bufferUri = "tree%20data.bin";
  d.images = {R"({"uri":"bark%20tex.png"})"};
  d.textures = {R"({"source":0})"};
  d.materials = {R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}})"};
  d.meshes = {R"({"primitives":[{"attributes":{"POSITION":0},"material":0}]})"};
  std::ofstream(dir + "/tree data.bin", std::ios::binary)
      .write(reinterpret_cast<const char*>(d.bin.bytes.data()),
             static_cast<std::streamsize>(d.bin.bytes.size()));
  std::ofstream(dir + "/bark tex.png") << "png";
  const auto json = wgtest::Bytes(d.Json());
  const auto model = d3dx::ParseGltf(json.data(), json.size(), "tree.gltf", dir);
  EXPECT_EQ(model.format, d3dx::ModelFormat::Gltf);
  ASSERT_EQ(model.vertices.size(), 3u);
  ExpectVector(model.vertices[1].position, 1, 0, 0);
  EXPECT_EQ(model.materials[0].textureFilename, "bark tex.png");
  EXPECT_TRUE(model.materials[0].textureData.empty());
  // Read alone (no folder), the same file is refused naming what it names.
  try {
    d3dx::ParseGltf(json.data(), json.size(), "tree.gltf", "");
    ADD_FAILURE();
  } catch (const platform::Error& e) {
    EXPECT_NE(std::string(e.what()).find("\"tree%20data.bin\""), std::string::npos) << e.what();
  }
}

TEST(Gltf, NamesLeavingTheFolderAreRefusedAndNeverRead) {
  const std::string dir = wgtest::ScratchDir("gltf-escape");
  std::filesystem::create_directories(dir + "/model");
  std::ofstream(dir + "/secret.bin") << std::string(72, '\0');
  for (const std::string uri : {"../secret.bin", "%2e%2e/secret.bin", "/etc/passwd", "file:///etc/passwd",
                                "http://example.com/a.bin", "model/../../secret.bin"}) {
    wgtest::GltfDoc d = TriangleDoc();
    d.bufferUri = uri;
    const auto json = wgtest::Bytes(d.Json());
    try {
      d3dx::ParseGltf(json.data(), json.size(), "tree.gltf", dir + "/model");
      ADD_FAILURE() << uri;
    } catch (const platform::Error& e) {
      EXPECT_NE(std::string(e.what()).find("tree.gltf"), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).find("not in its folder"), std::string::npos) << e.what();
    }
  }
  // An image naming a place outside is refused too, though the reader never opens images.
  wgtest::GltfDoc d = TriangleDoc();
  d.images = {R"({"uri":"../secret.bin"})"};
  d.textures = {R"({"source":0})"};
  d.materials = {R"({"pbrMetallicRoughness":{"baseColorTexture":{"index":0}}})"};
  EXPECT_REFUSED(d.GlbFile(), "\"../secret.bin\"");
}

TEST(Gltf, GlbChunksThatLieAreRefused) {
  const std::vector<std::uint8_t> good = TriangleDoc().GlbFile();
  ASSERT_NO_THROW(Parse(good));
  auto with = [&](std::size_t at, std::uint32_t value) {
    std::vector<std::uint8_t> bad = good;
    for (int i = 0; i < 4; ++i)
      bad[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
    return bad;
  };
  const std::uint32_t jsonLength = good[12] | (good[13] << 8) | (good[14] << 16);
  const std::size_t bin = 20 + jsonLength;
  EXPECT_REFUSED(with(4, 1), "version 1");
  EXPECT_REFUSED(with(8, static_cast<std::uint32_t>(good.size() + 4)), "but the file holds");
  EXPECT_REFUSED(with(12, jsonLength + 2), "not a multiple of 4");
  EXPECT_REFUSED(with(12, jsonLength + 4000), "past the end");
  EXPECT_REFUSED(with(16, 0x004E4942), "first chunk is not its JSON");
  EXPECT_REFUSED(with(bin, 6), "not a multiple of 4");
  EXPECT_REFUSED(with(bin, 4000), "past the end");
  EXPECT_REFUSED(with(bin + 4, 0x41414141), "no binary chunk");  // buffer 0 then has no data
  EXPECT_REFUSED(std::vector<std::uint8_t>(good.begin(), good.begin() + 12), "but the file holds");
  for (const std::uint32_t length : {0u, 4u, 12u, 16u}) EXPECT_REFUSED(with(8, length), "no JSON chunk");
  EXPECT_REFUSED(std::vector<std::uint8_t>(good.begin(), good.begin() + 8), "cut short");
}

TEST(Gltf, AccessorsAndViewsOutsideTheirDataAreRefused) {
  auto accessor = [](const std::string& json) {
    wgtest::GltfDoc d = TriangleDoc();
    d.accessors[0] = json;
    return d.GlbFile();
  };
  EXPECT_REFUSED(accessor(R"({"bufferView":0,"componentType":5126,"count":4,"type":"VEC3"})"),
                 "accessors[0] needs 48 bytes of its bufferView, which holds 36");
  EXPECT_REFUSED(accessor(R"({"bufferView":0,"byteOffset":4,"componentType":5126,"count":3,"type":"VEC3"})"),
                 "needs 40 bytes");
  // Counts near 2^53: refused by the model's size for positions, by the bytes needed for the others.
  EXPECT_REFUSED(accessor(R"({"bufferView":0,"componentType":5126,"count":9007199254740992,"type":"VEC3"})"),
                 "triangles");
  wgtest::GltfDoc huge = TriangleDoc();
  huge.bufferViews[1] = R"({"buffer":0,"byteOffset":36,"byteLength":36,"byteStride":252})";
  huge.accessors[1] = R"({"bufferView":1,"componentType":5126,"count":9007199254740992,"type":"VEC3"})";
  EXPECT_REFUSED(huge.GlbFile(),
                 "accessors[1] needs 2269814212194729744 bytes of its bufferView, which holds 36");
  EXPECT_REFUSED(accessor(R"({"componentType":5126,"count":3,"type":"VEC3"})"),
                 "accessors[0] has no bufferView, which POSITION must have");
  EXPECT_REFUSED(accessor(R"({"bufferView":7,"componentType":5126,"count":3,"type":"VEC3"})"),
                 "bufferViews[7], which does not exist");
  EXPECT_REFUSED(accessor(R"({"bufferView":0,"componentType":5123,"count":3,"type":"VEC3"})"),
                 "which POSITION cannot be");
  EXPECT_REFUSED(accessor(R"({"bufferView":0,"componentType":5126,"count":3,"type":"VEC3",
                             "sparse":{"count":1,"indices":{"bufferView":0,"componentType":5125},
                                       "values":{"bufferView":0}}})"),
                 "sparse");
  wgtest::GltfDoc d = TriangleDoc();
  d.bufferViews[1] = R"({"buffer":0,"byteOffset":40,"byteLength":36})";
  EXPECT_REFUSED(d.GlbFile(), "bufferViews[1] (bytes 40 to 76) lies outside its buffer of 72 bytes");
  d = TriangleDoc();
  d.bufferViews[0] = R"({"buffer":0,"byteLength":36,"byteStride":6})";
  EXPECT_REFUSED(d.GlbFile(), "byteStride 6");
  // An index past the vertices.
  d = TriangleDoc();
  d.Data<std::uint16_t>({0, 1, 3}, 5123, "SCALAR");
  d.meshes = {R"({"primitives":[{"attributes":{"POSITION":0},"indices":2}]})"};
  EXPECT_REFUSED(d.GlbFile(), "accessors[2] names vertex 3, but POSITION has 3");
  // Attributes of different lengths.
  d = TriangleDoc();
  d.accessors[1] = R"({"bufferView":1,"componentType":5126,"count":2,"type":"VEC3"})";
  EXPECT_REFUSED(d.GlbFile(), "accessors[1] has 2 elements, but POSITION has 3");
}

TEST(Gltf, HugeAndDeepJsonIsRefusedBeforeParsing) {
  std::string huge = R"({"asset":{"version":"2.0"}})";
  huge.append(100u << 20, ' ');
  EXPECT_REFUSED(wgtest::Bytes(huge), "more than the 64 MB");
  const std::string deep =
      R"({"asset":{"version":"2.0"},"extras":)" + std::string(10000, '[') + std::string(10000, ']') + "}";
  EXPECT_REFUSED(wgtest::Bytes(deep), "more than 64 deep");
  std::string wide = R"({"asset":{"version":"2.0"},"extras":[)";
  for (int i = 0; i < (1 << 21) + 1; ++i) wide += "0,";
  wide += "0]}";
  EXPECT_REFUSED(wgtest::Bytes(wide), "values");
  EXPECT_REFUSED(wgtest::Bytes(R"({"asset":{"version":"2.0"},)"), "its JSON cannot be read");
  EXPECT_REFUSED(wgtest::Bytes(R"({"asset":{"version":"1.0"}})"), "glTF version \"1.0\"");
}

TEST(Gltf, BuffersClaimingTooMuchAreRefusedBeforeDecoding) {
  for (const std::string length : {"1073741824", "1e12", "1000000000000"}) {
    const std::string json = R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":)" + length +
                             R"(,"uri":"data:application/octet-stream;base64,AAAA"}]})";
    EXPECT_REFUSED(wgtest::Bytes(json), "buffers[0] claims");
  }
  // A data URI shorter than its buffer claims.
  const std::string json =
      R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":4,"uri":"data:application/octet-stream;base64,AAAA"}]})";
  EXPECT_REFUSED(wgtest::Bytes(json), "buffers[0] claims 4 bytes, but its data holds 3");
  EXPECT_REFUSED(wgtest::Bytes(R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":1,"uri":"data:,A"}]})"),
                 "not base64");
  EXPECT_REFUSED(
      wgtest::Bytes(R"({"asset":{"version":"2.0"},"buffers":[{"byteLength":1,"uri":"data:;base64,A*AA"}]})"),
      "not base64");
}

TEST(Gltf, NodeCyclesAndSharedChildrenAreRefused) {
  EXPECT_REFUSED(TriangleDoc(R"({"mesh":0,"children":[1]},{"children":[0]})").GlbFile(), "cycle");
  EXPECT_REFUSED(TriangleDoc(R"({"mesh":0,"children":[0]})").GlbFile(), "cycle");
  EXPECT_REFUSED(TriangleDoc(R"({"children":[2]},{"children":[2]},{"mesh":0})").GlbFile(),
                 "nodes[2] is the child of both nodes[0] and nodes[1]");
  wgtest::GltfDoc d = TriangleDoc(R"({"children":[1]},{"mesh":0})");
  d.top = R"(,"scenes":[{"nodes":[0,1]}])";
  EXPECT_REFUSED(d.GlbFile(), "which is the child of nodes[0]");
  d.top = R"(,"scenes":[{"nodes":[0,0]}])";
  EXPECT_REFUSED(d.GlbFile(), "named twice");
}

TEST(Gltf, TenMillionTrianglesAreRefusedByTheirCount) {
  // A 100 000-triangle mesh (three vertices, byte indices) drawn by 100 nodes.
  wgtest::GltfDoc d;
  d.Data<float>({0, 0, 0, 1, 0, 0, 0, 1, 0}, 5126, "VEC3");
  const std::size_t at = d.bin.Add<std::uint8_t>({});
  d.bin.bytes.resize(at + 300000, 0);
  d.View(at, 300000);
  d.accessors.push_back(R"({"bufferView":1,"componentType":5121,"count":300000,"type":"SCALAR"})");
  d.meshes = {R"({"primitives":[{"attributes":{"POSITION":0},"indices":1}]})"};
  std::vector<std::string> children;
  for (int i = 1; i <= 100; ++i) {
    children.push_back(std::to_string(i));
    d.nodes.push_back(R"({"mesh":0})");
  }
  d.nodes.insert(d.nodes.begin(), R"({"children":[)" + wgtest::Join(children) + "]}");
  EXPECT_REFUSED(d.GlbFile(), "more than 2097152 triangles");
  // Claimed without the data: refused by the count, not by reading.
  wgtest::GltfDoc claim = TriangleDoc();
  claim.accessors[0] = R"({"bufferView":0,"componentType":5126,"count":30000000,"type":"VEC3"})";
  EXPECT_REFUSED(claim.GlbFile(), "more than 2097152 triangles");
}

TEST(Gltf, TooManyNodesOrDrawsAreRefusedBeforeTheirTransforms) {
  std::vector<std::string> nodes(d3dx::kMaxGltfDraws + 1, R"({"mesh":0})");
  EXPECT_REFUSED(TriangleDoc(wgtest::Join(nodes)).GlbFile(), "draws meshes at more than 65536 nodes");
  nodes.assign(d3dx::kMaxGltfNodes + 1, "{}");
  EXPECT_REFUSED(TriangleDoc(wgtest::Join(nodes)).GlbFile(), "262145 nodes");
  // As many draws as a model may have: read, one copy each.
  nodes.assign(d3dx::kMaxGltfDraws, R"({"mesh":0})");
  EXPECT_EQ(Parse(TriangleDoc(wgtest::Join(nodes)).GlbFile()).attributes.size(), d3dx::kMaxGltfDraws);
}

TEST(Gltf, RequiredExtensionsWeCannotReadAreRefusedNamingThem) {
  for (const std::string ext :
       {"KHR_draco_mesh_compression", "EXT_meshopt_compression", "KHR_texture_basisu", "VENDOR_anything"}) {
    wgtest::GltfDoc d = TriangleDoc();
    d.top = R"(,"extensionsUsed":[")" + ext + R"("],"extensionsRequired":[")" + ext + "\"]";
    const std::string why = Refusal(d.GlbFile());
    EXPECT_NE(why.find(ext), std::string::npos) << why;
    EXPECT_NE(why.find("re-export the model without compression"), std::string::npos) << why;
  }
  // Each compression names the command that undoes it.
  const auto fix = [](const std::string& ext) {
    wgtest::GltfDoc d = TriangleDoc();
    d.top = R"(,"extensionsUsed":[")" + ext + R"("],"extensionsRequired":[")" + ext + "\"]";
    return Refusal(d.GlbFile());
  };
  EXPECT_NE(fix("KHR_draco_mesh_compression").find("gltf-transform copy IN.glb OUT.glb"), std::string::npos);
  EXPECT_NE(fix("EXT_meshopt_compression").find("gltf-transform dequantize IN.glb OUT.glb"), std::string::npos);
  EXPECT_NE(fix("KHR_mesh_quantization").find("gltf-transform dequantize IN.glb OUT.glb"), std::string::npos);
  // Used but not required: read, the extension ignored.
  wgtest::GltfDoc d = TriangleDoc();
  d.top = R"(,"extensionsUsed":["KHR_materials_unlit"])";
  EXPECT_EQ(Parse(d.GlbFile()).vertices.size(), 3u);
}

TEST(Gltf, TheSameModelAsGlbOrAsGltfWithDataUrisReadsTheSame) {
  // The fuzzer's seeds: each must be read, or the fuzzer starts from refusals.
  const std::string seeds = std::string(WG_SOURCE_DIR) + "/fuzz/corpus/gltf/";
  const auto glb = Parse(wgtest::Bytes(wgtest::Slurp(seeds + "full.glb")));
  const auto gltf = Parse(wgtest::Bytes(wgtest::Slurp(seeds + "full.gltf")));
  // Three triangles (indexed, strip, fan; the points skipped), drawn by two nodes.
  ASSERT_EQ(glb.attributes, (std::vector<std::uint32_t>{0, 1, 1, 0, 1, 1}));
  EXPECT_EQ(gltf.attributes, glb.attributes);
  EXPECT_EQ(gltf.indices, glb.indices);
  ASSERT_EQ(gltf.vertices.size(), glb.vertices.size());
  for (std::size_t i = 0; i < glb.vertices.size(); ++i) {
    EXPECT_EQ(std::memcmp(&gltf.vertices[i], &glb.vertices[i], sizeof(d3dx::XVertex)), 0) << i;
  }
  EXPECT_EQ(glb.vertices[0].color, 0xFFFF0000u);
  EXPECT_EQ(glb.vertices[2].color, 0x800000FFu);
  EXPECT_EQ(glb.vertices[1].tu, 1.0f);
  EXPECT_EQ(glb.materials[0].textureData, gltf.materials[0].textureData);
  EXPECT_EQ(glb.materials[0].textureData.size(), 16u);
  EXPECT_EQ(glb.materials[0].textureFilename, "tree.glb#image0");
  for (const char* seed : {"triangle.glb", "strided.glb"})
    EXPECT_EQ(Parse(wgtest::Bytes(wgtest::Slurp(seeds + seed))).attributes.size(), 1u) << seed;
}

TEST(Gltf, LooksLikeGltfKnowsGlbAndGltfJsonAndNothingElse) {
  auto looks = [](const std::string& s) {
    return d3dx::LooksLikeGltf(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  const auto glb = TriangleDoc().GlbFile();
  EXPECT_TRUE(d3dx::LooksLikeGltf(glb.data(), glb.size()));
  EXPECT_TRUE(looks("\xEF\xBB\xBF \r\n{\"asset\":{\"version\":\"2.0\"}}"));
  EXPECT_TRUE(looks(TriangleDoc().Json()));
  EXPECT_FALSE(looks("xof 0303txt 0032\nMesh {}"));
  EXPECT_FALSE(looks("[{\"asset\":1}]"));
  EXPECT_FALSE(looks("{\"name\":\"not a model\"}"));
  EXPECT_FALSE(looks(""));
  EXPECT_FALSE(looks("glT"));
}

}  // namespace
