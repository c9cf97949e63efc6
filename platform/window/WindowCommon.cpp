// The part of Window.h that needs no window system, shared with the browser's build: how the picture
// fits a screen.
#include <cstdint>

#include "platform/window/Window.h"

namespace platform {

Rect FitCentred(int pictureW, int pictureH, int areaW, int areaH) {
  Rect r;
  // Integer arithmetic in 64 bits: exact for any screen, and the same on every machine.
  r.w = areaW;
  r.h = static_cast<int>(std::int64_t{areaW} * pictureH / pictureW);
  if (r.h > areaH) {
    r.h = areaH;
    r.w = static_cast<int>(std::int64_t{areaH} * pictureW / pictureH);
  }
  r.x = (areaW - r.w) / 2;
  r.y = (areaH - r.h) / 2;
  return r;
}

}  // namespace platform
