#include "platform/audio/StandardMidiFile.h"

#include <algorithm>
#include <limits>

#include "platform/base/Error.h"

namespace audio {

namespace {

constexpr std::uint32_t kDefaultTempo = 500000;  // microseconds per quarter note: 120 beats a minute

struct TempoChange {
  std::uint64_t tick;
  std::uint32_t tempo;
};

class Reader {
 public:
  Reader(const std::vector<std::uint8_t>& bytes, const std::string& file, const std::string& call)
      : b_(bytes), file_(file), call_(call) {}

  StandardMidiFile Read() {
    if (b_.size() > kMaxMidiFileBytes)
      Fail("the file is larger than " + std::to_string(kMaxMidiFileBytes >> 20) + " MiB");
    if (b_.empty()) Fail("the file is empty");
    if (b_.size() < 14 || !Tag(0, "MThd")) Fail("not a standard MIDI file (no MThd header)");
    // The player reads exactly six header bytes, so a longer header would be misread.
    if (U32(4) != 6) Fail("the MThd header length is " + std::to_string(U32(4)) + ", not 6");
    smf_.format = U16(8);
    const int declared = U16(10);
    const std::uint16_t division = U16(12);
    if (smf_.format == 2) Fail("format 2 (independent patterns) is not supported");
    if (smf_.format > 2) Fail("unknown format " + std::to_string(smf_.format));
    if (declared == 0) Fail("the file declares no tracks");
    if (smf_.format == 0 && declared != 1)
      Fail("a format 0 file must hold one track, not " + std::to_string(declared));
    if (declared > kMaxMidiTracks) Fail("too many tracks (" + std::to_string(declared) + ")");
    if (division & 0x8000) Fail("SMPTE time division is not supported");
    if (division == 0) Fail("the time division is 0 ticks per quarter note");
    smf_.division = division;

    std::size_t pos = 14;
    while (smf_.tracks < declared) {
      if (b_.size() - pos < 8)
        Fail("truncated: " + std::to_string(smf_.tracks) + " of " + std::to_string(declared) + " tracks present");
      for (std::size_t i = 0; i < 4; ++i)
        if (b_[pos + i] < 0x20 || b_[pos + i] > 0x7E) Fail("corrupt chunk header at byte " + std::to_string(pos));
      const std::uint32_t length = U32(pos + 4);
      const bool track = Tag(pos, "MTrk");
      pos += 8;
      if (length > b_.size() - pos)
        Fail("truncated: a chunk of " + std::to_string(length) + " bytes at byte " + std::to_string(pos - 8) +
             " runs past the end of the file");
      if (track) {
        ReadTrack(pos, pos + length);
        ++smf_.tracks;
      }
      pos += length;
    }
    smf_.lengthSeconds = Seconds(smf_.lastTick);
    return smf_;
  }

 private:
  [[noreturn]] void Fail(const std::string& cause) const { throw platform::Error(call_, cause, file_); }

  bool Tag(std::size_t at, const char* tag) const { return std::equal(tag, tag + 4, b_.begin() + at); }
  std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(b_[at] << 8 | b_[at + 1]); }
  std::uint32_t U32(std::size_t at) const {
    return std::uint32_t{b_[at]} << 24 | std::uint32_t{b_[at + 1]} << 16 | std::uint32_t{b_[at + 2]} << 8 |
           b_[at + 3];
  }

  std::string Where(std::size_t at) const {
    return " in track " + std::to_string(smf_.tracks + 1) + " at byte " + std::to_string(at);
  }

  std::uint8_t Byte(std::size_t& p, std::size_t end) const {
    if (p >= end) Fail("truncated event" + Where(p));
    return b_[p++];
  }

  std::uint8_t Data(std::size_t& p, std::size_t end) const {
    const std::uint8_t d = Byte(p, end);
    if (d & 0x80) Fail("data byte out of range" + Where(p - 1));
    return d;
  }

  // A variable-length quantity: at most four bytes, seven bits each.
  std::uint32_t VarLen(std::size_t& p, std::size_t end) const {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const std::uint8_t c = Byte(p, end);
      v = v << 7 | (c & 0x7F);
      if (!(c & 0x80)) return v;
    }
    Fail("variable-length number longer than four bytes" + Where(p - 4));
  }

