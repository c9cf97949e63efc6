// The standard MIDI file reader behind LoadSegment: checks the whole structure of the file before the
// synthesizer's player ever sees it, and measures the tune.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace audio {

struct StandardMidiFile {
  int format = 0;        // 0 or 1
  int tracks = 0;        // track chunks read
  int division = 0;      // ticks per quarter note
  std::uint64_t events = 0;
  std::uint64_t notes = 0;  // note-ons with a velocity above zero
  std::uint64_t lastTick = 0;  // the end of the longest track
  double lengthSeconds = 0;    // lastTick through the file's tempo map
  int tempoChanges = 0;
  int programChanges = 0;
};

// Limits that keep a hostile file from costing unbounded memory or time.
constexpr std::size_t kMaxMidiFileBytes = 16u << 20;
constexpr std::uint64_t kMaxMidiEvents = 4u << 20;
constexpr int kMaxMidiTracks = 1024;

// Reads `bytes` as a standard MIDI file of format 0 or 1 with a ticks-per-quarter division. Every
// track chunk must lie within the file and hold only well-formed channel, system-exclusive and meta
// events ending with its end-of-track event. Throws platform::Error naming `call` and `file`.
StandardMidiFile ReadStandardMidiFile(const std::vector<std::uint8_t>& bytes, const std::string& file,
                                      const std::string& call = "LoadSegment");

}  // namespace audio
