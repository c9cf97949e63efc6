// Recorded videos as players show them: the frames decoded and turned back into RGB as the file's
// colour tags say give the pictures the program rendered, in portrait as in landscape, in MP4 and
// WebM; the tags are there in every container; and headless Chromium plays the files and shows,
// at a frame's time, that frame's picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/video/Mp4Writer.h"
#include "tests/support/Browser.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"
#include "tests/support/TaggedFrames.h"
#include "tests/web/WebExported.h"

namespace {

using namespace std::chrono_literals;
using wgtest::Picture;

constexpr int kFps = 30;
// How far a decoded frame may stay from the rendered one, as the mean absolute difference of each
// colour channel in levels: what the encoder's losses leave (about 1 level). A wrong matrix, range
// or channel order, or a frame out of place, is several times more.
constexpr double kMeanLevels = 2.0;
// How far the signed mean of a channel may stray from zero (about 0.4 at most): a picture made
// lighter, darker or tinted by the wrong conversion moves it further (BT.709's matrix in place of
// BT.601's by about 1.9 in green, full range in place of studio range by 8 to 13).
constexpr double kBiasLevels = 1.0;

// The program run with `args` into `dir`; the log comes back in a failure's message.
void RunIn(const std::string& dir, const std::string& args) {
  ASSERT_EQ(wgtest::RunProgram(args, dir + "/log"), 0) << args << ":\n" << wgtest::Slurp(dir + "/log");
}

std::string SizeArg(const std::string& size) {
  return size.empty() ? "" : " --size " + size;
}

std::string FramePng(const std::string& framesDir, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "/frame-%05d.png", frame);
  return framesDir + name;
}

std::string DiffText(const wgtest::ChannelDiff& d) {
  char text[160];
  std::snprintf(text, sizeof text,
                "mean difference R %.3f, G %.3f, B %.3f; signed R %+.3f, G %+.3f, B %+.3f levels", d.mean[0],
                d.mean[1], d.mean[2], d.bias[0], d.bias[1], d.bias[2]);
  return text;
}

// Each channel's mean difference within the tolerance, and its signed mean near zero; the numbers
// are printed either way.
void ExpectClose(const Picture& got, const Picture& want, const std::string& what) {
  ASSERT_EQ(got.w, want.w) << what;
  ASSERT_EQ(got.h, want.h) << what;
  const wgtest::ChannelDiff d = wgtest::CompareChannels(got, want);
  std::printf("%s: %s\n", what.c_str(), DiffText(d).c_str());
  for (int c = 0; c < 3; ++c) {
    EXPECT_LE(d.mean[c], kMeanLevels) << what << ": " << DiffText(d);
    EXPECT_LE(std::abs(d.bias[c]), kBiasLevels) << what << ": " << DiffText(d);
  }
}

// One 2 x 2 picture of a single colour, Y'CbCr `y`, `cb`, `cr`, tagged with `space` and `range`.
struct SolidFrame {
  AVFrame* frame = av_frame_alloc();
  SolidFrame(int y, int cb, int cr, AVColorSpace space, AVColorRange range) {
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = frame->height = 2;
    frame->colorspace = space;
    frame->color_range = range;
    if (av_frame_get_buffer(frame, 0) < 0) return;
    for (int row = 0; row < 2; ++row) std::fill_n(frame->data[0] + row * frame->linesize[0], 2, y);
    frame->data[1][0] = static_cast<std::uint8_t>(cb);
    frame->data[2][0] = static_cast<std::uint8_t>(cr);
  }
  ~SolidFrame() { av_frame_free(&frame); }
  std::array<int, 3> Rgb(std::string& error) const {
    const Picture p = wgtest::TaggedToRgb(*frame, error);
    if (p.rgb.size() < 3) return {-1, -1, -1};
    return {p.rgb[0], p.rgb[1], p.rgb[2]};
  }
};

