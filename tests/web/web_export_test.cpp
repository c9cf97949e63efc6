// `--export-web DIR` and `--export-web FILE.html`: what the folder holds (its choices, previews and
// icons), the tune in it, the single file, and the folders it refuses, replaces or never leaves
// half-written.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/WebExport.h"
#include "platform/audio/StandardMidiFile.h"
#include "platform/d3dx/ModelUri.h"
#include "platform/d3dx/Texture.h"
#include "render/Framing.h"
#include "tests/support/AudioProbe.h"
#include "tests/support/Browser.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"
#include "tests/web/WebExported.h"
#include "tests/web/WebFrameLimits.h"

namespace {

namespace fs = std::filesystem;
using wgtest::ExportedPage;
using wgtest::RunProgram;
using wgtest::Slurp;

#define SKIP_WITHOUT_RUNTIME()                                             \
  if (const std::string why = wgtest::WebRuntimeMissing(); !why.empty()) { \
    GTEST_SKIP() << why;                                                   \
  }

std::uintmax_t FolderBytes(const fs::path& dir) {
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file()) bytes += e.file_size();
  return bytes;
}

TEST(WebExport, TheFolderHoldsThePageTheRuntimeAndEveryFileItLoadsInUnder8MB) {
  SKIP_WITHOUT_RUNTIME();
  const fs::path page = ExportedPage();
  for (const char* f : {"index.html", "page.css", "page.js", "runtime.js", "runtime.wasm", "greeting/manifest.json",
                        "greeting/start.pack"})
    EXPECT_TRUE(fs::is_regular_file(page / f)) << f;
  // The page's five scripts go as one compressed file, which the page's one inline script fetches.
  const std::string html = Slurp((page / "index.html").string());
  EXPECT_EQ(html.find("<script src="), std::string::npos);
  EXPECT_EQ(html.find("link.js"), std::string::npos);
  EXPECT_NE(html.find("fetch('page.js')"), std::string::npos);
  EXPECT_EQ(Slurp((page / "page.js").string()).substr(0, 2), "\x1f\x8b");
  // Its plain copy, for a page opened from the file system, holds the five in their order.
  const std::string plain = Slurp((page / "page.plain.js").string());
  EXPECT_EQ(plain.rfind("'use strict';\n// link.js\n", 0), 0u);
  std::size_t last = 0;
  for (const char* f : {"link.js", "text.js", "words.js", "maker.js", "page.js"}) {
    const std::size_t at = plain.find(std::string("\n// ") + f + "\n");
    EXPECT_NE(at, std::string::npos) << f;
    EXPECT_GE(at + 1, last) << f;
    last = at;
  }
  const wgtest::Json manifest = wgtest::Json::Parse(Slurp((page / "greeting/manifest.json").string()));
  EXPECT_EQ(manifest["format"].str(), "winter-greeting-web 1");
  EXPECT_EQ(manifest["title"].str(), "С НОВЫМ 2007 ГОДОМ!");
  EXPECT_EQ(manifest["lang"].str(), "ru");
  EXPECT_EQ(manifest["preview"].str(), "preview.jpg");
  // Only what every choice shares: the snowflake and the card's texts.
  ASSERT_EQ(manifest["files"].size(), 2u);
  EXPECT_EQ(manifest["files"][0][1].str(), "/greeting/tex/snow.png");
  EXPECT_EQ(manifest["files"][1][1].str(), "/greeting/card.txt");
  for (std::size_t i = 0; i < manifest["files"].size(); ++i)
    EXPECT_TRUE(fs::is_regular_file(page / manifest["files"][i][0].str())) << manifest["files"][i][0].str();
  // A face at each prepared size, listed apart (the page fetches the one its window needs).
  ASSERT_EQ(manifest["faces"].size(), std::size(app::kWebTextPixels));
  for (std::size_t i = 0; i < manifest["faces"].size(); ++i) {
    const wgtest::Json& face = manifest["faces"][i];
    const int px = app::kWebTextPixels[i];
    EXPECT_EQ(face[0].num(), px);
    EXPECT_EQ(face[1].str(), "greeting/fonts/Arial-" + std::to_string(px) + "px-bold.glyphs");
    EXPECT_EQ(face[2].str(), "/fonts/Arial-" + std::to_string(px) + "px-bold.glyphs");
    EXPECT_TRUE(fs::is_regular_file(page / face[1].str())) << face[1].str();
  }
  EXPECT_EQ(manifest["tunes"][0]["url"].str(), "greeting/choices/tune/forest/main.ogg");
  EXPECT_EQ(manifest["tunes"][0]["midi"].str(), "/greeting/music/main.mid");
  // The tab names what the page is, with the greeting.
  EXPECT_NE(
      Slurp((page / "index.html").string()).find("<title>С НОВЫМ 2007 ГОДОМ! — A New Year greeting</title>"),
      std::string::npos);
  const std::uintmax_t bytes = FolderBytes(page);
  EXPECT_LT(bytes, 8u * 1000 * 1000) << bytes << " bytes";
  std::printf("exported folder: %.2f MB\n", static_cast<double>(bytes) / 1e6);
}

