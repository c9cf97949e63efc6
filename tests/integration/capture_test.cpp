// Recording the greeting: an MP4 that players open, the same frames every run, and nothing left
// behind by a bad request.
#include "app/Capture.h"

#include <gtest/gtest.h>
#include <stb_image.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "music/modMusic.h"
#include "platform/audio/DirectMusic.h"
#include "platform/files/AtomicOutput.h"
#include "platform/video/Mp4Writer.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"
#include "tests/support/Process.h"
#include "tests/support/VideoFrames.h"

namespace {

namespace fs = std::filesystem;

using wgtest::RunProgram;

TEST(Capture, ThreeSecondsBecomeAnH264VideoWithItsMusic) {
  const std::string dir = wgtest::ScratchDir("capture-mp4");
  const std::string mp4 = dir + "/greeting.mp4";
  ASSERT_EQ(RunProgram("--record " + mp4 + " --seconds 3 --fps 30", dir + "/log"), 0);
  ASSERT_TRUE(fs::exists(mp4));
  EXPECT_FALSE(fs::exists(platform::PartialName(mp4)));
  const video::Mp4Info info = video::ProbeMp4(mp4, false);
  EXPECT_EQ(info.videoCodec, "h264");
  EXPECT_EQ(info.width, 1024);
  EXPECT_EQ(info.height, 768);
  EXPECT_DOUBLE_EQ(info.fps, 30.0);
  EXPECT_EQ(info.videoFrames, 90);
  EXPECT_NEAR(info.videoSeconds, 3.0, 1.0 / 30 + 1e-9);
  EXPECT_EQ(info.audioCodec, "aac");
  EXPECT_NEAR(info.audioSeconds, info.videoSeconds, 1.0 / 30 + 0.03);  // within a frame (and one AAC frame)
  EXPECT_GT(info.audioRms, 0.003);                                     // the tune, not silence
  // Its output went to a file, not a terminal: no progress line, only the closing word.
  const std::string log = wgtest::Slurp(dir + "/log");
  EXPECT_EQ(log, "Wrote " + mp4 + "\n");
}

TEST(Capture, TwoRunsGiveTheSameFrames) {
  const std::string dir = wgtest::ScratchDir("capture-twice");
  ASSERT_EQ(RunProgram("--record " + dir + "/a.mp4 --seconds 1 --fps 20", dir + "/log"), 0);
  ASSERT_EQ(RunProgram("--record " + dir + "/b.mp4 --seconds 1 --fps 20", dir + "/log"), 0);
  const auto a = video::ProbeMp4(dir + "/a.mp4", true);
  const auto b = video::ProbeMp4(dir + "/b.mp4", true);
  ASSERT_EQ(a.frameHashes.size(), 20u);
  EXPECT_EQ(a.frameHashes, b.frameHashes);
  EXPECT_NE(a.frameHashes.front(), a.frameHashes.back());  // the scene moves
}

TEST(Capture, FramesDirGetsNumberedPngs) {
  const std::string dir = wgtest::ScratchDir("capture-frames");
  ASSERT_EQ(RunProgram("--frames-dir " + dir + "/frames --seconds 0.5 --fps 10", dir + "/log"), 0);
  for (int i = 1; i <= 5; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frames/frame-%05d.png", i);
    EXPECT_TRUE(fs::exists(dir + name)) << name;
  }
  EXPECT_FALSE(fs::exists(dir + "/frames/frame-00006.png"));
  // Opaque, as the picture on screen is.
  int w = 0, h = 0, c = 0;
  unsigned char* px = stbi_load((dir + "/frames/frame-00001.png").c_str(), &w, &h, &c, 4);
  ASSERT_NE(px, nullptr);
  std::size_t translucent = 0;
  for (std::size_t i = 3; i < static_cast<std::size_t>(w) * h * 4; i += 4) translucent += px[i] != 255;
  stbi_image_free(px);
  EXPECT_EQ(translucent, 0u);
}

// The frames are written on a thread of their own while the next ones render: each file must still
// hold its own frame, the one a headless run of as many frames shows.
TEST(Capture, EachWrittenFrameIsTheFrameRenderedAtItsNumber) {
  const std::string dir = wgtest::ScratchDir("capture-order");
  ASSERT_EQ(RunProgram("--frames-dir " + dir + "/frames --seconds 0.1 --fps 60", dir + "/log"), 0);
  auto pixels = [](const std::string& png) {
    int w = 0, h = 0, c = 0;
    unsigned char* px = stbi_load(png.c_str(), &w, &h, &c, 3);
    std::string bytes =
        px ? std::string(reinterpret_cast<char*>(px), static_cast<std::size_t>(w) * h * 3) : "";
    stbi_image_free(px);
    return bytes;
  };
  for (int frame : {2, 6}) {
    const std::string shot = dir + "/shot-" + std::to_string(frame) + ".png";
    ASSERT_EQ(RunProgram("--headless --frames " + std::to_string(frame) + " --screenshot " + shot, dir + "/log"), 0);
    char name[32];
    std::snprintf(name, sizeof name, "/frames/frame-%05d.png", frame);
    const std::string written = pixels(dir + name);
    ASSERT_FALSE(written.empty()) << name;
    EXPECT_TRUE(written == pixels(shot)) << name << " is not the frame rendered at number " << frame;
  }
}

// The encoder's settings trade speed against fidelity: the video must stay close to the frames
// rendered (39 dB over ten seconds when they were chosen). A wrong colour conversion, a swapped
// channel or a frame out of place falls far below these bounds.
TEST(Capture, TheVideoStaysCloseToTheRenderedFrames) {
  const std::string dir = wgtest::ScratchDir("capture-fidelity");
  ASSERT_EQ(RunProgram("--record " + dir + "/a.mp4 --seconds 1 --fps 30", dir + "/log"), 0);
  ASSERT_EQ(RunProgram("--frames-dir " + dir + "/frames --seconds 1 --fps 30", dir + "/log"), 0);
  const wgtest::Fidelity f = wgtest::VideoAgainstFrames(dir + "/a.mp4", dir + "/frames");
  ASSERT_TRUE(f.error.empty()) << f.error;
  ASSERT_EQ(f.frames, 30);
  EXPECT_GE(f.psnr, 37.5);
  EXPECT_GE(f.worstPsnr, 35.0);
  std::printf("PSNR over the second: %.2f dB, worst frame %.2f dB\n", f.psnr, f.worstPsnr);
}

// The synthesizer renders each frame's sound on a thread of its own: the track must still be the
// tune as one offline rendering gives it, every piece in its place (AAC keeps it within about
// 30 dB; a piece out of order or repeated drops the whole under 10).
TEST(Capture, TheSoundTrackIsTheTuneInStep) {
  const std::string dir = wgtest::ScratchDir("capture-sound");
  ASSERT_EQ(RunProgram("--record " + dir + "/a.mp4 --seconds 2 --fps 30", dir + "/log"), 0);
  const std::vector<float> track = wgtest::DecodeStereo(dir + "/a.mp4");
  music::modMusic tune(wgtest::AppDir() + "/music/main.mid", audio::OutputMode::Offline);
  tune.InitMusic(nullptr);
  const int rate = tune.MusicPerformance->SampleRate();
  std::vector<float> want(static_cast<std::size_t>(2 * rate) * 2);
  tune.MusicPerformance->RenderOffline(want.data(), want.size() / 2);
  ASSERT_GE(track.size(), want.size());
  // A tenth of a second at each end left out, where the encoder pads and primes.
  double signal = 0, noise = 0;
  for (std::size_t i = static_cast<std::size_t>(rate / 10) * 2; i < want.size() - rate / 10 * 2; ++i) {
    signal += double{want[i]} * want[i];
    noise += (double{track[i]} - want[i]) * (double{track[i]} - want[i]);
  }
  ASSERT_GT(signal, 0);
  const double snr = 10 * std::log10(signal / std::max(noise, 1e-12));
  EXPECT_GE(snr, 20.0);
  std::printf("sound track against the tune: %.1f dB SNR\n", snr);
}

struct ContainerCase {
  const char* file;
  const char* format;   // as libavformat names its demuxer
  const char* docType;  // Matroska's own name for the file's kind; null for MP4
  const char* video;
  const char* audio;
  int sampleRate;
};

void PrintTo(const ContainerCase& c, std::ostream* os) {
  *os << c.file;
}

class Container : public testing::TestWithParam<ContainerCase> {};

// The file's extension chooses the container and its codecs, and a reader finds what was asked for.
TEST_P(Container, TheExtensionChoosesTheContainerAndItsCodecs) {
  const ContainerCase c = GetParam();
  const std::string dir = wgtest::ScratchDir(std::string("capture-container-") + c.file);
  const std::string file = dir + "/" + c.file;
  ASSERT_EQ(RunProgram("--record " + file + " --seconds 1 --fps 10", dir + "/log"), 0)
      << wgtest::Slurp(dir + "/log");
  EXPECT_FALSE(fs::exists(platform::PartialName(file)));
  const video::Mp4Info info = video::ProbeMp4(file, true);
  EXPECT_EQ(info.format, c.format);
  EXPECT_EQ(info.videoCodec, c.video);
  EXPECT_EQ(info.width, 1024);
  EXPECT_EQ(info.height, 768);
  EXPECT_EQ(info.videoFrames, 10);
  EXPECT_NEAR(info.videoSeconds, 1.0, 0.1 + 1e-9);
  EXPECT_EQ(info.audioCodec, c.audio);
  EXPECT_EQ(info.audioSampleRate, c.sampleRate);
  EXPECT_NEAR(info.audioSeconds, 1.0, 0.05);
  EXPECT_GT(info.audioRms, 0.01);  // the tune, not silence
  if (c.docType) {
    // The EBML header near the start names the kind: "webm" for WebM, "matroska" otherwise.
    const std::string head = wgtest::Slurp(file).substr(0, 64);
    EXPECT_NE(
        head.find(std::string("\x42\x82") + static_cast<char>(0x80 | std::strlen(c.docType)) + c.docType),
        std::string::npos);
  }
}

// The top-level parts of a video file in the order they lie: MP4's boxes ("ftyp", "moov", "mdat"),
// or for Matroska and WebM the elements inside the segment, as four-character names ("Cues",
// "Clus" for a cluster, "Info", ...); empty when the file's structure cannot be followed.
std::vector<std::string> TopLevelParts(const std::string& bytes) {
  std::vector<std::string> parts;
  auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes[i]); };
  if (bytes.size() >= 8 && bytes.compare(4, 4, "ftyp") == 0) {
    for (std::size_t at = 0; at + 8 <= bytes.size();) {
      std::uint64_t size = 0;
      for (int k = 0; k < 4; ++k) size = (size << 8) | byteAt(at + k);
      if (size == 1 && at + 16 <= bytes.size()) {
        size = 0;
        for (int k = 8; k < 16; ++k) size = (size << 8) | byteAt(at + k);
      }
      parts.push_back(bytes.substr(at + 4, 4));
      if (size < 8 || size > bytes.size() - at) break;
      at += size;
    }
    return parts;
  }
  // EBML: an element's ID keeps its length marker, its size drops it (all ones: unknown size).
  auto readVint = [&](std::size_t& at, bool keepMarker, bool& unknown) -> std::uint64_t {
    if (at >= bytes.size()) return 0;
    const std::uint8_t first = byteAt(at);
    int length = 1;
    while (length <= 8 && !(first & (0x80 >> (length - 1)))) ++length;
    if (length > 8 || at + length > bytes.size()) return at = bytes.size(), 0;
    std::uint64_t v = keepMarker ? first : first & (0xFF >> length);
    bool ones = (first & (0xFF >> length)) == (0xFF >> length);
    for (int k = 1; k < length; ++k) {
      v = (v << 8) | byteAt(at + k);
      ones = ones && byteAt(at + k) == 0xFF;
    }
    unknown = ones;
    at += length;
    return v;
  };
  std::size_t at = 0;
  bool unknown = false;
  while (at < bytes.size()) {
    const std::uint64_t id = readVint(at, true, unknown);
    const std::uint64_t size = readVint(at, false, unknown);
    if (id == 0x18538067) break;  // the segment: its children follow
    at += size;
  }
  static const std::map<std::uint64_t, std::string> kNames = {
      {0x114D9B74, "Seek"}, {0x1549A966, "Info"}, {0x1654AE6B, "Trak"}, {0x1C53BB6B, "Cues"},
      {0x1F43B675, "Clus"}, {0x1254C367, "Tags"}, {0xEC, "Void"}};
  while (at < bytes.size()) {
    const std::uint64_t id = readVint(at, true, unknown);
    const std::uint64_t size = readVint(at, false, unknown);
    const auto name = kNames.find(id);
    parts.push_back(name == kNames.end() ? "?" : name->second);
    if (unknown || size > bytes.size() - at) break;
    at += size;
  }
  return parts;
}