// The reader's own conversion: studio range's black, white and middle grey, BT.601's and BT.709's
// red, and full range, come out as those matrices and ranges define them; a picture that names no
// matrix is refused rather than guessed at.
TEST(TaggedConversion, KnownColoursComeOutAsTheirTagsDefineThem) {
  using Rgb = std::array<int, 3>;
  std::string error;
  EXPECT_EQ(SolidFrame(16, 128, 128, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG).Rgb(error), (Rgb{0, 0, 0}));
  EXPECT_EQ(SolidFrame(235, 128, 128, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG).Rgb(error),
            (Rgb{255, 255, 255}));
  EXPECT_EQ(SolidFrame(126, 128, 128, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG).Rgb(error),
            (Rgb{128, 128, 128}));
  // Pure red: Y' = 16 + 219 Kr, Cb = 128 - 112 Kr / (1 - Kb), Cr = 240, each rounded to a whole
  // level, which leaves up to a level in the colour read back.
  EXPECT_EQ(SolidFrame(81, 90, 240, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_MPEG).Rgb(error), (Rgb{254, 0, 0}));
  EXPECT_EQ(SolidFrame(63, 102, 240, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG).Rgb(error), (Rgb{255, 1, 0}));
  // BT.601's red read with BT.709's matrix is another colour.
  EXPECT_EQ(SolidFrame(81, 90, 240, AVCOL_SPC_BT709, AVCOL_RANGE_MPEG).Rgb(error), (Rgb{255, 24, 0}));
  EXPECT_EQ(SolidFrame(128, 128, 128, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_JPEG).Rgb(error),
            (Rgb{128, 128, 128}));
  EXPECT_EQ(SolidFrame(235, 128, 128, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_JPEG).Rgb(error),
            (Rgb{235, 235, 235}));
  EXPECT_EQ(error, "");
  EXPECT_EQ(SolidFrame(16, 128, 128, AVCOL_SPC_UNSPECIFIED, AVCOL_RANGE_MPEG).Rgb(error), (Rgb{-1, -1, -1}));
  EXPECT_EQ(error, "pictures tagged with no known matrix (unknown)");
  error.clear();
  EXPECT_EQ(SolidFrame(16, 128, 128, AVCOL_SPC_SMPTE170M, AVCOL_RANGE_UNSPECIFIED).Rgb(error),
            (Rgb{-1, -1, -1}));
  EXPECT_EQ(error, "pictures tagged with no range");
}

// The description every recording carries: BT.601's matrix in studio range, the renderer's sRGB.
const wgtest::ColourTags kTags{"tv", "smpte170m", "bt709", "iec61966-2-1"};

struct RoundTrip {
  const char* size;                     // --size; the default 1024 x 768 when empty
  std::vector<const char*> containers;  // file names, the extension choosing the container
};

void PrintTo(const RoundTrip& r, std::ostream* os) {
  *os << (*r.size ? r.size : "1024x768");
}

class ColourRoundTrip : public testing::TestWithParam<RoundTrip> {};

// Frames 30 and 60 of a two-second recording against the same frames rendered to PNGs: both runs
// step the same virtual clock, so frame i is the same picture in each.
TEST_P(ColourRoundTrip, TheTaggedConversionGivesBackTheRenderedFrames) {
  const RoundTrip r = GetParam();
  const std::string dir =
      wgtest::ScratchDir(std::string("playback-colours-") + (*r.size ? r.size : "default"));
  const std::string timing = " --seconds 2 --fps " + std::to_string(kFps) + SizeArg(r.size);
  RunIn(dir, "--frames-dir " + dir + "/frames" + timing);
  for (const std::string file : r.containers) {
    SCOPED_TRACE(file);
    RunIn(dir, "--record " + dir + "/" + file + timing);
    const wgtest::TaggedFrames decoded = wgtest::DecodeTaggedFrames(dir + "/" + file, {30, 60});
    ASSERT_EQ(decoded.error, "");
    // Every picture carries the one description the container gives.
    EXPECT_EQ(decoded.tags, std::set<std::string>{wgtest::TagsText(kTags)});
    for (const auto& [n, picture] : decoded.frames)
      ExpectClose(picture, wgtest::LoadPng(FramePng(dir + "/frames", n)),
                  file + SizeArg(r.size) + " frame " + std::to_string(n));
  }
}

INSTANTIATE_TEST_SUITE_P(Playback, ColourRoundTrip,
                         testing::Values(RoundTrip{"", {"greeting.mp4", "greeting.webm"}},
                                         RoundTrip{"1080x1920", {"greeting.mp4"}}),
                         [](const testing::TestParamInfo<RoundTrip>& i) {
                           return *i.param.size ? std::string("Portrait") : std::string("Landscape");
                         });