// Each choice of tune, ground and tree: its name, the built-in card's first, its files written to the
// runtime paths the built-in ones use, and each tune's recording, which decodes to its length.
TEST(WebExport, TheManifestListsEveryChoiceWithItsFilesAndEachTunesRecording) {
  SKIP_WITHOUT_RUNTIME();
  const fs::path page = ExportedPage();
  const wgtest::Json manifest = wgtest::Json::Parse(Slurp((page / "greeting/manifest.json").string()));
  const wgtest::Json& choices = manifest["choices"];
  struct Kind {
    const char* kind;
    std::vector<std::string> names;
    std::vector<std::string> runtimePaths;  // of the first files, in order
  };
  const Kind kinds[] = {
      {"tune", {"forest", "jingle-bells"}, {"/greeting/music/main.mid"}},
      {"ground", {"snow", "jingle-bells"}, {"/greeting/tex/snow.jpg"}},
      {"tree", {"fir", "jingle-bells"}, {"/greeting/models/tree-fit.txt", "/greeting/models/tree.x"}},
  };
  for (const Kind& k : kinds) {
    ASSERT_EQ(choices[k.kind].size(), k.names.size()) << k.kind;
    for (std::size_t i = 0; i < k.names.size(); ++i) {
      const wgtest::Json& c = choices[k.kind][i];
      EXPECT_EQ(c["name"].str(), k.names[i]);
      EXPECT_FALSE(c["label"].str().empty());
      ASSERT_GE(c["files"].size(), k.runtimePaths.size());
      for (std::size_t f = 0; f < c["files"].size(); ++f) {
        const std::string url = c["files"][f][0].str();
        EXPECT_EQ(url.rfind(std::string("greeting/choices/") + k.kind + "/" + k.names[i] + "/", 0), 0u)
            << url;
        // An image a GLB carries inside is named after it ("tree.glb#image0"): its URL escapes the '#'.
        EXPECT_TRUE(fs::is_regular_file(page / d3dx::DecodeUriPath(url, "manifest.json", "test"))) << url;
        if (f < k.runtimePaths.size()) {
          EXPECT_EQ(c["files"][f][1].str(), k.runtimePaths[f]);
        }
      }
    }
  }
  EXPECT_EQ(choices["tune"][0]["label"].str(), "В лесу родилась ёлочка");
  // The fir's own textures go where its model names them, and so does the GLB tree's crown, which
  // the GLB carries inside.
  for (std::size_t t = 0; t < 2; ++t) {
    ASSERT_GT(choices["tree"][t]["files"].size(), 2u) << t;
    EXPECT_EQ(choices["tree"][t]["files"][2][1].str().rfind("/greeting/models/", 0), 0u);
  }
  // The application's tree is drawn as it is; the card's GLB tree fitted to its height and lit.
  EXPECT_EQ(Slurp((page / choices["tree"][0]["files"][0][0].str()).string()), "0\n");
  EXPECT_EQ(Slurp((page / choices["tree"][1]["files"][0][0].str()).string()), "2.385\n");
  for (std::size_t i = 0; i < choices["tune"].size(); ++i) {
    const wgtest::Json& t = choices["tune"][i];
    const wgtest::AudioInfo a = wgtest::ProbeAudio((page / t["recording"].str()).string());
    EXPECT_EQ(a.codec, "opus");
    EXPECT_EQ(a.channels, 2);
    EXPECT_NEAR(t["seconds"].num(), a.seconds, 0.05) << t["name"].str();
    EXPECT_GT(a.rms, 0.01);
    const auto midi = d3dx::ReadFile("test", (page / t["files"][0][0].str()).string());
    EXPECT_GE(a.seconds, audio::ReadStandardMidiFile(midi, "main.mid").lengthSeconds);
  }
  // The two tunes differ: each choice has its own recording.
  EXPECT_NE(Slurp((page / choices["tune"][0]["recording"].str()).string()),
            Slurp((page / choices["tune"][1]["recording"].str()).string()));
}

