// What the page sends and how it unpacks it: JPEG textures decoded by the browser to the desktop
// decoder's texels, compressed files inflated, and the face the first frame needs fetched while the
// runtime still loads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>

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

}  // namespace
