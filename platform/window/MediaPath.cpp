// Media paths are the same on every platform: the desktop's and the browser's file systems both
// spell folders with '/'.
#include "platform/window/Window.h"

namespace platform {

std::string MediaPath(const std::string& appFolder, const std::string& relative) {
  std::string rel = relative;
  for (char& c : rel)
    if (c == '\\') c = '/';
  return appFolder + rel;
}

}  // namespace platform
