#include "platform/audio/LibraryLog.h"

#include <fluidsynth.h>

#include <cstdio>
#include <mutex>
#include <utility>

namespace audio {

namespace {

thread_local bool tDropped = false;

std::mutex& SinkMutex() {
  static std::mutex m;
  return m;
}

LibraryMessageSink& Sink() {
  static LibraryMessageSink sink;
  return sink;
}

void Route(int level, const char* message, void*) {
  if (tDropped) return;
  {
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (const LibraryMessageSink& sink = Sink()) {
      sink(level, message ? message : "");
      return;
    }
  }
  if (level == FLUID_PANIC || level == FLUID_ERR)
    std::fprintf(stderr, "fluidsynth: %s: %s\n", level == FLUID_PANIC ? "panic" : "error", message);
}

}  // namespace

void RouteLibraryLog() {
  static std::once_flag once;
  std::call_once(once, [] {
    for (int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO})
      fluid_set_log_function(level, Route, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
  });
}

void SetLibraryMessageSink(LibraryMessageSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  Sink() = std::move(sink);
}

void DropThisThreadsLibraryMessages(bool drop) {
  tDropped = drop;
}

}  // namespace audio
