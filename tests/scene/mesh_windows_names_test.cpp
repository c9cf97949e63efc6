// A model made on Windows, in the application's models folder: its texture names find their files
// in another case and through backslashed folders, in BMP and DDS as well as JPEG and PNG.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "scene/Mesh.h"
#include "tests/scene/XFileWriter.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

TEST(MeshTextures, NamesWrittenOnWindowsFindTheirFiles) {
  const std::string app = wgtest::AppDirWithout("mesh-windows-names", {});
  const std::string images = std::string(WG_SOURCE_DIR) + "/tests/data/images/";
  fs::create_directories(app + "/models/maps");
  fs::copy_file(images + "rgb24.bmp", app + "/models/maps/bark.BMP");
  fs::copy_file(images + "dxt5.dds", app + "/models/DXT5.dds");
  wgtest::XFileWriter w;
  w.Open("Mesh").Ints({3}).Floats({0, 0, 0, 1, 0, 0, 0, 1, 0}).Ints({3, 3, 0, 1, 2, 3, 0, 2, 1, 3, 1, 2, 0});
  w.Open("MeshTextureCoords").Ints({3}).Floats({0, 0, 1, 0, 0, 1}).Close();
  w.Open("MeshMaterialList").Ints({3, 3, 0, 1, 2});
  for (const char* name : {"MAPS\\Bark.bmp", "dxt5.DDS", "absent.tga"}) {
    w.Open("Material").Floats({1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0});
    w.Open("TextureFileName").String(name).Close().Close();
  }
  w.Close().Close();
  const auto x = w.Binary();
  std::ofstream(app + "/models/own.x", std::ios::binary)
      .write(reinterpret_cast<const char*>(x.data()), static_cast<std::streamsize>(x.size()));

  wgtest::RecordingDemo demo(app);
  demo.form.D3D.InitD3D(nullptr);
  scene::Mesh& mesh = demo.form.D3D.GetMesh();
  mesh.Load(&demo.device(), app + "/models/own.x");
  ASSERT_EQ(mesh.GetNumMaterials(), 3);
  const auto& tex = mesh.GetTextures();
  ASSERT_TRUE(tex[0]);
  EXPECT_EQ(tex[0]->source, app + "/models/maps/bark.BMP");
  EXPECT_EQ(tex[0]->Width(), 5);
  ASSERT_TRUE(tex[1]);
  EXPECT_EQ(tex[1]->Width(), 8);
  EXPECT_FALSE(tex[2]);
}

}  // namespace
