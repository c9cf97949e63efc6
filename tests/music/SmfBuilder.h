// Small standard MIDI files built byte by byte, for the reader's edge cases and single-note sounds.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace wgtest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Header(int format, int tracks, int division) {
  return {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, static_cast<std::uint8_t>(format), static_cast<std::uint8_t>(tracks >> 8),
          static_cast<std::uint8_t>(tracks), static_cast<std::uint8_t>(division >> 8),
          static_cast<std::uint8_t>(division)};
}

// A track chunk around `body` (delta-timed events, end-of-track included by the caller).
inline Bytes Track(const Bytes& body) {
  const auto n = static_cast<std::uint32_t>(body.size());
  Bytes t{'M', 'T', 'r', 'k', static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
          static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
  t.insert(t.end(), body.begin(), body.end());
  return t;
}

inline Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline const Bytes kEndOfTrack{0x00, 0xFF, 0x2F, 0x00};

// One note on channel 0 (program `program`), `ticks` long at 480 ticks per quarter and 120 beats a
// minute, with the channel's own reverb send turned down to nothing.
inline Bytes SingleNote(int key, int velocity, int ticks, int program = 0) {
  Bytes body{0x00, 0xC0, static_cast<std::uint8_t>(program), 0x00, 0xB0, 91, 0, 0x00, 0x90,
             static_cast<std::uint8_t>(key), static_cast<std::uint8_t>(velocity)};
  body.push_back(static_cast<std::uint8_t>(0x80 | (ticks >> 7)));
  body.push_back(static_cast<std::uint8_t>(ticks & 0x7F));
  body.insert(body.end(), {0x80, static_cast<std::uint8_t>(key), 0x40});
  return Cat(Header(0, 1, 480), Track(Cat(body, kEndOfTrack)));
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace wgtest
