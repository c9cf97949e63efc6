#include "app/Capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "app/Form1.h"
#include "platform/d3dx/Texture.h"
#include "platform/files/AtomicOutput.h"
#include "platform/gl/GlDirect3D8.h"
#include "platform/video/Codecs.h"
#include "render/Framing.h"

namespace app {

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kCountsPerFrame = 100'000;

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

// Conversion and encoding (or PNG writing) on a thread of their own, in the order given, while the
// next frame is rendered and read back: at most `depth` frames wait, so memory stays bounded. A job
// that fails stops the rest, and the next post or finish throws its error on the caller's thread.
class WriterThread {
 public:
  explicit WriterThread(std::size_t depth) : depth_(depth), thread_([this] { run(); }) {}
  ~WriterThread() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stopping_ = true;
      jobs_.clear();
    }
    wake_.notify_all();
    thread_.join();
  }
  WriterThread(const WriterThread&) = delete;
  WriterThread& operator=(const WriterThread&) = delete;

  void post(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(m_);
    room_.wait(lock, [this] { return jobs_.size() < depth_ || error_; });
    if (error_) std::rethrow_exception(error_);
    jobs_.push_back(std::move(job));
    wake_.notify_one();
  }
  // Waits until every job posted has run.
  void finish() {
    std::unique_lock<std::mutex> lock(m_);
    room_.wait(lock, [this] { return (jobs_.empty() && !busy_) || error_; });
    if (error_) std::rethrow_exception(error_);
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
      wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      std::function<void()> job = std::move(jobs_.front());
      jobs_.pop_front();
      busy_ = true;
      lock.unlock();
      std::exception_ptr failed;
      try {
        job();
      } catch (...) {
        failed = std::current_exception();
      }
      lock.lock();
      busy_ = false;
      if (failed) {
        error_ = failed;
        jobs_.clear();
      }
      room_.notify_all();
    }
  }

  std::size_t depth_;
  std::mutex m_;
  std::condition_variable wake_, room_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false, busy_ = false;
  std::exception_ptr error_;
  std::thread thread_;
};

// Spare frame buffers, handed between the drawing thread and the writer.
class BufferPool {
 public:
  std::vector<std::uint8_t> take() {
    std::lock_guard<std::mutex> lock(m_);
    if (spare_.empty()) return {};
    std::vector<std::uint8_t> b = std::move(spare_.back());
    spare_.pop_back();
    return b;
  }
  void give(std::vector<std::uint8_t> b) {
    std::lock_guard<std::mutex> lock(m_);
    spare_.push_back(std::move(b));
  }

 private:
  std::mutex m_;
  std::vector<std::vector<std::uint8_t>> spare_;
};

}  // namespace

namespace {

// A file the run will write: its folder must exist and take new files, and the name must not be a
// folder's.
// A file the command line names that cannot be written is a bad command line (exit code 2).
void checkWritableFile(const std::string& option, const std::string& file) {
  const fs::path p(file);
  if (p.filename().empty()) throw CommandLineError(option + " needs a file name, not a folder: " + file);
  const fs::path dir = p.parent_path().empty() ? fs::path(".") : p.parent_path();
  std::error_code ec;
  if (!fs::is_directory(dir, ec))
    throw CommandLineError(option + ": cannot write " + file + ": no folder " + dir.string());
  if (fs::is_directory(p, ec)) throw CommandLineError(option + ": cannot write " + file + ": it is a folder");
  if (access(dir.c_str(), W_OK) != 0)
    throw CommandLineError(option + ": cannot write " + file + ": " + std::strerror(errno));
}

// The encoder's bounds that keep the whole recording under --max-size. Throws CommandLineError
// naming the smallest size this length and frame allow when even the lowest quality does not fit.
video::RateLimit sizeLimitFor(const Options& o) {
  const render::Framing frame = o.Sized() ? render::FrameFor(o.width, o.height) : render::Framing{};
  const video::SizePlan plan = video::PlanForSize(o.maxBytes, o.seconds, frame.width, frame.height, o.fps,
                                                  *video::ContainerForFile(o.record));
  if (plan.Fits()) return plan.video;
  const auto shown = [](const video::RoundSize& s) {
    return s.text + " (" + video::GroupedBytes(s.bytes) + " bytes)";
  };
  const video::RoundSize given = video::RoundUpSize(o.maxBytes),
                         least = video::RoundUpSize(plan.smallestBytes);
  char what[96];
  std::snprintf(what, sizeof what, "%g s of %dx%d at %d fps", o.seconds, frame.width, frame.height, o.fps);
  throw CommandLineError(
      "--max-size " + (given.bytes == o.maxBytes ? given.text : video::GroupedBytes(o.maxBytes) + " bytes") +
      " is too small for " + what + ": the smallest file is " + shown(least));
}

}  // namespace

