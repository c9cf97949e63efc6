// music/main.mid: "V lesu rodilas' yolochka" (L. Bekman, 1905, public domain), the Russian New Year
// song of the little fir tree, arranged for General MIDI: melody, bass, string chords, bells and a
// tambourine. A standard MIDI file of type 1 with a tempo map and a new melody instrument each verse.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/mediagen/mediagen.h"
#include "tools/mediagen/midi.h"
#include "tools/mediagen/noise.h"

namespace mediagen {

namespace {

constexpr int kDivision = 480;  // ticks per quarter note
constexpr int kEighth = kDivision / 2;
constexpr int kBar = 2 * kDivision;  // 2/4 time

constexpr int kIntroBars = 4;
constexpr int kVerses = 7;
constexpr int kVerseBars = 8;
constexpr int kOutroBars = 5;

// General MIDI programs (0-based) and the drum notes used.
constexpr int kFlute = 73, kClarinet = 71, kMusicBox = 10, kOboe = 68, kTrumpet = 56, kViolin = 40;
constexpr int kPizzicato = 45, kStrings = 48, kGlockenspiel = 9, kCelesta = 8, kTubularBells = 14;
constexpr int kTambourine = 54, kOpenTriangle = 81;

// One verse of the melody in F major, as (key, eighths); it ends with the next verse's upbeat.
struct Step {
  int key, eighths;
};
const std::vector<Step> kVerse = {
    {69, 1}, {69, 1}, {67, 1}, {69, 1},  // V le-su ro-di-
    {65, 1}, {60, 1}, {60, 1}, {60, 1},  // -las' yo-loch-ka, v
    {69, 1}, {69, 1}, {70, 1}, {67, 1},  // le-su o-na
    {72, 3}, {72, 1},                    // ros-la. Zi-
    {74, 1}, {74, 1}, {70, 1}, {70, 1},  // -moy i le-tom
    {69, 1}, {67, 1}, {65, 1}, {65, 1},  // stroy-na-ya, ze-
    {70, 1}, {70, 1}, {69, 1}, {67, 1},  // -le-na-ya
    {65, 3}, {60, 1},                    // by-la. V
};

struct Chord {
  int root, fifth;         // bass notes
  std::vector<int> tones;  // the middle voicing
};
const Chord kF{41, 48, {53, 57, 60}};
const Chord kBb{34, 41, {53, 58, 62}};
const Chord kC7{36, 43, {52, 55, 58, 60}};
const std::vector<const Chord*> kVerseChords = {&kF, &kF, &kC7, &kF, &kBb, &kF, &kC7, &kF};
const std::vector<const Chord*> kFrameChords = {&kF, &kBb, &kC7, &kF};

std::uint32_t BarTick(int bar) { return static_cast<std::uint32_t>(bar * kBar); }

}  // namespace

void WriteMusic(const std::string& out) {
  Rng rng(0x5E1A'2025ull);
  auto humanise = [&rng](int velocity) { return velocity + static_cast<int>(rng.Next() % 9) - 4; };

  const int verseStart = kIntroBars;
  const int outroStart = kIntroBars + kVerses * kVerseBars;
  const int endBar = outroStart + kOutroBars;

  Track conductor, melody, bass, chords, bells, drums;
  enum { kMelodyCh = 0, kBassCh = 1, kChordCh = 2, kBellCh = 3, kDrumCh = 9 };

  conductor.Text(0, 0x03, "V lesu rodilas' yolochka");
  conductor.Text(0, 0x02, "Music L. Bekman (1905), public domain; arrangement generated for Winter Greeting");
  conductor.SysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});  // General MIDI system on
  conductor.Meta(0, 0x58, {2, 1, 24, 8});              // 2/4
  conductor.Meta(0, 0x59, {0xFF, 0});                  // F major
  const std::vector<std::pair<int, double>> tempoMap = {
      {0, 96},  {verseStart + 2 * kVerseBars, 104},      {verseStart + 4 * kVerseBars, 112},
      {verseStart + 6 * kVerseBars, 104},                {outroStart - 2, 96},
      {outroStart - 1, 88},                              {outroStart, 92},
      {endBar - 2, 80},  {endBar - 1, 66}};
  for (const auto& [bar, bpm] : tempoMap) conductor.Meta(BarTick(bar), 0x51, Tempo(bpm));

  melody.Instrument("Melody", kMelodyCh, kFlute, 110, 64);
  bass.Instrument("Bass", kBassCh, kPizzicato, 100, 58);
  chords.Instrument("Strings", kChordCh, kStrings, 72, 40);
  bells.Instrument("Bells", kBellCh, kGlockenspiel, 84, 88);
  drums.Instrument("Tambourine", kDrumCh, 0, 58, 74);