// The preview image messengers show: the poster frame at 1200 x 630, under 300 kB, of the scene (not
// black); the icons at their sizes; and the head's tags naming them.
TEST(WebExport, ThePreviewImageAndTheIconsAreTheSceneAtTheirSizes) {
  SKIP_WITHOUT_RUNTIME();
  const fs::path page = ExportedPage();
  const std::uintmax_t bytes = fs::file_size(page / "preview.jpg");
  EXPECT_LT(bytes, 300u * 1000);
  const auto jpeg = d3dx::ReadFile("test", (page / "preview.jpg").string());
  const d3dx::DecodedImage preview = d3dx::DecodeImage(jpeg.data(), jpeg.size(), "preview.jpg");
  EXPECT_EQ(preview.format, d3dx::ImageFormat::Jpeg);
  ASSERT_EQ(preview.width, 1200);
  ASSERT_EQ(preview.height, 630);
  double mean = 0;
  for (std::size_t i = 0; i < preview.level.rgba.size(); ++i)
    if (i % 4 != 3) mean += preview.level.rgba[i];
  mean /= static_cast<double>(preview.level.rgba.size()) * 3 / 4;
  // The sky alone is (127, 127, 180).
  EXPECT_GT(mean, 60) << "the preview is too dark";
  for (const auto& [file, side] : {std::pair{"icon-32.png", 32}, std::pair{"apple-touch-icon.png", 180}}) {
    const wgtest::Picture icon = wgtest::LoadPng((page / file).string());
    EXPECT_EQ(icon.w, side) << file;
    EXPECT_EQ(icon.h, side) << file;
    double sum = 0;
    for (const std::uint8_t v : icon.rgb) sum += v;
    EXPECT_GT(sum / static_cast<double>(icon.rgb.size()), 60) << file;
  }
  const std::string html = Slurp((page / "index.html").string());
  for (const char* tag : {R"(<html lang="ru">)", R"(<meta property="og:image" content="preview.jpg">)",
                          R"(<meta property="og:title" content="С НОВЫМ 2007 ГОДОМ!">)",
                          R"(<meta name="twitter:card" content="summary_large_image">)",
                          R"(<link rel="icon" type="image/png" sizes="32x32" href="icon-32.png">)",
                          R"(<link rel="apple-touch-icon" sizes="180x180" href="apple-touch-icon.png">)"})
    EXPECT_NE(html.find(tag), std::string::npos) << tag;
  EXPECT_EQ(html.find("og:url"), std::string::npos) << "no address was given";
  EXPECT_EQ(html.find("<!--%HEAD%-->"), std::string::npos);
  std::printf("preview.jpg %.1f kB\n", static_cast<double>(bytes) / 1000);
}

// The SHA-256 of `text` as a CSP source, computed by OpenSSL's command, apart from the exporter's.
std::string Sha256Source(const std::string& text, const std::string& scratch) {
  { std::ofstream(scratch, std::ios::binary) << text; }
  const std::string cmd = "openssl dgst -sha256 -binary " + scratch + " | openssl base64 -A";
  std::string out;
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[128];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return "'sha256-" + out + "'";
}

