// The exported page's head tags, its language, the icons' scaling and the single file's inlining.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/WebHead.h"
#include "app/WebSingleFile.h"

namespace {

TEST(GreetingLanguage, CyrillicIsRussianLatinIsEnglishAndNeitherIsUndetermined) {
  EXPECT_EQ(app::GreetingLanguage("С НОВЫМ 2007 ГОДОМ!"), "ru");
  EXPECT_EQ(app::GreetingLanguage("Happy New Year 2027!"), "en");
  EXPECT_EQ(app::GreetingLanguage("Frohes Neues Jahr, Grüße"), "en");
  EXPECT_EQ(app::GreetingLanguage("新年快乐 2027"), "und");
  EXPECT_EQ(app::GreetingLanguage(""), "und");
  // The letters that are the most decide.
  EXPECT_EQ(app::GreetingLanguage("С Новым годом, Bob!"), "ru");
}

TEST(HtmlEscape, EscapesWhatEndsAnElementOrAQuotedAttribute) {
  EXPECT_EQ(app::HtmlEscape(R"(<script>alert("x" & 'y')</script>)"),
            "&lt;script&gt;alert(&quot;x&quot; &amp; &#39;y&#39;)&lt;/script&gt;");
  EXPECT_EQ(app::HtmlEscape("С Новым годом"), "С Новым годом");
}

TEST(UrlBeside, IsTheFileInThePagesFolder) {
  EXPECT_EQ(app::UrlBeside("", "preview.jpg"), "preview.jpg");
  EXPECT_EQ(app::UrlBeside("https://example.org/cards/", "preview.jpg"),
            "https://example.org/cards/preview.jpg");
  EXPECT_EQ(app::UrlBeside("https://example.org/cards/index.html", "preview.jpg"),
            "https://example.org/cards/preview.jpg");
  EXPECT_EQ(app::UrlBeside("https://example.org", "preview.jpg"), "https://example.org/preview.jpg");
}

TEST(HeadTags, CarryEveryPreviewTagWithItsValueEscaped) {
  app::PageHead head{"<b>\"Hi\"</b>",
                     "a & b",
                     "https://example.org/card/preview.jpg",
                     "https://example.org/card/",
                     "icon-32.png",
                     "apple-touch-icon.png"};
  const std::string tags = app::HeadTags(head);
  for (const char* want : {
           R"(<meta name="description" content="a &amp; b">)",
           R"(<meta property="og:type" content="website">)",
           R"(<meta property="og:title" content="&lt;b&gt;&quot;Hi&quot;&lt;/b&gt;">)",
           R"(<meta property="og:description" content="a &amp; b">)",
           R"(<meta property="og:url" content="https://example.org/card/">)",
           R"(<meta property="og:image" content="https://example.org/card/preview.jpg">)",
           R"(<meta property="og:image:width" content="1200">)",
           R"(<meta property="og:image:height" content="630">)",
           R"(<meta name="twitter:card" content="summary_large_image">)",
           R"(<link rel="icon" type="image/png" sizes="32x32" href="icon-32.png">)",
           R"(<link rel="apple-touch-icon" sizes="180x180" href="apple-touch-icon.png">)",
       })
    EXPECT_NE(tags.find(want), std::string::npos) << want << "\n" << tags;
  EXPECT_EQ(tags.find("<b>"), std::string::npos);
  // Without an address or an image: no og:url, and the small card.
  head.pageUrl.clear();
  head.image.clear();
  const std::string plain = app::HeadTags(head);
  EXPECT_EQ(plain.find("og:url"), std::string::npos);
  EXPECT_EQ(plain.find("og:image"), std::string::npos);
  EXPECT_NE(plain.find(R"(<meta name="twitter:card" content="summary">)"), std::string::npos);
}

TEST(ScaleDown, AveragesTheAreaEachPixelCoversFractionsIncluded) {
  // 3 x 1 to 2 x 1: each output pixel covers 1.5 source pixels.
  const std::vector<std::uint8_t> src{0, 0, 0, 255, 90, 90, 90, 255, 180, 180, 180, 255};
  const std::vector<std::uint8_t> out = app::ScaleDown(src, 3, 1, 2, 1);
  // (0 x 1 + 90 x 0.5) / 1.5 = 30; (90 x 0.5 + 180 x 1) / 1.5 = 150.
  EXPECT_EQ(out, (std::vector<std::uint8_t>{30, 30, 30, 255, 150, 150, 150, 255}));
  // A checkerboard averages to grey: no aliasing.
  std::vector<std::uint8_t> board(8 * 8 * 4);
  for (int i = 0; i < 64; ++i)
    for (int c = 0; c < 4; ++c) board[i * 4 + c] = c == 3 ? 255 : ((i % 8 + i / 8) % 2 ? 255 : 0);
  for (const std::uint8_t v : app::ScaleDown(board, 8, 8, 2, 2)) EXPECT_TRUE(v == 128 || v == 255) << int{v};
}

TEST(JpegWithin, LowersTheQualityUntilTheImageFits) {
  std::vector<std::uint8_t> noise(256 * 256 * 4);
  std::uint32_t x = 12345;
  for (auto& v : noise) v = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 24);
  int first = 0, fitted = 0;
  const std::size_t large = app::JpegWithin(noise, 256, 256, 1u << 30, &first).size();
  EXPECT_EQ(first, 90);
  const std::vector<std::uint8_t> small = app::JpegWithin(noise, 256, 256, large * 2 / 3, &fitted);
  EXPECT_LE(small.size(), large * 2 / 3);
  EXPECT_LT(fitted, 90);
  EXPECT_EQ(fitted % 5, 0);
  EXPECT_THROW(app::JpegWithin(noise, 256, 256, 100), std::runtime_error);
}