// A player can start before the whole file has arrived: the index (MP4's "moov", Matroska's cues)
// lies before the media data. And the colours are described as the frames were converted: BT.601's
// matrix in studio range, from the renderer's sRGB (BT.709 primaries, the sRGB curve).
TEST_P(Container, TheIndexComesBeforeTheMediaAndTheColoursAreDescribed) {
  const ContainerCase c = GetParam();
  const std::string dir = wgtest::ScratchDir(std::string("capture-faststart-") + c.file);
  const std::string file = dir + "/" + c.file;
  ASSERT_EQ(RunProgram("--record " + file + " --seconds 3 --fps 10", dir + "/log"), 0) << wgtest::Slurp(dir + "/log");
  const std::vector<std::string> parts = TopLevelParts(wgtest::Slurp(file));
  const bool mp4 = c.docType == nullptr;
  const std::string index = mp4 ? "moov" : "Cues", media = mp4 ? "mdat" : "Clus";
  const auto indexAt = std::find(parts.begin(), parts.end(), index);
  const auto mediaAt = std::find(parts.begin(), parts.end(), media);
  ASSERT_NE(indexAt, parts.end()) << testing::PrintToString(parts);
  ASSERT_NE(mediaAt, parts.end()) << testing::PrintToString(parts);
  EXPECT_LT(indexAt, mediaAt) << testing::PrintToString(parts);

  const video::Mp4Info info = video::ProbeMp4(file, false);
  EXPECT_EQ(info.colorRange, "tv");
  EXPECT_EQ(info.colorSpace, "smpte170m");
  EXPECT_EQ(info.colorPrimaries, "bt709");
  EXPECT_EQ(info.colorTransfer, "iec61966-2-1");
}

