// The web floor's recorder and page: what the recording holds (each static geometry once, flat
// colours turned for WebGL2, only the snow that draws), and the page in headless Chromium drawing the
// greeting's frame from it as the desktop draws it, and refusing a recording that lies.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

#include "bench/WebFloorRecording.h"
#include "tests/support/Browser.h"
#include "tests/support/FrameDiff.h"
#include "tests/support/Harness.h"
#include "tests/web/WebFrameLimits.h"

namespace {

using d3d::RecordingBackend;
using namespace std::chrono_literals;

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

template <class T>
std::vector<std::uint8_t> Bytes(std::initializer_list<T> values) {
  std::vector<std::uint8_t> out(values.size() * sizeof(T));
  std::memcpy(out.data(), values.begin(), out.size());
  return out;
}

std::shared_ptr<d3d::Texture> OneTexel(std::uint8_t r) {
  auto t = std::make_shared<d3d::Texture>();
  t->levels.push_back({1, 1, {r, 0, 0, 255}});
  return t;
}

RecordingBackend::Draw TreeDraw(std::shared_ptr<d3d::Texture> texture) {
  RecordingBackend::Draw d;
  d.call.type = d3d::D3DPT_TRIANGLELIST;
  d.call.fvf = d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_TEX1;
  d.call.stride = 24;
  d.call.vertexCount = 4;
  d.vertexData.assign(4 * 24, 7);
  d.indexData = {0, 1, 2, 2, 1, 3};
  d.call.indexCount = 6;
  d.state.textures[0] = std::move(texture);
  return d;
}

// Three flakes, the middle one transparent.
RecordingBackend::Draw SnowDraw(std::shared_ptr<d3d::Texture> texture) {
  RecordingBackend::Draw d;
  d.call.type = d3d::D3DPT_POINTLIST;
  d.call.fvf = d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE;
  d.call.stride = 16;
  d.call.vertexCount = 3;
  for (std::uint32_t argb : {0xFF0000FFu, 0x00FFFFFFu, 0x80FFFFFFu}) {
    const auto v = Bytes<float>({1, 2, 3});
    d.vertexData.insert(d.vertexData.end(), v.begin(), v.end());
    const auto c = Bytes<std::uint32_t>({argb});
    d.vertexData.insert(d.vertexData.end(), c.begin(), c.end());
  }
  d.state.textures[0] = std::move(texture);
  return d;
}

TEST(WebFloorRecorder, WritesStaticGeometryOnceAndTheVisibleSnowEachFrame) {
  auto bark = OneTexel(10), flake = OneTexel(20);
  bench::WebFloorRecorder r;
  r.addFrame({TreeDraw(bark), SnowDraw(flake)}, 0xFF7F7FB4);
  r.addFrame({TreeDraw(bark), SnowDraw(flake)}, 0xFF7F7FB4);
  EXPECT_EQ(r.frames(), 2u);
  EXPECT_EQ(r.geometries(), 1u);
  EXPECT_EQ(r.textures(), 2u);
  EXPECT_EQ(r.pointsKept, 4u);
  EXPECT_EQ(r.pointsDropped, 2u);

  const std::vector<std::uint8_t> b = r.bytes();
  ASSERT_EQ(std::string(b.begin(), b.begin() + 4), "WGF1");
  EXPECT_EQ(U32(b, 4), 2u);
  EXPECT_EQ(U32(b, 8), 2u);
  EXPECT_EQ(U32(b, 12), 1u);
  // Each texture: one level of 1 x 1, its texel.
  EXPECT_EQ(U32(b, 16), 1u);
  EXPECT_EQ(U32(b, 28), 0xFF00000Au);
  EXPECT_EQ(U32(b, 44), 0xFF000014u);
  // The tree: its kind, 96 vertex bytes, 6 indices, each triangle turned so that its first vertex
  // (whose colour Direct3D's flat shading takes) comes last, where WebGL2 takes it from.
  std::size_t at = 48;
  EXPECT_EQ(U32(b, at), static_cast<std::uint32_t>(bench::WebFloorKind::TreeTextured));
  EXPECT_EQ(U32(b, at + 4), 96u);
  EXPECT_EQ(U32(b, at + 8), 6u);
  const std::vector<std::uint8_t> indices(b.begin() + static_cast<long>(at + 12 + 96),
                                          b.begin() + static_cast<long>(at + 12 + 96 + 12));
  EXPECT_EQ(indices, Bytes<std::uint16_t>({1, 2, 0, 1, 3, 2}));
  at += 12 + 96 + 12;
  // Frame 1: the clear, two draws; the tree names texture 0 and geometry 0.
  EXPECT_EQ(U32(b, at), 0xFF7F7FB4u);
  EXPECT_EQ(U32(b, at + 4), 2u);
  EXPECT_EQ(U32(b, at + 12), 0u);
  EXPECT_EQ(U32(b, at + 16), 0u);
  at += 8 + 16 + 44 * 4;
  // The snow: texture 1, its own vertices, the two that draw.
  EXPECT_EQ(U32(b, at), static_cast<std::uint32_t>(bench::WebFloorKind::Snow));
  EXPECT_EQ(U32(b, at + 4), 1u);
  EXPECT_EQ(U32(b, at + 8), 0xFFFFFFFFu);
  EXPECT_EQ(U32(b, at + 12), 2u);
  at += 16 + 44 * 4;
  EXPECT_EQ(U32(b, at + 12), 0xFF0000FFu);
  EXPECT_EQ(U32(b, at + 28), 0x80FFFFFFu);
  EXPECT_EQ(b.size(), at + 32 + 8 + 2 * (16 + 44 * 4) + 32);
}

TEST(WebFloorRecorder, RefusesADrawItHasNoShaderFor) {
  bench::WebFloorRecorder r;
  RecordingBackend::Draw lines = TreeDraw(nullptr);
  lines.call.type = d3d::D3DPT_LINELIST;
  try {
    r.addFrame({lines}, 0);
    FAIL() << "a line list was recorded";
  } catch (const std::runtime_error& e) {
    EXPECT_THAT(e.what(), testing::HasSubstr("vertex format 322, primitive type 2"));
  }
}

class WebFloorPage : public testing::Test {
 protected:
  void SetUp() override {
    if (!wgtest::Chromium::Installed()) GTEST_SKIP() << "Chromium is not installed (scripts/install-deps.sh --test)";
    dir = wgtest::ScratchDir("web-floor-test");
    for (const char* file : {"index.html", "floor.js"})
      std::filesystem::copy_file(std::string(WG_SOURCE_DIR) + "/bench/web-floor/" + file, dir + "/" + file);
    // Before the browser, whose protocol pipe must not take the lowest free descriptors.
    server = std::make_unique<wgtest::StaticServer>(dir);
  }
  std::string Run(wgtest::Chromium& browser, const std::string& query) {
    browser.Navigate(server->Url("/index.html" + query));
    EXPECT_TRUE(browser.WaitFor("document.title.startsWith('done') || document.title.startsWith('failed')", 120s));
    return browser.Evaluate("document.title").str();
  }
  std::string dir;
  std::unique_ptr<wgtest::StaticServer> server;
};

// The greeting's own frame 130, recorded on the desktop and drawn by the floor, within the limits
// the exported page's frame 130 keeps to against the desktop's reference.
TEST_F(WebFloorPage, DrawsTheGreetingsFrameAsTheDesktopDoes) {
  const bench::WebFloorRecorder r = bench::WriteWebFloorRecording(wgtest::AppDir(), 130, dir + "/recording.bin");
  EXPECT_EQ(r.frames(), 130u);
  EXPECT_GT(r.pointsKept, 0u);
  EXPECT_GT(r.pointsDropped, 0u);
  // The ground and the tree's parts, once, however many frames draw them.
  EXPECT_EQ(r.geometries(), bench::WriteWebFloorRecording(wgtest::AppDir(), 2, dir + "/two.bin").geometries());
  EXPECT_LT(std::filesystem::file_size(dir + "/recording.bin"), 20'000'000u);
  wgtest::Chromium browser;
  ASSERT_EQ(Run(browser, "?frames=130"), "done: frame 130");
  EXPECT_GT(browser.Evaluate("wgResult.ms").num(), 0);
  const std::string png = wgtest::DecodeDataUrl(browser.Evaluate("wgResult.png").str());
  std::ofstream(dir + "/floor.png", std::ios::binary) << png;
  const wgtest::Picture want =
      wgtest::LoadPng(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-130.png");
  std::string measured;
  EXPECT_EQ(wgtest::LimitViolations(wgtest::PngFromMemory(png), want, 130, &measured), "")
      << measured << "; " << dir << "/floor.png";
}

TEST_F(WebFloorPage, RefusesARecordingThatLies) {
  const bench::WebFloorRecorder r = bench::WriteWebFloorRecording(wgtest::AppDir(), 2, dir + "/recording.bin");
  wgtest::Chromium browser;
  EXPECT_EQ(Run(browser, "?frames=3"), "failed: frames=3: the recording holds frames 1..2");
  // Cut inside the last frame's snow.
  std::filesystem::resize_file(dir + "/recording.bin", std::filesystem::file_size(dir + "/recording.bin") - 1000);
  EXPECT_EQ(Run(browser, "?frames=2"), "failed: recording.bin ends inside a draw");
  // A texture claiming more than the page takes.
  std::vector<char> bytes(std::filesystem::file_size(dir + "/recording.bin"));
  std::ifstream(dir + "/recording.bin", std::ios::binary).read(bytes.data(), static_cast<long>(bytes.size()));
  const std::uint32_t huge = 100000;
  std::memcpy(bytes.data() + 20, &huge, 4);
  std::ofstream(dir + "/recording.bin", std::ios::binary).write(bytes.data(), static_cast<long>(bytes.size()));
  EXPECT_EQ(Run(browser, "?frames=2"), "failed: recording.bin: texture width 100000 is over 8192");
}

}  // namespace
