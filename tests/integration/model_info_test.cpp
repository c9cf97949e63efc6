// model-info, run as a user runs it on a model of their own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>

#include "tests/scene/XFileWriter.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"

namespace {

struct Result {
  int code;
  std::string out;
};

Result ModelInfo(const std::string& args, const std::string& dir) {
  const std::string cmd = wgtest::AppDir() + "/model-info " + args + " >" + dir + "/out 2>&1";
  const int rc = std::system(cmd.c_str());
  return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, wgtest::Slurp(dir + "/out")};
}

TEST(ModelInfo, TheDemosTreeDrawsAsIntended) {
  const std::string dir = wgtest::ScratchDir("model-info-tree");
  const Result r = ModelInfo(wgtest::AppDir() + "/models/tree.x", dir);
  EXPECT_EQ(r.code, 0) << r.out;
  EXPECT_NE(r.out.find("  form: X, text, 32-bit floats\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("  bounding box: ("), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("texture \"bark.jpg\"\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("JPEG image of 128x128 pixels, decodes\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("result: the model draws as intended\n"), std::string::npos) << r.out;
}

TEST(ModelInfo, SaysWhichTexturesAreFoundHowAndWhichAreNot) {
  const std::string dir = wgtest::ScratchDir("model-info-own");
  // A compressed binary model with four textures: one in another case in a sub-folder, one absent,
  // one that is no image, and one exactly as named.
  wgtest::XFileWriter w;
  w.Open("Mesh")
      .Ints({3})
      .Floats({0, 0, 0, 2, 0, 0, 0, 1, -3})
      .Ints({4, 3, 0, 1, 2, 3, 0, 2, 1, 3, 1, 2, 0, 3, 2, 1, 0});
  w.Open("MeshMaterialList").Ints({4, 4, 0, 1, 2, 3});
  const char* names[4] = {"Maps\\BARK.BMP", "moss.png", "notes.tga", "ok.png"};
  for (const char* n : names) {
    w.Open("Material").Floats({1, 0.5, 0.25, 1, 0, 0, 0, 0, 0, 0, 0});
    w.Open("TextureFilename").String(n).Close().Close();
  }
  w.Close().Close();
  const auto x = w.CompressedBinary(true);
  std::ofstream(dir + "/Own Model.x", std::ios::binary)
      .write(reinterpret_cast<const char*>(x.data()), static_cast<std::streamsize>(x.size()));
  std::filesystem::create_directories(dir + "/maps");
  std::filesystem::copy_file(std::string(WG_SOURCE_DIR) + "/tests/data/images/rgb24.bmp",
                             dir + "/maps/bark.bmp");
  std::filesystem::copy_file(std::string(WG_SOURCE_DIR) + "/tests/data/images/interlaced.png",
                             dir + "/ok.png");
  std::ofstream(dir + "/notes.tga") << "not an image";

  const Result r = ModelInfo("'" + dir + "/Own Model.x'", dir);
  EXPECT_EQ(r.code, 1) << r.out;
  for (const std::string& line : {
           std::string("  form: X, compressed binary, 64-bit floats\n"),
           std::string("  vertices 3, triangles 4, materials 4\n"),
           std::string("  bounding box: (0, 0, -3) to (2, 1, 0)\n"),
           std::string("  material 0: 1 triangles, diffuse (1, 0.5, 0.25, 1), texture \"Maps\\BARK.BMP\"\n"),
           "    file " + dir +
               "/maps/bark.bmp (\"Maps\" matched \"maps\" ignoring case; \"BARK.BMP\" matched "
               "\"bark.bmp\" ignoring case)\n",
           std::string("    BMP image of 5x4 pixels, decodes\n"),
           "    not found: no file named \"moss.png\" in " + dir + ", in any case\n",
           "    does not decode: D3DXCreateTextureFromFile: not an image in a format textures are read from "
           "(JPEG, "
           "PNG, BMP, TGA or DDS) (" +
               dir + "/notes.tga)\n",
           std::string("    PNG image of 5x4 pixels, decodes\n"),
           std::string("result: 2 of 4 textures cannot be used; their triangles draw untextured\n"),
       })
    EXPECT_NE(r.out.find(line), std::string::npos) << line << "\nin:\n" << r.out;
}

// The example tree in every other format reads as the same model, its images found beside it or
// inside it, its glass bauble blended.
TEST(ModelInfo, GltfAndObjModelsReadWithTheirImagesAndMaterials) {
  const std::string dir = wgtest::ScratchDir("model-info-formats");
  const std::string models = wgtest::AppDir() + "/examples-models/";
  using Case = std::tuple<std::string, std::string, std::string>;
  for (const auto& [file, form, image] :
       {Case{"tree.glb", "glTF 2.0, binary (GLB)", "    inside the model, "},
        Case{"tree.gltf", "glTF 2.0, JSON", "    file " + models + "crown.png\n"},
        Case{"tree-embedded.gltf", "glTF 2.0, JSON", "    inside the model, "},
        Case{"tree.obj", "Wavefront OBJ", "    file " + models + "crown.jpg\n"}}) {
    const Result r = ModelInfo(models + file, dir);
    EXPECT_EQ(r.code, 0) << r.out;
    for (const std::string& line : {"  form: " + form + "\n", std::string("  normals yes, vertex colours "), image,
                                    std::string(", blended"),
                                    std::string("result: the model draws as intended\n")})
      EXPECT_NE(r.out.find(line), std::string::npos) << file << ": " << line << "\nin:\n" << r.out;
  }
  const Result bare = ModelInfo(models + "tree-no-normals.glb", dir);
  EXPECT_NE(bare.out.find("  normals no, "), std::string::npos) << bare.out;
}

TEST(ModelInfo, ABrokenOrMissingModelAndAWrongCommandLine) {
  const std::string dir = wgtest::ScratchDir("model-info-bad");
  std::ofstream(dir + "/bad.x") << "xof 0303txt 0032\nMesh { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,7;; }\n";
  Result r = ModelInfo(dir + "/bad.x", dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("D3DXLoadMeshFromX: Mesh: face vertex index 7 beyond 3 vertices (" + dir +
                       "/bad.x)\n"
                       "result: the model cannot be loaded\n"),
            std::string::npos)
      << r.out;
  r = ModelInfo(dir + "/none.x", dir);
  EXPECT_EQ(r.code, 1);
  EXPECT_NE(r.out.find("no file named \"none.x\""), std::string::npos) << r.out;
  EXPECT_EQ(ModelInfo("", dir).code, 2);
  r = ModelInfo("--help", dir);
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("usage: model-info FILE\n"), std::string::npos);
}

}  // namespace
