// FFmpeg's error codes as the errors this program throws.
#pragma once

extern "C" {
#include <libavutil/error.h>
}

#include <string>

#include "platform/base/Error.h"

namespace video {

inline std::string AvErrorText(int code) {
  char buf[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, buf, sizeof buf);
  return buf;
}

// Throws platform::Error naming `call` and `file` when FFmpeg's `ret` is an error.
inline void CheckAv(int ret, const char* call, const std::string& file) {
  if (ret < 0) throw platform::Error(call, AvErrorText(ret), file);
}

}  // namespace video
