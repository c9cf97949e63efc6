// Standard MIDI files for the generated tunes: tracks of timed events, written as a type 1 file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace mediagen {

struct Event {
  std::uint32_t tick;
  int order;  // within a tick: note-offs, then controls and meta events, then note-ons
  std::vector<std::uint8_t> bytes;
};

class Track {
 public:
  void Meta(std::uint32_t tick, std::uint8_t type, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> b{0xFF, type};
    VarLen(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    events_.push_back({tick, 1, std::move(b)});
  }
  void Text(std::uint32_t tick, std::uint8_t type, const std::string& s) {
    Meta(tick, type, std::vector<std::uint8_t>(s.begin(), s.end()));
  }
  void SysEx(std::uint32_t tick, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> b{0xF0};
    VarLen(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    events_.push_back({tick, 1, std::move(b)});
  }
  void Program(std::uint32_t tick, int ch, int program) {
    events_.push_back({tick, 1, {static_cast<std::uint8_t>(0xC0 | ch), static_cast<std::uint8_t>(program)}});
  }
  void Control(std::uint32_t tick, int ch, int cc, int value) {
    events_.push_back({tick,
                       1,
                       {static_cast<std::uint8_t>(0xB0 | ch), static_cast<std::uint8_t>(cc),
                        static_cast<std::uint8_t>(value)}});
  }
  // The track's name and, at its start, the channel's program, volume and pan.
  void Instrument(const std::string& name, int ch, int program, int volume, int pan) {
    Text(0, 0x03, name);
    Program(0, ch, program);
    Control(0, ch, 7, volume);
    Control(0, ch, 10, pan);
  }
  void Note(std::uint32_t tick, std::uint32_t length, int ch, int key, int velocity) {
    const auto k = static_cast<std::uint8_t>(key);
    const auto v = static_cast<std::uint8_t>(std::clamp(velocity, 1, 127));
    events_.push_back({tick, 2, {static_cast<std::uint8_t>(0x90 | ch), k, v}});
    events_.push_back(
        {tick + std::max<std::uint32_t>(length, 1), 0, {static_cast<std::uint8_t>(0x80 | ch), k, 64}});
  }

  // The track chunk: events in time order, delta times, and the end-of-track event.
  std::vector<std::uint8_t> Chunk() {
    std::stable_sort(events_.begin(), events_.end(), [](const Event& a, const Event& b) {
      return a.tick != b.tick ? a.tick < b.tick : a.order < b.order;
    });
    std::vector<std::uint8_t> body;
    std::uint32_t now = 0;
    for (const Event& e : events_) {
      VarLen(body, e.tick - now);
      now = e.tick;
      body.insert(body.end(), e.bytes.begin(), e.bytes.end());
    }
    body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
    std::vector<std::uint8_t> chunk{'M', 'T', 'r', 'k'};
    Put32(chunk, static_cast<std::uint32_t>(body.size()));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
  }

  static void Put32(std::vector<std::uint8_t>& b, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<std::uint8_t>(v >> shift));
  }

 private:
  static void VarLen(std::vector<std::uint8_t>& b, std::uint32_t v) {
    std::uint8_t groups[5];
    int n = 0;
    do {
      groups[n++] = static_cast<std::uint8_t>(v & 0x7F);
      v >>= 7;
    } while (v);
    while (n-- > 1) b.push_back(groups[n] | 0x80);
    b.push_back(groups[0]);
  }

  std::vector<Event> events_;
};

// The tempo meta event's data for `bpm` quarter notes a minute.
std::vector<std::uint8_t> Tempo(double bpm);

// A type 1 standard MIDI file of `tracks` with `division` ticks per quarter note, written to `path`
// (its folder is made first).
void WriteMidiFile(const std::string& path, int division, std::initializer_list<Track*> tracks);

}  // namespace mediagen