// The page as one file: a greeting with markup and quotes in it, the address it will be published at.
// Everything in one file under 8 MB, the head escaped, and every inline script's hash in its policy.
TEST(WebExport, OneHtmlFileHoldsThePageWithItsScriptsAllowedByHash) {
  SKIP_WITHOUT_RUNTIME();
  const std::string dir = wgtest::ScratchDir("web-export-single");
  const std::string file = dir + "/greeting.html";
  ASSERT_EQ(RunProgram("--export-web " + file +
                           " --page-url https://example.org/cards/ --greeting \"<script>\\\"Hi\\\" & 'yo'\"",
                       dir + "/log"),
            0)
      << Slurp(dir + "/log");
  EXPECT_NE(Slurp(dir + "/log").find("(one file, "), std::string::npos) << Slurp(dir + "/log");
  // The file alone: its temporary folder is gone.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
      << "the file and the log";
  const std::uintmax_t bytes = fs::file_size(file);
  EXPECT_LT(bytes, 8u * 1000 * 1000);
  const std::string html = Slurp(file);
  EXPECT_EQ(html.find("<script>\"Hi\""), std::string::npos) << "the greeting's markup must be escaped";
  for (const char* tag : {
           "<title>&lt;script&gt;&quot;Hi&quot; &amp; &#39;yo&#39; — A New Year greeting</title>",
           R"(<meta property="og:title" content="&lt;script&gt;&quot;Hi&quot; &amp; &#39;yo&#39;">)",
           R"(<meta property="og:url" content="https://example.org/cards/">)",
           R"(<meta name="twitter:card" content="summary">)",
           R"(<html lang="en">)",
           R"(<link rel="icon" type="image/png" sizes="32x32" href="data:image/png;base64,)",
           R"(<script type="application/octet-stream" data-url="runtime.wasm">)",
           R"(<script type="application/octet-stream" data-url="greeting/manifest.json">)",
       })
    EXPECT_NE(html.find(tag), std::string::npos) << tag;
  EXPECT_EQ(html.find("og:image"), std::string::npos) << "no image lies beside one file";
  // Nothing loaded from beside it.
  EXPECT_EQ(html.find("<script src="), std::string::npos);
  EXPECT_EQ(html.find("rel=\"stylesheet\""), std::string::npos);
  // The policy lists exactly the inline scripts' hashes.
  const std::string policyStart = "<meta http-equiv=\"Content-Security-Policy\" content=\"";
  const std::size_t at = html.find(policyStart);
  ASSERT_NE(at, std::string::npos);
  const std::string policy =
      html.substr(at + policyStart.size(), html.find('"', at + policyStart.size()) - at - policyStart.size());
  EXPECT_NE(policy.find("'wasm-unsafe-eval'"), std::string::npos) << policy;
  EXPECT_EQ(policy.find("unsafe-inline"), std::string::npos) << policy;
  EXPECT_EQ(policy.find("unsafe-eval'"), policy.find("wasm-unsafe-eval'") + 5) << policy;
  int scripts = 0;
  for (std::size_t s = html.find("<script>"); s != std::string::npos; s = html.find("<script>", s + 1)) {
    const std::size_t from = s + 8, to = html.find("</script>", from);
    ASSERT_NE(to, std::string::npos);
    const std::string hash = Sha256Source(html.substr(from, to - from), dir + "/script");
    EXPECT_NE(policy.find(hash), std::string::npos)
        << "script " << scripts << " (" << hash << ") is not in " << policy;
    ++scripts;
  }
  EXPECT_GE(scripts, 2) << "the runtime's loader and the page's script";
  const std::size_t scriptSrc = policy.find("script-src"), styleSrc = policy.find("style-src");
  EXPECT_EQ(std::count(policy.begin() + static_cast<long>(scriptSrc),
                       policy.begin() + static_cast<long>(styleSrc), '\''),
            2 * (scripts + 1))
      << "one hash per inline script, and 'wasm-unsafe-eval'";
  std::printf("single file %.2f MB, %d inline scripts\n", static_cast<double>(bytes) / 1e6, scripts);
}

