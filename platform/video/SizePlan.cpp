#include "platform/video/SizePlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace video {

namespace {

// The lowest quality a recording is given: below about a hundredth of a bit per pixel of each frame
// the falling snow turns into blocks, and below 200 kbit/s a small frame loses its text.
constexpr double kMinBitsPerPixel = 0.01;
constexpr double kMinVideoBitrate = 200'000;
// Above this the frames gain nothing a viewer sees, and H.264's level would rise past what phones
// play (level 4.0 allows 20 Mbit/s); only frames whose lowest quality needs more are given more.
constexpr double kMaxVideoBitrate = 20'000'000;
// The rate buffer: a second of video, or half of a shorter recording.
constexpr double kBufferSeconds = 1.0;
// The encoders' rate control lands near its target, not on it: the budget keeps this share in hand
// (libvpx strays further than x264's buffer model allows), and the sound's encoder may run a tenth
// over its nominal rate on a loud passage.
constexpr double kVideoShare = 0.92;
constexpr double kAudioMargin = 1.1;
// Container overhead: each packet's header and index entry, and what the header takes (Matroska and
// WebM keep 64 KiB after it for the cues).
constexpr double kBytesPerPacket = 24;
constexpr double kMp4HeaderBytes = 8'000;
constexpr double kMatroskaHeaderBytes = 8'000 + 65'536;
// Audio packets per second: AAC's 1024 samples at up to 48 kHz, Opus's 20 ms.
constexpr double kAudioPacketsPerSecond = 50;

}  // namespace

std::int64_t AudioBitrate(Container container) {
  return container == Container::WebM ? 160'000 : 192'000;
}

SizePlan PlanForSize(std::int64_t maxBytes, double seconds, int width, int height, int fps,
                     Container container) {
  const double frames = std::max(1.0, std::round(seconds * fps));
  const double duration = frames / fps;
  const double buffer = std::min(kBufferSeconds, duration / 2);
  const double overhead = (container == Container::Mp4 ? kMp4HeaderBytes : kMatroskaHeaderBytes) +
                          kBytesPerPacket * (frames + kAudioPacketsPerSecond * (duration + 1));
  // A tenth of a second more than the length: the encoder's priming and the last frame's padding.
  const double audioBits = static_cast<double>(AudioBitrate(container)) * kAudioMargin * (duration + 0.1);
  // The rate buffer may be full at the start, so the video takes at most rate * (duration + buffer).
  const auto rateFor = [&](double bytes) {
    return ((bytes - overhead) * 8 - audioBits) * kVideoShare / (duration + buffer);
  };
  const auto bytesFor = [&](double rate) {
    return overhead + (rate / kVideoShare * (duration + buffer) + audioBits) / 8;
  };
  const double floor =
      std::max(kMinVideoBitrate, kMinBitsPerPixel * static_cast<double>(width) * height * fps);
  SizePlan plan;
  plan.smallestBytes = static_cast<std::int64_t>(std::ceil(bytesFor(floor)));
  const double rate = std::min(rateFor(static_cast<double>(maxBytes)), std::max(kMaxVideoBitrate, floor));
  if (rate < floor) return plan;
  plan.video.bitrate = static_cast<std::int64_t>(std::floor(rate));
  plan.video.bufferBits = static_cast<std::int64_t>(std::floor(rate * buffer));
  return plan;
}

RoundSize RoundUpSize(std::int64_t bytes) {
  static constexpr struct {
    double scale;
    const char* unit;
  } kUnits[] = {{1e9, "G"}, {1e6, "M"}, {1e3, "K"}};
  for (const auto& u : kUnits) {
    const double v = static_cast<double>(bytes) / u.scale;
    if (v < 1) continue;
    // Tenths below 10, whole units below 100, tens above.
    const double step = v < 10 ? 0.1 : v < 100 ? 1 : 10;
    const double shown = std::ceil(v / step - 1e-9) * step;
    char text[32];
    std::snprintf(text, sizeof text, "%.*f%s", step < 1 && std::fmod(shown, 1) > 1e-9 ? 1 : 0, shown, u.unit);
    return {static_cast<std::int64_t>(std::llround(shown * u.scale)), text};
  }
  return {bytes, std::to_string(bytes) + "B"};
}

std::string GroupedBytes(std::int64_t bytes) {
  std::string digits = std::to_string(bytes), out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ' ';
    out += digits[i];
  }
  return out;
}

}  // namespace video
