#include "platform/video/Codecs.h"

#include <dlfcn.h>

#include <mutex>

#include "platform/base/Error.h"

namespace video {

const Codecs& LoadCodecs(const std::string& folder) {
  static std::mutex lock;
  static const Codecs* loaded = nullptr;
  std::lock_guard<std::mutex> guard(lock);
  if (loaded) return *loaded;
  const std::string file = folder + "/" + kCodecsModule;
  // The module stays loaded for the rest of the run: the objects it makes live until exit.
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    const char* why = dlerror();
    // dlerror's text names the module's file.
    throw platform::Error("dlopen", (why ? std::string(why) : file + ": cannot be loaded") +
                                        "; recording and exporting need this module");
  }
  using Entry = const Codecs* (*)();
  const auto entry = reinterpret_cast<Entry>(dlsym(module, kCodecsEntry));
  const Codecs* codecs = entry ? entry() : nullptr;
  if (!codecs) throw platform::Error("dlsym", std::string("no ") + kCodecsEntry + " in the module", file);
  if (codecs->version != kCodecsVersion)
    throw platform::Error(kCodecsEntry,
                          "the module is version " + std::to_string(codecs->version) +
                              ", the program needs " + std::to_string(kCodecsVersion) +
                              "; reinstall the program",
                          file);
  loaded = codecs;
  return *loaded;
}

}  // namespace video