  void ReadTrack(std::size_t p, std::size_t end) {
    std::uint64_t tick = 0;
    std::uint8_t running = 0;
    while (true) {
      if (p >= end) Fail("track " + std::to_string(smf_.tracks + 1) + " has no end-of-track event");
      tick += VarLen(p, end);
      // The player counts ticks in a signed 32-bit integer.
      if (tick > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        Fail("the track runs past 2^31 ticks" + Where(p));
      if (++smf_.events > kMaxMidiEvents) Fail("more than " + std::to_string(kMaxMidiEvents) + " events");
      const std::size_t at = p;
      // A delta time may be the last thing in the track: the event it times is missing.
      if (p >= end) Fail("truncated event" + Where(p));
      std::uint8_t status = b_[p];
      if (status & 0x80) {
        ++p;
      } else {
        // Running status: the data bytes reuse the last channel message's status.
        if (running == 0) Fail("data byte without a status byte" + Where(at));
        status = running;
      }
      if (status < 0xF0) {
        running = status;
        const std::uint8_t kind = status & 0xF0;
        const std::uint8_t d1 = Data(p, end);
        std::uint8_t d2 = 0;
        if (kind != 0xC0 && kind != 0xD0) d2 = Data(p, end);
        if (kind == 0x90 && d2 > 0) ++smf_.notes;
        if (kind == 0xC0) ++smf_.programChanges;
        (void)d1;
        continue;
      }
      // System-exclusive and meta events cancel running status.
      running = 0;
      if (status == 0xF0 || status == 0xF7) {
        const std::uint32_t length = VarLen(p, end);
        if (length > end - p) Fail("system-exclusive event runs past the end of its track" + Where(at));
        p += length;
        continue;
      }
      if (status != 0xFF) Fail("system message " + Hex(status) + " is not allowed in a MIDI file" + Where(at));
      const std::uint8_t type = Data(p, end);
      const std::uint32_t length = VarLen(p, end);
      if (length > end - p) Fail("meta event runs past the end of its track" + Where(at));
      CheckMetaLength(type, length, at);
      if (type == 0x51) {
        const std::uint32_t tempo = std::uint32_t{b_[p]} << 16 | std::uint32_t{b_[p + 1]} << 8 | b_[p + 2];
        if (tempo == 0) Fail("tempo of 0 microseconds per quarter note" + Where(at));
        tempos_.push_back({tick, tempo});
        ++smf_.tempoChanges;
      }
      p += length;
      if (type == 0x2F) break;
    }
    smf_.lastTick = std::max(smf_.lastTick, tick);
  }

  void CheckMetaLength(std::uint8_t type, std::uint32_t length, std::size_t at) const {
    std::uint32_t want = 0;
    switch (type) {
      case 0x00:
        if (length == 0 || length == 2) return;
        want = 2;
        break;
      case 0x20:
      case 0x21:
        want = 1;
        break;
      case 0x2F:
        want = 0;
        break;
      case 0x51:
        want = 3;
        break;
      case 0x54:
        want = 5;
        break;
      case 0x58:
        want = 4;
        break;
      case 0x59:
        want = 2;
        break;
      default:
        return;  // text and sequencer-specific events, and types the file may add: any length
    }
    if (length != want)
      Fail("meta event " + Hex(type) + " has " + std::to_string(length) + " data bytes, not " +
           std::to_string(want) + Where(at));
  }

  static std::string Hex(std::uint8_t v) {
    const char* digits = "0123456789ABCDEF";
    return std::string("0x") + digits[v >> 4] + digits[v & 15];
  }

  // The time of `tick` through the tempo map: tempo changes in any track apply to all of them.
  double Seconds(std::uint64_t tick) {
    std::stable_sort(tempos_.begin(), tempos_.end(),
                     [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
    double seconds = 0;
    std::uint64_t from = 0;
    std::uint32_t tempo = kDefaultTempo;
    for (const TempoChange& t : tempos_) {
      if (t.tick >= tick) break;
      seconds += static_cast<double>(t.tick - from) * tempo / smf_.division * 1e-6;
      from = t.tick;
      tempo = t.tempo;
    }
    return seconds + static_cast<double>(tick - from) * tempo / smf_.division * 1e-6;
  }

  const std::vector<std::uint8_t>& b_;
  const std::string& file_;
  const std::string& call_;
  StandardMidiFile smf_;
  std::vector<TempoChange> tempos_;
};

}  // namespace

StandardMidiFile ReadStandardMidiFile(const std::vector<std::uint8_t>& bytes, const std::string& file,
                                      const std::string& call) {
  return Reader(bytes, file, call).Read();
}

}  // namespace audio