void CheckCaptureTarget(const Options& o) {
  if (!o.screenshot.empty()) checkWritableFile("--screenshot", o.screenshot);
  if (!o.poster.empty()) checkWritableFile("--poster", o.poster);
  if (!o.record.empty()) {
    checkWritableFile("--record", o.record);
    if (!video::ContainerForFile(o.record))
      throw CommandLineError(
          "--record: cannot write " + o.record +
          ": --record writes .mp4 (H.264 and AAC), .mkv (H.264 and AAC) or .webm (VP9 and "
          "Opus) files; name the file with one of these extensions");
    if (o.maxBytes > 0) sizeLimitFor(o);
  }
  if (!o.framesDir.empty()) {
    std::error_code ec;
    fs::create_directories(o.framesDir, ec);
    if (ec || !fs::is_directory(o.framesDir))
      throw CommandLineError("--frames-dir: cannot create the folder " + o.framesDir + ": " + ec.message());
    if (access(o.framesDir.c_str(), W_OK) != 0)
      throw CommandLineError("--frames-dir: cannot write into " + o.framesDir + ": " + std::strerror(errno));
  }
}

std::int64_t PosterFrame(double seconds, int fps) {
  const std::int64_t total = std::max<std::int64_t>(1, std::llround(seconds * fps));
  return std::min<std::int64_t>(total - 1, std::llround(kPosterSeconds * fps));
}

std::vector<std::uint8_t> RenderPosterStill(const Card& card, const std::string& appPath, int width,
                                            int height) {
  const Options defaults;
  const std::int64_t poster = PosterFrame(defaults.seconds, defaults.fps);
  platform::VirtualPerformanceCounter counter(static_cast<std::int64_t>(defaults.fps) * kCountsPerFrame);
  gl::GlDirect3D8 direct3d(/*headless=*/true);
  Platform p{
      nullptr, &counter, &direct3d, appPath, audio::OutputMode::Offline, render::FrameFor(width, height)};
  Form1 form(p, card);
  form.Startup();
  form.D3D.D3DDevice->onPresent = [&counter] { counter.Advance(kCountsPerFrame); };
  form.MainLoop(poster + 1);
  d3d::DWORD w = 0, h = 0;
  return form.D3D.D3DDevice->GetBackend().readBack(w, h);
}