INSTANTIATE_TEST_SUITE_P(
    Capture, Container,
    testing::Values(ContainerCase{"greeting.MP4", "mov,mp4,m4a,3gp,3g2,mj2", nullptr, "h264", "aac", 44100},
                    ContainerCase{"greeting.mkv", "matroska,webm", "matroska", "h264", "aac", 44100},
                    ContainerCase{"greeting.webm", "matroska,webm", "webm", "vp9", "opus", 48000}),
    [](const testing::TestParamInfo<ContainerCase>& i) {
      const std::string f = i.param.file;
      return f.substr(f.find('.') + 1);
    });

TEST(Capture, AnyOtherExtensionIsRefusedBeforeRendering) {
  const std::string dir = wgtest::ScratchDir("capture-extension");
  for (const std::string name : {"greeting.avi", "greeting", "greeting.mp4.old", "greeting.mov"}) {
    SCOPED_TRACE(name);
    // An hour at 240 frames per second: only a refusal ends this within the test's patience.
    const pid_t pid = wgtest::Spawn({wgtest::AppDir() + "/winter-greeting", "--record", dir + "/" + name,
                                     "--seconds", "3600", "--fps", "240"},
                                    dir + "/../extension.log");
    const auto status = wgtest::WaitExit(pid, 60);
    wgtest::Stop(pid);
    ASSERT_TRUE(status.has_value()) << "still recording";
    EXPECT_EQ(WEXITSTATUS(*status), 2);
    const std::string log = wgtest::Slurp(dir + "/../extension.log");
    EXPECT_EQ(log.find("winter-greeting: --record: cannot write " + dir + "/" + name + ": --record writes .mp4"), 0u)
        << log;
  }
  EXPECT_TRUE(fs::is_empty(dir));
}