// The single file opened from file://, with nothing beside it: it draws frame 130 of its greeting as
// the desktop does. It needs the page's loader to look up embedded files before fetching them.
TEST(WebExport, TheSingleFileOpensFromDiskAndDrawsTheDesktopsFrame) {
  SKIP_WITHOUT_RUNTIME();
  if (!wgtest::Chromium::Installed())
    GTEST_SKIP() << "Chromium is not installed (scripts/install-deps.sh --test)";
  if (Slurp(wgtest::AppDir() + "/web/page.js").find("application/octet-stream") == std::string::npos)
    GTEST_SKIP() << "INTEGRATOR: runs once page.js reads the embedded files (<script "
                    "type=\"application/octet-stream\" data-url>) and hands runtime.wasm over as wasmBinary";
  const std::string dir = wgtest::ScratchDir("web-export-single-open");
  ASSERT_EQ(RunProgram("--export-web " + dir + "/greeting.html", dir + "/log"), 0) << Slurp(dir + "/log");
  wgtest::Chromium browser;
  browser.Navigate("file://" + dir + "/greeting.html?frames=130&show=last");
  ASSERT_TRUE(browser.WaitFor("document.title.startsWith('done') || document.title.startsWith('failed')",
                              std::chrono::seconds(300)));
  ASSERT_EQ(browser.Evaluate("document.title").str(), "done: frame 130");
  const wgtest::Picture got =
      wgtest::PngFromMemory(wgtest::DecodeDataUrl(browser.Evaluate("wgResult.png").str()));
  const wgtest::Picture want =
      wgtest::LoadPng(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-130.png");
  std::string measured;
  EXPECT_EQ(wgtest::LimitViolations(got, want, 130, &measured), "") << measured;
  std::printf("%s\n", measured.c_str());
}

// The prepared sizes cover every frame the page makes: a frame's text draws at the next size up,
// never below the size its height asks for, up to the tallest canvas the page keeps.
TEST(WebTextPixels, EveryFrameTheCanvasMayHaveDrawsItsTextAtLeastAsLargeAsItsHeightAsks) {
  EXPECT_EQ(app::WebTextPixels(24), 24);
  EXPECT_EQ(app::WebTextPixels(25), 29);
  EXPECT_EQ(app::WebTextPixels(1), 12);
  EXPECT_EQ(app::WebTextPixels(500), 86);
  for (int h = render::kMinFrameSide; h <= app::kWebMaxCanvasHeight; h += 2) {
    const render::Framing f = render::FrameFor(320, h);
    const int px = app::WebTextPixels(f.textPixels);
    EXPECT_GE(px, f.textPixels) << h;
    // At most about a fifth larger than asked.
    EXPECT_LE(px, f.textPixels * 6 / 5 + 1) << h;
  }
}

TEST(WebExport, TheTuneIsOpusThatDecodesAndLastsAsLongAsTheTuneAndItsReverb) {
  SKIP_WITHOUT_RUNTIME();
  const fs::path page = ExportedPage();
  const auto midi = d3dx::ReadFile("test", (page / "greeting/choices/tune/forest/main.mid").string());
  const audio::StandardMidiFile tune = audio::ReadStandardMidiFile(midi, "main.mid");
  const wgtest::AudioInfo a = wgtest::ProbeAudio((page / "greeting/choices/tune/forest/main.ogg").string());
  EXPECT_EQ(a.container, "ogg");
  EXPECT_EQ(a.codec, "opus");
  EXPECT_EQ(a.sampleRate, 48000);
  EXPECT_EQ(a.channels, 2);
  // The whole tune, then its reverb dying away; not a second of it cut.
  EXPECT_GE(a.seconds, tune.lengthSeconds);
  EXPECT_LE(a.seconds, tune.lengthSeconds + 15.0);
  EXPECT_GT(a.rms, 0.01);
  const wgtest::Json manifest = wgtest::Json::Parse(Slurp((page / "greeting/manifest.json").string()));
  EXPECT_NEAR(manifest["tunes"][0]["seconds"].num(), a.seconds, 0.05);
  // At 112 kbit/s the encoder's variable rate averages about 137 kbit/s for this music; at 128 it
  // came to 153.
  const double kbits = static_cast<double>(fs::file_size(page / "greeting/choices/tune/forest/main.ogg")) *
                       8 / a.seconds / 1000;
  EXPECT_GT(kbits, 100);
  EXPECT_LT(kbits, 148);
  std::printf("tune %.1f s, recording %.2f s, RMS %.3f\n", tune.lengthSeconds, a.seconds, a.rms);
}

TEST(WebExport, AFolderWithOtherFilesIsRefusedAndKeptAsItWas) {
  SKIP_WITHOUT_RUNTIME();
  const std::string dir = wgtest::ScratchDir("web-export-refused");
  const std::string target = dir + "/photos";
  fs::create_directories(target);
  { std::ofstream(target + "/holiday.jpg") << "not ours"; }
  EXPECT_EQ(RunProgram("--export-web " + target, dir + "/log"), 1);
  EXPECT_NE(Slurp(dir + "/log").find("not empty and holds no earlier export"), std::string::npos)
      << Slurp(dir + "/log");
  EXPECT_EQ(Slurp(target + "/holiday.jpg"), "not ours");
  EXPECT_EQ(std::distance(fs::directory_iterator(target), fs::directory_iterator()), 1);
  // A file in the way is refused too.
  EXPECT_EQ(RunProgram("--export-web " + target + "/holiday.jpg", dir + "/log"), 1);
  EXPECT_NE(Slurp(dir + "/log").find("it is a file"), std::string::npos) << Slurp(dir + "/log");
}

TEST(WebExport, AnEarlierExportIsReplacedWholeAndAnEmptyFolderFilled) {
  SKIP_WITHOUT_RUNTIME();
  const std::string dir = wgtest::ScratchDir("web-export-again");
  const std::string target = dir + "/page";
  fs::copy(ExportedPage(), target, fs::copy_options::recursive);
  { std::ofstream(target + "/left-over.txt") << "from before"; }
  ASSERT_EQ(RunProgram("--export-web " + target, dir + "/log"), 0) << Slurp(dir + "/log");
  EXPECT_FALSE(fs::exists(target + "/left-over.txt"));
  EXPECT_TRUE(fs::is_regular_file(target + "/runtime.wasm"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2)
      << "only page/ and the log";
}

// An application folder whose snow sprite is missing: start-up would stop there, and so does the
// export, leaving nothing behind.
TEST(WebExport, AFailedExportLeavesNoFolder) {
  SKIP_WITHOUT_RUNTIME();
  const std::string app = wgtest::AppDirWithout("web-export-failing", {"tex/snow.png"});
  fs::copy(wgtest::AppDir() + "/web", app + "/web", fs::copy_options::recursive);
  fs::copy_file(wgtest::AppDir() + "/winter-greeting", app + "/winter-greeting");
  // The tune's encoder comes with the codec module beside the program.
  fs::copy_file(wgtest::AppDir() + "/winter-greeting-video.so", app + "/winter-greeting-video.so");
  const std::string out = wgtest::ScratchDir("web-export-failing-out");
  const std::string log = app + "/export.log";
  EXPECT_EQ(RunProgram("--export-web " + out + "/page", log, app + "/winter-greeting"), 1);
  EXPECT_NE(Slurp(log).find("snow.png"), std::string::npos) << Slurp(log);
  EXPECT_TRUE(fs::is_empty(out)) << "something was left in " << out;
}

// Ctrl-C while the tune renders, a step of seconds: the export ends by the signal without waiting for
// the step to finish, and its temporary folder goes with it.
TEST(WebExport, CtrlCWhileTheTuneRendersEndsAtOnceAndLeavesNoFolder) {
  SKIP_WITHOUT_RUNTIME();
  const std::string out = wgtest::ScratchDir("web-export-interrupted");
  const std::string log = out + "/../web-export-interrupted.log";
  fs::remove(log);  // an earlier run's, which already says the tune renders
  const pid_t pid =
      wgtest::Spawn({wgtest::AppDir() + "/winter-greeting", "--export-web", out + "/page"}, log);
  ASSERT_TRUE(wgtest::WaitFor(
      [&] { return wgtest::Slurp(log).find("Rendering the tune") != std::string::npos; }, 120))
      << wgtest::Slurp(log);
  ASSERT_FALSE(fs::is_empty(out)) << "the temporary folder is being written";
  const auto interrupted = std::chrono::steady_clock::now();
  kill(pid, SIGINT);
  // The tune takes several seconds to render; this bound only tells a prompt end from one that waits.
  const auto status = wgtest::WaitExit(pid, 3);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - interrupted).count();
  wgtest::Stop(pid);
  ASSERT_TRUE(status.has_value()) << "still running 3 s after Ctrl-C";
  EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGINT) << "status " << *status;
  EXPECT_TRUE(fs::is_empty(out)) << "something was left in " << out;
  std::printf("ended %.3f s after Ctrl-C\n", seconds);
}

}  // namespace