// MP4's top-level boxes in the order they lie ("ftyp", "moov", "mdat", ...).
std::vector<std::string> Mp4Boxes(const std::string& bytes) {
  std::vector<std::string> boxes;
  for (std::size_t at = 0; at + 8 <= bytes.size();) {
    std::uint64_t size = 0;
    for (int k = 0; k < 4; ++k) size = (size << 8) | static_cast<std::uint8_t>(bytes[at + k]);
    if (size == 1 && at + 16 <= bytes.size()) {
      size = 0;
      for (int k = 8; k < 16; ++k) size = (size << 8) | static_cast<std::uint8_t>(bytes[at + k]);
    }
    boxes.push_back(bytes.substr(at + 4, 4));
    if (size < 8 || size > bytes.size() - at) break;
    at += size;
  }
  return boxes;
}

class PortraitTags : public testing::TestWithParam<const char*> {};

// A portrait recording is described as the landscape one is, in every container, and an MP4's index
// still comes before its media.
TEST_P(PortraitTags, TheColoursAreDescribedAsConverted) {
  const std::string file = GetParam();
  const std::string dir = wgtest::ScratchDir("playback-tags-" + file);
  RunIn(dir, "--record " + dir + "/" + file + " --seconds 1 --fps 10 --size 1080x1920");
  const video::Mp4Info info = video::ProbeMp4(dir + "/" + file, false);
  EXPECT_EQ(info.width, 1080);
  EXPECT_EQ(info.height, 1920);
  EXPECT_EQ(info.colorRange, kTags.range);
  EXPECT_EQ(info.colorSpace, kTags.space);
  EXPECT_EQ(info.colorPrimaries, kTags.primaries);
  EXPECT_EQ(info.colorTransfer, kTags.transfer);
  if (file.ends_with(".mp4")) {
    const std::vector<std::string> boxes = Mp4Boxes(wgtest::Slurp(dir + "/" + file));
    const auto moov = std::find(boxes.begin(), boxes.end(), "moov");
    const auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
    ASSERT_NE(mdat, boxes.end()) << testing::PrintToString(boxes);
    EXPECT_LT(moov, mdat) << testing::PrintToString(boxes);
  }
}

INSTANTIATE_TEST_SUITE_P(Playback, PortraitTags,
                         testing::Values("greeting.mp4", "greeting.mkv", "greeting.webm"),
                         [](const testing::TestParamInfo<const char*>& i) {
                           const std::string f = i.param;
                           return f.substr(f.find('.') + 1);
                         });

struct BrowserCase {
  const char* file;
  const char* type;  // the media type the page gives the file
};

void PrintTo(const BrowserCase& c, std::ostream* os) {
  *os << c.file;
}

class BrowserPlayback : public testing::TestWithParam<BrowserCase> {};

// The page that holds the player; the file comes from the same server, so its pictures may be read.
constexpr const char* kPage =
    "<!doctype html><meta charset=utf-8><body style='margin:0'>"
    "<video muted playsinline></video><canvas></canvas></body>";

// Starts the file playing from the server, as a web site would serve it; "playing", or what the
// browser said instead (with how sure it was that it could play the type).
std::string StartPlaying(wgtest::Chromium& browser, const BrowserCase& c) {
  return browser
      .Evaluate(std::string("(async () => {"
                            "  const v = document.querySelector('video');"
                            "  v.src = '") +
                c.file +
                "';"
                "  try { await v.play(); } catch (e) {"
                "    return e.name + ': ' + e.message + (v.error ? ' (' + v.error.message + ')' : '') +"
                "        '; canPlayType: \\'' + v.canPlayType('" +
                c.type +
                "') + '\\'';"
                "  }"
                "  return 'playing';"
                "})()")
      .str();
}