// The video is written under a temporary name, but a failure names the file the user asked for.
TEST(Mp4Writer, ErrorsNameTheFileAskedForNotTheTemporaryOne) {
  const std::string dir = wgtest::ScratchDir("writer-name");
  try {
    video::Mp4Writer writer(dir + "/gone/.greeting.webm.partial", 1024, 768, 30, 44100,
                            video::Container::WebM, "greeting.webm");
    FAIL() << "opened a file in a missing folder";
  } catch (const std::exception& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("avio_open"), std::string::npos) << what;
    EXPECT_NE(what.find("(greeting.webm)"), std::string::npos) << what;
    EXPECT_EQ(what.find("partial"), std::string::npos) << what;
  }
}

TEST(Mp4Writer, ContainersByExtension) {
  EXPECT_EQ(video::ContainerForFile("a.mp4"), video::Container::Mp4);
  EXPECT_EQ(video::ContainerForFile("dir.x/A.Mp4"), video::Container::Mp4);
  EXPECT_EQ(video::ContainerForFile("a.mkv"), video::Container::Matroska);
  EXPECT_EQ(video::ContainerForFile("a.WEBM"), video::Container::WebM);
  EXPECT_EQ(video::ContainerForFile("a.webm.part"), std::nullopt);
  EXPECT_EQ(video::ContainerForFile("dir.mp4/a"), std::nullopt);
  EXPECT_EQ(video::ContainerForFile("mp4"), std::nullopt);
  EXPECT_EQ(video::ContainerForFile("a.mov"), std::nullopt);
}