void RunCapture(const Options& o, const Card& card, const std::string& appPath) {
  CheckCaptureTarget(o);
  const std::int64_t poster = o.poster.empty() ? -1 : PosterFrame(o.seconds, o.fps);
  // A poster on its own needs the frames up to its own only.
  const bool frames = !o.record.empty() || !o.framesDir.empty();
  const std::int64_t total = frames ? std::max<std::int64_t>(1, std::llround(o.seconds * o.fps)) : poster + 1;
  platform::VirtualPerformanceCounter counter(static_cast<std::int64_t>(o.fps) * kCountsPerFrame);
  gl::GlDirect3D8 direct3d(/*headless=*/true);
  Platform p{nullptr, &counter, &direct3d, appPath, audio::OutputMode::Offline, {}};
  if (o.Sized()) p.framing = render::FrameFor(o.width, o.height);
  Form1 form(p, card);
  form.Startup();
  form.D3D.D3DDevice->onPresent = [&counter] { counter.Advance(kCountsPerFrame); };

  // The video is written under a temporary name and renamed into place once it is complete. Each frame
  // of a frames folder is written so too: the folder may hold other files already, and the frames that
  // are done stay usable when a long run is stopped. The frames reach the disk together at the end: a
  // flush per frame would slow the writer, the bottleneck, by about a tenth.
  std::optional<platform::AtomicOutput> videoFile;
  std::unique_ptr<video::VideoSink> writer;
  if (!o.record.empty()) {
    videoFile.emplace(o.record);
    writer = video::LoadCodecs(appPath).openVideo(videoFile->path(), p.framing.width, p.framing.height, o.fps,
                                                  form.Music.MusicPerformance->SampleRate(),
                                                  *video::ContainerForFile(o.record), o.record,
                                                  o.maxBytes > 0 ? sizeLimitFor(o) : video::RateLimit{});
  }
  // The tune started with start-up, as the first frame does: frame i covers the sound from i/fps to
  // (i+1)/fps seconds. The synthesizer renders it on a thread of its own, in frame order, while the
  // encoder works on the frame before and this thread draws the next.
  std::int64_t samplesDone = 0;
  audio::DirectMusicPerformance8& music = *form.Music.MusicPerformance;
  using Sound = std::vector<float>;
  // Frame buffers come back once written, so that reading back never allocates after the first few.
  BufferPool buffers;

  Progress progress(total);
  // Drawing and reading back stay on this thread, which holds the GL context; the writer takes each
  // frame and its sound in order on its own.
  WriterThread encoder(2);
  WriterThread synthesizer(2);
  d3d::Backend& backend = form.D3D.D3DDevice->GetBackend();
  for (std::int64_t i = 0; i < total; ++i) {
    form.MainLoop(1);
    d3d::DWORD w = 0, h = 0;
    std::vector<std::uint8_t> pixels = buffers.take();
    backend.readBackInto(pixels, w, h);
    if (i == poster)
      encoder.post([file = o.poster, still = pixels, w, h] {
        d3dx::WriteJpeg(file, still, static_cast<int>(w), static_cast<int>(h));
      });
    if (!frames) {
      buffers.give(std::move(pixels));
    } else if (writer) {
      auto render = std::make_shared<std::packaged_task<Sound()>>([&, i] {
        const std::int64_t samplesDue = (i + 1) * music.SampleRate() / o.fps;
        Sound sound(static_cast<std::size_t>(samplesDue - samplesDone) * 2);
        music.RenderOffline(sound.data(), sound.size() / 2);
        samplesDone = samplesDue;
        return sound;
      });
      std::shared_future<Sound> sound = render->get_future().share();
      synthesizer.post([render] { (*render)(); });
      encoder.post([&, sound, pixels = std::move(pixels)]() mutable {
        writer->AddFrame(pixels.data());
        const Sound& s = sound.get();
        writer->AddAudio(s.data(), s.size() / 2);
        buffers.give(std::move(pixels));
      });
    } else {
      char name[32];
      std::snprintf(name, sizeof name, "frame-%05lld.png", static_cast<long long>(i + 1));
      encoder.post(
          [&, file = (fs::path(o.framesDir) / name).string(), pixels = std::move(pixels), w, h]() mutable {
            const std::vector<std::uint8_t> png =
                d3dx::EncodePng(file, pixels, static_cast<int>(w), static_cast<int>(h));
            platform::WriteFileAtomically(file, png.data(), png.size(), platform::AtomicOutput::Flush::Later);
            buffers.give(std::move(pixels));
          });
    }
    progress.update(i + 1);
  }
  encoder.finish();
  if (!o.framesDir.empty()) platform::FlushFolder(o.framesDir);
  if (writer) {
    writer->Finish();
    writer.reset();
    // The encoders' bounds should keep the file in; should they not, no file is better than one the
    // messenger refuses.
    const auto bytes = static_cast<std::int64_t>(fs::file_size(videoFile->path()));
    if (o.maxBytes > 0 && bytes > o.maxBytes)
      throw std::runtime_error("cannot keep " + o.record + " under --max-size " +
                               video::GroupedBytes(o.maxBytes) + " bytes: it came to " +
                               video::GroupedBytes(bytes) + " bytes; no file was written");
    videoFile->commit();
  }
}

}  // namespace app
