// What the page sends and how it unpacks it: JPEG textures decoded by the browser to the desktop
// decoder's texels, compressed files inflated, and the face the first frame needs fetched while the
// runtime still loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "platform/d3dx/Texture.h"
#include "tests/support/Browser.h"
#include "tests/web/WebExported.h"

namespace {

using namespace std::chrono_literals;
using wgtest::Chromium;

void OpenFixedPage(Chromium& browser, const wgtest::StaticServer& server) {
  browser.Navigate(server.Url("/index.html?frames=2"));
  ASSERT_TRUE(
      browser.WaitFor("document.title.startsWith('done') || document.title.startsWith('failed')", 120s));
  ASSERT_EQ(browser.Evaluate("document.title").str(), "done: frame 2");
}

TEST(WebLoading, TheBrowserDecodesTheJpegTexturesToTheDesktopsTexels) {
  SKIP_WITHOUT_BROWSER();
  const std::string page = wgtest::ExportedPage();
  wgtest::StaticServer server(page);
  Chromium browser;
  OpenFixedPage(browser, server);
  for (const auto& [runtimePath, sent, source] :
       {std::tuple{"/greeting/tex/snow.jpg", "/greeting/choices/ground/snow/snow.jpg", "/tex/snow.jpg"},
        std::tuple{"/greeting/models/needles.jpg", "/greeting/choices/tree/fir/needles.jpg",
                   "/models/needles.jpg"},
        std::tuple{"/greeting/models/bark.jpg", "/greeting/choices/tree/fir/bark.jpg", "/models/bark.jpg"}}) {
    SCOPED_TRACE(runtimePath);
    // The page is sent the JPEG itself.
    const std::string jpeg = wgtest::Slurp(page + sent);
    ASSERT_EQ(jpeg, wgtest::Slurp(wgtest::AppDir() + source));
    const std::string got = wgtest::DecodeDataUrl(
        "data:application/octet-stream;base64," +
        browser.Evaluate(std::string("wgPage.fileBase64('") + runtimePath + "')").str());
    const d3dx::DecodedImage want =
        d3dx::DecodeImage(reinterpret_cast<const std::uint8_t*>(jpeg.data()), jpeg.size(), source);
    // One level of texels: "WGTEXLV1", 1, width, height, then the rows.
    ASSERT_EQ(got.size(), 20 + want.level.rgba.size());
    EXPECT_EQ(got.substr(0, 12), std::string("WGTEXLV1\1\0\0\0", 12));
    EXPECT_EQ(static_cast<unsigned char>(got[12]) | static_cast<unsigned char>(got[13]) << 8,
              want.level.width);
    EXPECT_EQ(static_cast<unsigned char>(got[16]) | static_cast<unsigned char>(got[17]) << 8,
              want.level.height);
    int worst = 0;
    std::size_t off = 0;
    for (std::size_t i = 0; i < want.level.rgba.size(); ++i) {
      const int d = std::abs(static_cast<unsigned char>(got[20 + i]) - int{want.level.rgba[i]});
      worst = std::max(worst, d);
      off += d != 0;
    }
    EXPECT_EQ(worst, 0) << off << " of " << want.level.rgba.size() << " texel channels differ";
  }
}

TEST(WebLoading, TheFacePickedAheadOfTheRuntimeIsTheOneItDrawsWith) {
  SKIP_WITHOUT_BROWSER();
  wgtest::StaticServer server(wgtest::ExportedPage());
  Chromium browser;
  OpenFixedPage(browser, server);
  // Every even canvas height the page may have, at widths of each kind.
  const wgtest::Json result = browser.Evaluate(
      "(() => { const off = []; let n = 0;"
      " for (let h = 320; h <= 2320; h += 2) for (const w of [320, 1024, 1920, 4096]) {"
      "   const [guess, runtime] = wgPage.faceFor(w, h); ++n;"
      "   if (guess !== runtime) off.push(w + 'x' + h + ': ' + guess + ' not ' + runtime); }"
      " return [n, off.slice(0, 5).join('; ')]; })()");
  EXPECT_EQ(result[0].num(), 4004);
  EXPECT_EQ(result[1].str(), "");
  EXPECT_EQ(browser.Evaluate("wgPage.faceFor(1024, 768)[0]").num(), 24);
}

// The runtime, the model and the faces are stored compressed, and the page ran from them.
TEST(WebLoading, TheRuntimeAndPreparedMediaAreSentCompressed) {
  SKIP_WITHOUT_BROWSER();
  const std::string page = wgtest::ExportedPage();
  for (const char* f : {"/runtime.wasm", "/runtime.js", "/greeting/choices/tree/fir/tree.x.model",
                        "/greeting/tex/snow.png.texels", "/greeting/fonts/Arial-24px-bold.glyphs"}) {
    const std::string bytes = wgtest::Slurp(page + f);
    ASSERT_GT(bytes.size(), 2u) << f;
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b") << f << " is not gzip";
  }
  // The runtime's script compresses to under a third: what the page would otherwise be sent whole.
  EXPECT_LT(wgtest::Slurp(page + "/runtime.js").size() * 3,
            wgtest::Slurp(wgtest::AppDir() + "/web/runtime.js").size());
}

// The built-in card's start-up files come in one pack, which holds each as it lies in the folder; the
// page preloads the pack instead of them and asks the server for none of them.
TEST(WebLoading, TheFirstFramesFilesComeInOnePack) {
  SKIP_WITHOUT_BROWSER();
  const std::string page = wgtest::ExportedPage();
  const wgtest::Json manifest = wgtest::Json::Parse(wgtest::Slurp(page + "/greeting/manifest.json"));
  ASSERT_EQ(manifest["pack"]["url"].str(), "greeting/start.pack");
  const wgtest::Json& files = manifest["pack"]["files"];
  // The shared files, and the first tune's, ground's and tree's.
  std::vector<std::string> want{manifest["files"][0][0].str(), manifest["files"][1][0].str()};
  for (const char* kind : {"tune", "ground", "tree"})
    for (std::size_t i = 0; i < manifest["choices"][kind][0]["files"].size(); ++i)
      want.push_back(manifest["choices"][kind][0]["files"][i][0].str());
  ASSERT_EQ(files.size(), want.size());
  const std::string pack = wgtest::Slurp(page + "/greeting/start.pack");
  ASSERT_EQ(pack.substr(0, 8), "WGPACK01");
  std::size_t at = 8;
  const auto u32 = [&] {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(pack.at(at++))) << (8 * i);
    return v;
  };
  ASSERT_EQ(u32(), want.size());
  const std::string html = wgtest::Slurp(page + "/index.html");
  EXPECT_NE(html.find("<link rel=\"preload\" href=\"greeting/start.pack\" as=\"fetch\" crossorigin>"),
            std::string::npos);
  for (std::size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(files[i].str(), want[i]);
    const std::uint32_t n = u32();
    EXPECT_EQ(pack.substr(at, n), want[i]);
    at += n;
    const std::uint32_t size = u32();
    EXPECT_EQ(pack.substr(at, size), wgtest::Slurp(page + "/" + want[i])) << want[i];
    at += size;
    EXPECT_EQ(html.find("href=\"" + want[i] + "\""), std::string::npos) << want[i] << " is preloaded";
  }
  EXPECT_EQ(at, pack.size());

  wgtest::StaticServer server(page);
  Chromium browser;
  OpenFixedPage(browser, server);
  const std::vector<std::string> asked = server.Requests();
  EXPECT_EQ(std::count(asked.begin(), asked.end(), "/greeting/start.pack"), 1);
  for (const std::string& url : want)
    EXPECT_EQ(std::count(asked.begin(), asked.end(), "/" + url), 0) << url << " was fetched on its own";
}

}  // namespace
