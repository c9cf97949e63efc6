#include "platform/audio/Preload.h"

#include <mutex>
#include <thread>
#include <utility>

#include "platform/audio/LibraryLog.h"
#include "platform/audio/SoundFont.h"

namespace audio {

namespace {

// One engine being made at a time; what nobody takes is freed at exit.
class Preloaded {
 public:
  ~Preloaded() { discard(); }

  void start(int channels, std::function<void()> onThreadStart) {
    std::lock_guard<std::mutex> lock(m_);
    discardLocked();
    thread_ = std::thread([this, channels, onThreadStart = std::move(onThreadStart)] {
      DropThisThreadsLibraryMessages(true);
      try {
        if (onThreadStart) onThreadStart();
        RouteLibraryLog();
        MakeEngine(made_, channels, FindSoundFont("InitAudio"), "InitAudio");
        ok_ = true;
      } catch (...) {
        // The taker does the work again and reports what fails.
        FreeEngine(made_);
      }
    });
  }

  bool take(Engine& out, int channels, const std::string& soundFont) {
    std::lock_guard<std::mutex> lock(m_);
    if (thread_.joinable()) thread_.join();
    if (!ok_) return false;
    ok_ = false;
    if (made_.channels != channels || made_.soundFont != soundFont) {
      FreeEngine(made_);
      return false;
    }
    out = std::exchange(made_, Engine{});
    return true;
  }

  void discard() {
    std::lock_guard<std::mutex> lock(m_);
    discardLocked();
  }

 private:
  void discardLocked() {
    if (thread_.joinable()) thread_.join();
    FreeEngine(made_);
    ok_ = false;
  }

  std::mutex m_;
  std::thread thread_;
  Engine made_;
  bool ok_ = false;
};

Preloaded& ThePreloaded() {
  static Preloaded preloaded;
  return preloaded;
}

}  // namespace

void StartPreload(int channels, std::function<void()> onThreadStart) {
  ThePreloaded().start(channels, std::move(onThreadStart));
}

bool TakePreloaded(Engine& out, int channels, const std::string& soundFont) {
  return ThePreloaded().take(out, channels, soundFont);
}

}  // namespace audio