// Pauses, seeks to `seconds` and draws the frame shown there onto a canvas of the video's size.
// Returns the picture and the presentation time of the frame the browser says it shows.
Picture FrameAt(wgtest::Chromium& browser, double seconds, double& shownAt) {
  const wgtest::Json r = browser.Evaluate(
      "(async () => {"
      "  const v = document.querySelector('video');"
      "  v.pause();"
      // A frame that playing presented just before the pause may still report itself: let it pass,
      // so that the callback below hears the frame the seek presents.
      "  await new Promise(done => setTimeout(done, 250));"
      "  const shown = new Promise(done => v.requestVideoFrameCallback((now, m) => done(m.mediaTime)));"
      "  const seeked = new Promise(done => v.addEventListener('seeked', done, {once: true}));"
      "  v.currentTime = " +
      std::to_string(seconds) +
      ";"
      "  await seeked;"
      "  const mediaTime = await Promise.race([shown, new Promise(done => setTimeout(() => done(-1), "
      "10000))]);"
      "  const c = document.querySelector('canvas');"
      "  c.width = v.videoWidth;"
      "  c.height = v.videoHeight;"
      "  c.getContext('2d').drawImage(v, 0, 0);"
      "  return {mediaTime, png: c.toDataURL('image/png')};"
      "})()");
  shownAt = r["mediaTime"].num();
  return wgtest::PngFromMemory(wgtest::DecodeDataUrl(r["png"].str()));
}

// Two seconds played from a page: the clock runs, and frame 30, sought at the middle of its time,
// is the picture rendered as frame 30.
TEST_P(BrowserPlayback, PlaysAndShowsEachFrameAtItsTime) {
  if (!wgtest::Chromium::Installed())
    GTEST_SKIP() << "Chromium is not installed (scripts/install-deps.sh --test)";
  const BrowserCase c = GetParam();
  const std::string dir = wgtest::ScratchDir(std::string("playback-browser-") + c.file);
  const std::string timing = " --seconds 2 --fps " + std::to_string(kFps);
  std::filesystem::create_directories(dir + "/site");
  RunIn(dir, "--record " + dir + "/site/" + c.file + timing);
  RunIn(dir, "--frames-dir " + dir + "/frames --seconds 1 --fps " + std::to_string(kFps));
  std::ofstream(dir + "/site/index.html") << kPage;

  wgtest::StaticServer server(dir + "/site");
  wgtest::Chromium browser({"--autoplay-policy=no-user-gesture-required"});
  browser.Navigate(server.Url("/index.html"));
  ASSERT_TRUE(browser.WaitFor("document.readyState === 'complete' && document.querySelector('video')", 60s));
  const std::string started = StartPlaying(browser, c);
  if (started.find("NotSupportedError") != std::string::npos)
    GTEST_SKIP() << "this Chromium cannot play " << c.type << ": " << started;
  ASSERT_EQ(started, "playing");
  EXPECT_TRUE(browser.WaitFor("document.querySelector('video').currentTime > 0.5", 60s))
      << "currentTime stayed at " << browser.Evaluate("document.querySelector('video').currentTime").num();

  // Frame i is rendered for the time (i - 1) / fps; sought in the middle of its time, it is the frame
  // shown, presented at that time after the file's first frame (MP4's at 0; Matroska moves every
  // stream by the sound encoder's priming, 7 ms in a WebM).
  constexpr int kFrame = 30;
  const double start = wgtest::VideoStartSeconds(dir + "/site/" + c.file);
  ASSERT_FALSE(std::isnan(start));
  std::printf("%s: the first frame is shown at %.4f s\n", c.file, start);
  double shownAt = 0;
  const Picture shown = FrameAt(browser, (kFrame - 0.5) / kFps, shownAt);
  EXPECT_NEAR(shownAt, start + (kFrame - 1.0) / kFps, 1e-3) << "the frame presented after the seek";
  ExpectClose(shown, wgtest::LoadPng(FramePng(dir + "/frames", kFrame)),
              std::string("Chromium, ") + c.file + " frame " + std::to_string(kFrame));
}

INSTANTIATE_TEST_SUITE_P(Playback, BrowserPlayback,
                         testing::Values(BrowserCase{"greeting.mp4", "video/mp4"},
                                         BrowserCase{"greeting.webm", "video/webm"}),
                         [](const testing::TestParamInfo<BrowserCase>& i) {
                           const std::string f = i.param.file;
                           return f.substr(f.find('.') + 1);
                         });

}  // namespace