TEST(Base64, EncodesWithPadding) {
  const auto b64 = [](const std::string& s) {
    return app::Base64(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  EXPECT_EQ(b64(""), "");
  EXPECT_EQ(b64("f"), "Zg==");
  EXPECT_EQ(b64("fo"), "Zm8=");
  EXPECT_EQ(b64("foo"), "Zm9v");
  EXPECT_EQ(b64("\xff\xfe\xfd\x00"), "//79");
}

TEST(CspHashSource, IsTheSha256OfTheTextInBase64) {
  // SHA-256("abc") = ba7816bf 8f01cfea 414140de 5dae2223 b00361a3 96177a9c b410ff61 f20015ad.
  EXPECT_EQ(app::CspHashSource("abc"), "'sha256-ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0='");
}

TEST(SingleFileHtml, InlinesScriptsAndStylesEmbedsFilesAheadAndListsTheirHashes) {
  app::SingleFileParts parts;
  parts.indexHtml =
      "<!doctype html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'self'\">\n"
      "<link rel=\"stylesheet\" href=\"page.css\">\n</head>\n<body>\n"
      "<script src=\"link.js\"></script>\n<script src=\"page.js\"></script>\n</body>\n</html>\n";
  const auto bytes = [](const std::string& s) { return std::vector<std::uint8_t>(s.begin(), s.end()); };
  parts.read = [&](const std::string& url) -> std::vector<std::uint8_t> {
    if (url == "page.css") return bytes("body { color: red }");
    if (url == "link.js") return bytes("var a = '</script>';");
    if (url == "page.js") return bytes("go();");
    if (url == "runtime.js") return bytes("var WinterGreetingRuntime;");
    if (url == "greeting/manifest.json") return bytes("{}");
    throw std::runtime_error("no " + url);
  };
  parts.firstScripts = {"runtime.js"};
  parts.embedded = {"greeting/manifest.json"};
  const std::string html = app::SingleFileHtml(parts);
  const std::string policy =
      app::SingleFilePolicy({app::CspHashSource("var WinterGreetingRuntime;"),
                             app::CspHashSource("var a = '<\\/script>';"), app::CspHashSource("go();")},
                            {app::CspHashSource("body { color: red }")});
  const std::string want =
      "<!doctype html>\n<html lang=\"ru\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta http-equiv=\"Content-Security-Policy\" content=\"" +
      policy +
      "\">\n<style>body { color: red }</style>\n</head>\n<body>\n"
      "<script type=\"application/octet-stream\" data-url=\"greeting/manifest.json\">e30=</script>\n"
      "<script>var WinterGreetingRuntime;</script>\n<script>var a = '<\\/script>';</script>\n"
      "<script>go();</script>\n</body>\n</html>\n";
  EXPECT_EQ(html, want);
  EXPECT_NE(policy.find("script-src 'sha256-"), std::string::npos);
  EXPECT_NE(policy.find("'wasm-unsafe-eval'"), std::string::npos);
  EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos);
  // A file the page names but the folder lacks fails the export.
  parts.embedded = {"greeting/missing.bin"};
  EXPECT_THROW(app::SingleFileHtml(parts), std::runtime_error);
}

}  // namespace