TEST(Capture, BadRequestsFailBeforeRenderingAndLeaveNothing) {
  const std::string dir = wgtest::ScratchDir("capture-bad");
  EXPECT_NE(RunProgram("--record " + dir + "/missing/folder/x.mp4 --seconds 1", dir + "/log"), 0);
  EXPECT_FALSE(fs::exists(dir + "/missing"));
  EXPECT_NE(RunProgram("--record " + dir + " --seconds 1", dir + "/log"), 0);  // a folder, not a file
  EXPECT_EQ(RunProgram("--record " + dir + "/x.mp4 --seconds 0", dir + "/log"), 2);
  EXPECT_EQ(RunProgram("--record " + dir + "/x.mp4 --seconds -3", dir + "/log"), 2);
  EXPECT_EQ(RunProgram("--record " + dir + "/x.mp4 --seconds 1e9", dir + "/log"), 2);
  EXPECT_EQ(RunProgram("--record " + dir + "/x.mp4 --fps 0", dir + "/log"), 2);
  EXPECT_EQ(RunProgram("--record " + dir + "/x.mp4 --fps 100000", dir + "/log"), 2);
  EXPECT_EQ(RunProgram("--seconds 3", dir + "/log"), 2);
  std::size_t entries = 0;
  for (const auto& e : fs::directory_iterator(dir)) entries += e.path().filename() != "log";
  EXPECT_EQ(entries, 0u);
}

// FFmpeg comes with the codec module: a run that only plays never loads it, a recording loads it,
// and a program folder without it refuses to record with a message that names the module.
TEST(CodecModule, LoadedOnlyToRecord) {
  const std::string dir = wgtest::ScratchDir("codec-module");
  ASSERT_EQ(RunProgram("--headless --frames 1", dir + "/play.log"), 0);
  // The loader's own list of every object it maps, dlopen'ed ones included.
  ASSERT_EQ(std::system(("LD_DEBUG=files " + wgtest::AppDir() + "/winter-greeting --headless --frames 1 2>" +
                         dir + "/play.libs >/dev/null")
                            .c_str()),
            0);
  const std::string played = wgtest::Slurp(dir + "/play.libs");
  ASSERT_NE(played.find("libfluidsynth"), std::string::npos) << "LD_DEBUG listed nothing";
  EXPECT_EQ(played.find("libavcodec"), std::string::npos);
  EXPECT_EQ(played.find("winter-greeting-video.so"), std::string::npos);

  ASSERT_EQ(std::system(("LD_DEBUG=files " + wgtest::AppDir() + "/winter-greeting --record " + dir +
                         "/a.mp4 --seconds 0.1 2>" + dir + "/record.libs >/dev/null")
                            .c_str()),
            0);
  const std::string recorded = wgtest::Slurp(dir + "/record.libs");
  EXPECT_NE(recorded.find("winter-greeting-video.so"), std::string::npos);
  EXPECT_NE(recorded.find("libavcodec"), std::string::npos);
}

TEST(CodecModule, AProgramFolderWithoutItRefusesToRecordAndLeavesNothing) {
  const std::string dir = wgtest::ScratchDir("codec-module-missing");
  const fs::path app = wgtest::AppDirWithout("codec-module-missing-app", {});
  fs::copy_file(wgtest::AppDir() + "/winter-greeting", app / "winter-greeting");
  const std::string cmd =
      (app / "winter-greeting").string() + " --record " + dir + "/out.mp4 --seconds 1 >" + dir + "/log 2>&1";
  const int rc = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 1) << rc;
  const std::string log = wgtest::Slurp(dir + "/log");
  EXPECT_NE(log.find((app / "winter-greeting-video.so").string()), std::string::npos) << log;
  EXPECT_NE(log.find("dlopen"), std::string::npos) << log;
  EXPECT_FALSE(fs::exists(dir + "/out.mp4"));
  EXPECT_FALSE(fs::exists(platform::PartialName(dir + "/out.mp4")));
  // Playing needs no module.
  EXPECT_EQ(
      std::system(((app / "winter-greeting").string() + " --headless --frames 1 >/dev/null 2>&1").c_str()),
      0);
}

}  // namespace
