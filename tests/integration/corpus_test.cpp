// The real-world corpus beside the checkout (../shared/corpus/x: 45 X files from several exporters,
// with the images that lie in their folders): every model loads and draws, every texture it names
// that is in its folder is found and decodes, and the contact sheet shows each one in its tile.
#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "tests/support/RecordingBackend.h"
#include "platform/d3dx/Mesh.h"
#include "platform/d3dx/Texture.h"
#include "platform/d3dx/XFile.h"
#include "platform/files/FileName.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

const fs::path kCorpus = fs::path(WG_SOURCE_DIR) / ".." / "shared" / "corpus" / "x";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::vector<fs::path> Models() {
  std::vector<fs::path> models;
  for (const auto& e : fs::recursive_directory_iterator(kCorpus))
    if (e.is_regular_file() && Lower(e.path().extension().string()) == ".x") models.push_back(e.path());
  std::sort(models.begin(), models.end());
  return models;
}

#define SKIP_WITHOUT_CORPUS() \
  if (!fs::is_directory(kCorpus)) GTEST_SKIP() << "no real-world corpus at " << kCorpus.string()

TEST(Corpus, EveryModelLoadsAndDrawsEachOfItsSubsets) {
  SKIP_WITHOUT_CORPUS();
  const auto models = Models();
  EXPECT_EQ(models.size(), 45u);
  for (const fs::path& file : models) {
    SCOPED_TRACE(file.string());
    auto backend = std::make_unique<d3d::RecordingBackend>();
    d3d::RecordingBackend& rec = *backend;
    rec.recordCalls = false;
    d3d::Device dev(std::move(backend));
    d3dx::D3DXMaterialBuffer materials;
    d3d::DWORD count = 0;
    std::unique_ptr<d3dx::D3DXMesh> mesh;
    ASSERT_NO_THROW(
        mesh = d3dx::D3DXLoadMeshFromX(file.string(), d3dx::D3DXMESH_MANAGED, dev, materials, count));
    EXPECT_GT(mesh->GetNumFaces(), 0u);
    EXPECT_GE(count, 1u);
    dev.BeginScene();
    std::size_t faces = 0;
    for (d3d::DWORD i = 0; i < count; ++i) {
      mesh->DrawSubset(i);
      faces += mesh->GetSubsetFaceCount(i);
    }
    dev.EndScene();
    EXPECT_EQ(faces, mesh->GetNumFaces());
    EXPECT_FALSE(rec.draws.empty());
  }
}

TEST(Corpus, EveryTextureInItsModelsFolderIsFoundAndDecodes) {
  SKIP_WITHOUT_CORPUS();
  std::size_t named = 0, found = 0, byCase = 0;
  std::set<std::string> absent;
  for (const fs::path& file : Models()) {
    const auto bytes = d3dx::ReadFile("test", file.string());
    const d3dx::XModel model = d3dx::ParseXFile(bytes.data(), bytes.size(), file.string());
    // Every file in the model's folder, and below it, by its name in small letters.
    std::set<std::string> there;
    for (const auto& e : fs::recursive_directory_iterator(file.parent_path()))
      there.insert(Lower(e.path().filename().string()));
    for (const auto& m : model.materials) {
      if (m.textureFilename.empty()) continue;
      ++named;
      SCOPED_TRACE(file.string() + ": " + m.textureFilename);
      const platform::FoundFile f = platform::FindFileIn(file.parent_path().string(), m.textureFilename);
      const std::string base = Lower(m.textureFilename.substr(m.textureFilename.find_last_of("\\/") + 1));
      if (!f.found()) {
        EXPECT_EQ(there.count(base), 0u) << "there but not found: " << f.note;
        absent.insert(fs::relative(file, kCorpus).string() + ": " + m.textureFilename);
        continue;
      }
      ++found;
      byCase += !f.note.empty();
      const auto image = d3dx::ReadFile("test", f.path);
      EXPECT_NO_THROW(d3dx::DecodeImage(image.data(), image.size(), f.path));
    }
  }
  // 244 names: 104 match their file exactly, 123 only without regard to case, and these are absent
  // from the corpus in any case.
  EXPECT_EQ(named, 244u);
  EXPECT_EQ(found, 227u);
  EXPECT_EQ(byCase, 123u);
  EXPECT_EQ(absent, (std::set<std::string>{
                        "samples/AGore/BirdDemo/Canyon.x: Textures\\\\Moss.bmp",
                        "samples/AGore/BirdDemo/Canyon.x: Textures\\\\Rock.bmp",
                        "samples/AGore/HeadDemo/Eye.x: Eye.bmp",
                        "samples/AGore/HeadDemo/Head.x: Face.tga",
                        "samples/birdie/Jet Tails/jet.x: F15.bmp",
                        "samples/mak/castle/markio/mariorun.x: peach.bmp",
                        "samples/mak/castle/markio/mariorun.x: suspenders.bmp",
                        "samples/mak/castle/markio/mariorun.x: white.bmp",
                        "samples/zenith/scare/models/level/crate.x: crate02.png",
                    }));
}

TEST(Corpus, TheContactSheetShowsEveryModelFittedInItsTile) {
  SKIP_WITHOUT_CORPUS();
  const std::string dir = wgtest::ScratchDir("corpus-sheet");
  const std::string cmd = wgtest::AppDir() + "/../tools/model-sheet '" + kCorpus.string() + "' " + dir +
                          "/models.png >" + dir + "/log 2>&1";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  int w = 0, h = 0, n = 0;
  stbi_uc* px = stbi_load((dir + "/models.png").c_str(), &w, &h, &n, 3);
  ASSERT_NE(px, nullptr);
  ASSERT_EQ(w, 9 * 256);
  ASSERT_EQ(h, 5 * 192);
  int coloured = 0;  // tiles with a strongly coloured part: models drawn in their materials' colours
  for (int t = 0; t < 45; ++t) {
    SCOPED_TRACE("tile " + std::to_string(t));
    int saturated = 0;
    const int tx = t % 9 * 256, ty = t / 9 * 192;
    // Below the two lines of the label: pixels off the background (0x283040).
    int count = 0, x0 = 256, x1 = -1, y0 = 192, y1 = -1;
    for (int y = 40; y < 192; ++y)
      for (int x = 0; x < 256; ++x) {
        const stbi_uc* p = px + ((static_cast<std::size_t>(ty) + y) * w + tx + x) * 3;
        if (std::abs(p[0] - 0x28) + std::abs(p[1] - 0x30) + std::abs(p[2] - 0x40) <= 24) continue;
        ++count;
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        saturated += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]}) > 100;
      }
    coloured += saturated > 200;
    EXPECT_GT(count, 256 * 152 / 100);
    // Fitted: a good part of the tile across or down, and clear of its sides.
    EXPECT_GT(std::max(x1 - x0, y1 - y0), 80);
    EXPECT_GT(x0, 0);
    EXPECT_LT(x1, 255);
    EXPECT_LT(y1, 191);
  }
  // The UFOs, the camel, the sphinx, the dolphins, the car, the robots...: their materials' colours.
  EXPECT_GE(coloured, 12);  // 15 when drawn so; 5 when every material was drawn white
  stbi_image_free(px);
}

}  // namespace
