#include "app/Capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "app/Form1.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"
#include "platform/video/Mp4Writer.h"

namespace app {

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kCountsPerFrame = 100'000;

// The one file a capture may leave half-written; a terminating signal removes it. It lives outside
// any object because a signal handler can reach nothing else.
char g_partialPath[4096];

void removePartialAndExit(int sig) {
  if (g_partialPath[0]) unlink(g_partialPath);
  _exit(128 + sig);
}

struct PartialGuard {
  explicit PartialGuard(const std::string& path) {
    std::snprintf(g_partialPath, sizeof g_partialPath, "%s", path.c_str());
    std::signal(SIGINT, removePartialAndExit);
    std::signal(SIGTERM, removePartialAndExit);
    std::signal(SIGHUP, removePartialAndExit);
  }
  ~PartialGuard() {
    if (g_partialPath[0]) unlink(g_partialPath);
    g_partialPath[0] = '\0';
  }
  void keep() { g_partialPath[0] = '\0'; }
};

class Progress {
 public:
  explicit Progress(std::int64_t total) : total_(total), tty_(isatty(STDOUT_FILENO) == 1) {}
  void update(std::int64_t done) {
    if (!tty_) return;
    const auto now = std::chrono::steady_clock::now();
    if (done < total_ && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    const double secs = std::chrono::duration<double>(now - start_).count();
    const double fps = secs > 0 ? static_cast<double>(done) / secs : 0;
    const double left = fps > 0 ? static_cast<double>(total_ - done) / fps : 0;
    std::printf("\r  frame %lld of %lld  %.1f fps  %.0f s left   ", static_cast<long long>(done),
                static_cast<long long>(total_), fps, left);
    if (done == total_) std::printf("\n");
    std::fflush(stdout);
  }

 private:
  std::int64_t total_;
  bool tty_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now(), last_{};
};

}  // namespace

std::string PartialName(const std::string& finalPath) {
  const fs::path p(finalPath);
  return (p.parent_path() / ("." + p.filename().string() + ".partial")).string();
}

namespace {

// A file the run will write: its folder must exist and take new files, and the name must not be a
// folder's.
void checkWritableFile(const std::string& option, const std::string& file) {
  const fs::path p(file);
  if (p.filename().empty()) throw std::runtime_error(option + " needs a file name, not a folder: " + file);
  const fs::path dir = p.parent_path().empty() ? fs::path(".") : p.parent_path();
  std::error_code ec;
  if (!fs::is_directory(dir, ec))
    throw std::runtime_error("cannot write " + file + ": no folder " + dir.string());
  if (fs::is_directory(p, ec)) throw std::runtime_error("cannot write " + file + ": it is a folder");
  if (access(dir.c_str(), W_OK) != 0)
    throw std::runtime_error("cannot write " + file + ": " + std::strerror(errno));
}

}  // namespace

void CheckCaptureTarget(const Options& o) {
  if (!o.screenshot.empty()) checkWritableFile("--screenshot", o.screenshot);
  if (!o.record.empty()) {
    checkWritableFile("--record", o.record);
    if (!video::ContainerForFile(o.record))
      throw std::runtime_error(
          "cannot write " + o.record +
          ": --record writes .mp4 (H.264 and AAC), .mkv (H.264 and AAC) or .webm (VP9 and "
          "Opus) files; name the file with one of these extensions");
  }
  if (!o.framesDir.empty()) {
    std::error_code ec;
    fs::create_directories(o.framesDir, ec);
    if (ec || !fs::is_directory(o.framesDir))
      throw std::runtime_error("cannot create the frames folder " + o.framesDir + ": " + ec.message());
    if (access(o.framesDir.c_str(), W_OK) != 0)
      throw std::runtime_error("cannot write into " + o.framesDir + ": " + std::strerror(errno));
  }
}

void RunCapture(const Options& o, const Card& card, const std::string& appPath) {
  CheckCaptureTarget(o);
  const std::int64_t total = std::max<std::int64_t>(1, std::llround(o.seconds * o.fps));
  platform::VirtualPerformanceCounter counter(static_cast<std::int64_t>(o.fps) * kCountsPerFrame);
  gl::GlDirect3D8 direct3d(/*headless=*/true);
  Platform p{nullptr, &counter, &direct3d, appPath};
  p.musicOutput = audio::OutputMode::Offline;
  Form1 form(p, card);
  form.Startup();
  form.D3D.D3DDevice->onPresent = [&counter] { counter.Advance(kCountsPerFrame); };

  std::unique_ptr<video::Mp4Writer> writer;
  std::unique_ptr<PartialGuard> guard;
  const std::string partial = o.record.empty() ? std::string() : PartialName(o.record);
  if (!o.record.empty()) {
    guard = std::make_unique<PartialGuard>(partial);
    writer = std::make_unique<video::Mp4Writer>(partial, 1024, 768, o.fps,
                                                form.Music.MusicPerformance->SampleRate(),
                                                *video::ContainerForFile(o.record), o.record);
  }
  // The tune started with start-up, as the first frame does: frame i covers the sound from i/fps to
  // (i+1)/fps seconds.
  std::vector<float> sound;
  std::int64_t samplesDone = 0;

  Progress progress(total);
  char name[32];
  for (std::int64_t i = 0; i < total; ++i) {
    form.MainLoop(1);
    d3d::DWORD w = 0, h = 0;
    const auto pixels = form.D3D.D3DDevice->GetBackend().readBack(w, h);
    if (writer) {
      writer->AddFrame(pixels.data());
      const std::int64_t rate = form.Music.MusicPerformance->SampleRate();
      const std::int64_t samplesDue = (i + 1) * rate / o.fps;
      sound.resize(static_cast<std::size_t>(samplesDue - samplesDone) * 2);
      form.Music.MusicPerformance->RenderOffline(sound.data(), static_cast<std::size_t>(samplesDue - samplesDone));
      writer->AddAudio(sound.data(), static_cast<std::size_t>(samplesDue - samplesDone));
      samplesDone = samplesDue;
    } else {
      std::snprintf(name, sizeof name, "frame-%05lld.png", static_cast<long long>(i + 1));
      d3dx::WritePng((fs::path(o.framesDir) / name).string(), pixels, static_cast<int>(w), static_cast<int>(h));
    }
    progress.update(i + 1);
  }
  if (writer) {
    writer->Finish();
    writer.reset();
    std::error_code ec;
    fs::rename(partial, o.record, ec);
    if (ec) throw std::runtime_error("cannot move the finished video to " + o.record + ": " + ec.message());
    guard->keep();
  }
}

}  // namespace app
