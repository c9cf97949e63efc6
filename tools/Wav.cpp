#include "tools/Wav.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/base/Error.h"

namespace audio {

namespace {

void Put16(std::vector<std::uint8_t>& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

}  // namespace

void WriteWav(const std::string& file, const std::vector<float>& stereo, int sampleRate) {
  const std::uint64_t dataBytes = stereo.size() * 2;
  if (dataBytes > 0xFFFFFFFFull - 36)
    throw platform::Error("WriteWav", "too many samples for a WAV file", file);
  std::vector<std::uint8_t> b;
  b.reserve(44 + dataBytes);
  b.insert(b.end(), {'R', 'I', 'F', 'F'});
  Put32(b, static_cast<std::uint32_t>(36 + dataBytes));
  b.insert(b.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  Put32(b, 16);
  Put16(b, 1);  // PCM
  Put16(b, 2);
  Put32(b, static_cast<std::uint32_t>(sampleRate));
  Put32(b, static_cast<std::uint32_t>(sampleRate) * 4);
  Put16(b, 4);
  Put16(b, 16);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  Put32(b, static_cast<std::uint32_t>(dataBytes));
  for (float s : stereo) {
    const long v = std::lrint(std::clamp(s, -1.0f, 1.0f) * 32767.0f);
    Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
  }
  std::FILE* f = std::fopen(file.c_str(), "wb");
  if (!f)
    throw platform::Error("WriteWav", std::string("cannot create the file: ") + std::strerror(errno), file);
  const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
  if (std::fclose(f) != 0 || !ok) throw platform::Error("WriteWav", "cannot write the file", file);
}

}  // namespace audio