  // Bass on the beat (root, then fifth) and string chords held through the bar.
  auto accompany = [&](int bar, const Chord& c, int chordVelocity) {
    const std::uint32_t t = BarTick(bar);
    bass.Note(t, kDivision - 40, kBassCh, c.root, humanise(92));
    bass.Note(t + kDivision, kDivision - 40, kBassCh, c.fifth, humanise(80));
    for (int k : c.tones) chords.Note(t, kBar - 12, kChordCh, k, humanise(chordVelocity));
  };
  // Bells: the chord's tones two octaves up, climbing in eighths.
  auto sparkle = [&](int bar, const Chord& c, int velocity) {
    for (int i = 0; i < 4; ++i) {
      const int key = c.tones[static_cast<std::size_t>(i) % c.tones.size()] + 24 + (i == 3 ? 12 : 0);
      bells.Note(BarTick(bar) + static_cast<std::uint32_t>(i * kEighth), kEighth, kBellCh, key, humanise(velocity));
    }
  };

  // Introduction: bells over the chords; the melody's upbeat on the last eighth.
  for (int b = 0; b < kIntroBars; ++b) {
    accompany(b, *kFrameChords[static_cast<std::size_t>(b)], 58);
    sparkle(b, *kFrameChords[static_cast<std::size_t>(b)], 88);
  }
  melody.Note(BarTick(kIntroBars) - kEighth, kEighth * 9 / 10, kMelodyCh, 60, 90);

  const int melodyPrograms[kVerses] = {kFlute, kClarinet, kMusicBox, kOboe, kTrumpet, kViolin, kFlute};
  const int bellPrograms[kVerses] = {kGlockenspiel, kGlockenspiel, kCelesta, kCelesta,
                                     kGlockenspiel, kGlockenspiel, kGlockenspiel};
  for (int v = 0; v < kVerses; ++v) {
    const int first = verseStart + v * kVerseBars;
    // The new instrument takes over from the upbeat that leads into the verse.
    if (v > 0) melody.Program(BarTick(first) - kEighth, kMelodyCh, melodyPrograms[v]);
    bells.Program(BarTick(first), kBellCh, bellPrograms[v]);

    std::uint32_t t = BarTick(first);
    for (std::size_t i = 0; i < kVerse.size(); ++i) {
      const Step& s = kVerse[i];
      const bool lastUpbeat = v == kVerses - 1 && i + 1 == kVerse.size();
      if (lastUpbeat) break;
      const bool lastNote = v == kVerses - 1 && i + 2 == kVerse.size();
      const int eighths = lastNote ? 4 : s.eighths;
      const auto length = static_cast<std::uint32_t>(eighths * kEighth);
      const bool downbeat = (t % kBar) == 0;
      melody.Note(t, length * 9 / 10, kMelodyCh, s.key, humanise(downbeat ? 104 : 92));
      // The last verse doubles the tune an octave up on the bells.
      if (v == kVerses - 1) bells.Note(t, length * 9 / 10, kBellCh, s.key + 12, humanise(70));
      t += length;
    }

    for (int b = 0; b < kVerseBars; ++b) {
      const Chord& c = *kVerseChords[static_cast<std::size_t>(b)];
      accompany(first + b, c, v == 0 ? 52 : 62);
      // Bells answer on the off-beats from the second verse on, except where they double the tune.
      if (v >= 1 && v < kVerses - 1) {
        const std::uint32_t bt = BarTick(first + b);
        bells.Note(bt + kEighth, kEighth, kBellCh, c.tones.back() + 24, humanise(64));
        bells.Note(bt + 3 * kEighth, kEighth, kBellCh, c.tones[1] + 24, humanise(60));
      }
      if (v >= 4) {
        const std::uint32_t bt = BarTick(first + b);
        for (int e = 0; e < 4; ++e)
          drums.Note(bt + static_cast<std::uint32_t>(e * kEighth), kEighth / 2, kDrumCh, kTambourine,
                     humanise(e % 2 ? 50 : 72));
        if (b % 2 == 0) drums.Note(bt, kDivision, kDrumCh, kOpenTriangle, humanise(60));
      }
    }
  }

  // Ending: the bells once more over the chords, and the last chord on the tubular bells.
  for (int b = 0; b < 4; ++b) {
    accompany(outroStart + b, *kFrameChords[static_cast<std::size_t>(b)], 56);
    sparkle(outroStart + b, *kFrameChords[static_cast<std::size_t>(b)], 80 - 6 * b);
  }
  const std::uint32_t last = BarTick(endBar - 1);
  bells.Program(last - kEighth, kBellCh, kTubularBells);
  bass.Note(last, kBar, kBassCh, kF.root, 90);
  for (int k : kF.tones) chords.Note(last, kBar, kChordCh, k, 60);
  bells.Note(last, kBar, kBellCh, 65, 96);
  bells.Note(last, kBar, kBellCh, 77, 80);
  melody.Note(last, kBar * 9 / 10, kMelodyCh, 65, 84);

  WriteMidiFile(out + "/music/main.mid", kDivision, {&conductor, &melody, &bass, &chords, &bells, &drums});
}

}  // namespace mediagen
