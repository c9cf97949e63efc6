// The media of the example card cards/jingle-bells: its own tune, its own ground and a tree as a
// modelling tool would export it, a GLB.
//
// music/main.mid: "Jingle Bells" (J. L. Pierpont, 1857, public domain), the verse and the chorus
// twice, in G major at a sleigh's trot, arranged for General MIDI: the tune on the vibraphone and
// then on brass, a walking bass, off-beat piano chords, and tambourine and jingle bells throughout.
//
// tex/snow.jpg: snow at dusk, wind-rippled, warm where the low sun catches the crests and lilac in the
// hollows. It tiles like the application's own ground texture.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "platform/files/AtomicOutput.h"
#include "tools/mediagen/mediagen.h"
#include "tools/mediagen/midi.h"
#include "tools/mediagen/noise.h"

namespace mediagen {

namespace {

constexpr int kDivision = 480;       // ticks per quarter note
constexpr int kBar = 4 * kDivision;  // 4/4 time

// General MIDI programs (0-based) and the drum notes used.
constexpr int kPiano = 0, kVibraphone = 11, kBrass = 61, kAcousticBass = 32, kStrings = 48;
constexpr int kTambourine = 54, kJingleBell = 83, kBassDrum = 36;

// A melody note: the key and its length in eighths.
struct Note {
  int key, eighths;
};

// "Dashing through the snow ...", sixteen bars.
const std::vector<Note> kVerse = {
    {62, 2}, {71, 2}, {69, 2}, {67, 2}, {62, 6}, {62, 1}, {62, 1},  // Dash-ing through the snow, in a
    {62, 2}, {71, 2}, {69, 2}, {67, 2}, {64, 8},                    // one-horse o-pen sleigh,
    {64, 2}, {72, 2}, {71, 2}, {69, 2}, {66, 8},                    // o'er the fields we go,
    {74, 2}, {74, 2}, {72, 2}, {69, 2}, {71, 8},                    // laugh-ing all the way.
    {62, 2}, {71, 2}, {69, 2}, {67, 2}, {62, 8},                    // Bells on bob-tail ring,
    {62, 2}, {71, 2}, {69, 2}, {67, 2}, {64, 6}, {64, 2},           // mak-ing spi-rits bright, what
    {64, 2}, {72, 2}, {71, 2}, {69, 2}, {74, 2}, {74, 2}, {74, 2}, {74, 2},  // fun it is to ride and sing a
    {76, 2}, {74, 2}, {72, 2}, {69, 2}, {67, 4}, {74, 4},                    // sleigh-ing song to-night! Oh,
};

// "Jingle bells, jingle bells ...", sixteen bars.
const std::vector<Note> kChorus = {
    {71, 2}, {71, 2}, {71, 4}, {71, 2}, {71, 2}, {71, 4},  // Jin-gle bells, jin-gle bells,
    {71, 2}, {74, 2}, {67, 3}, {69, 1}, {71, 8},           // jin-gle all the way.
    {72, 2}, {72, 2}, {72, 3}, {72, 1},                    // Oh what fun it
    {72, 2}, {71, 2}, {71, 2}, {71, 1}, {71, 1},           // is to ride in a
    {71, 2}, {69, 2}, {69, 2}, {71, 2}, {69, 4}, {74, 4},  // one-horse o-pen sleigh, hey!
    {71, 2}, {71, 2}, {71, 4}, {71, 2}, {71, 2}, {71, 4},  // Jin-gle bells, jin-gle bells,
    {71, 2}, {74, 2}, {67, 3}, {69, 1}, {71, 8},           // jin-gle all the way.
    {72, 2}, {72, 2}, {72, 3}, {72, 1},                    // Oh what fun it
    {72, 2}, {71, 2}, {71, 2}, {71, 1}, {71, 1},           // is to ride in a
    {74, 2}, {74, 2}, {72, 2}, {69, 2}, {67, 8},           // one-horse o-pen sleigh!
};

struct Chord {
  int root, fifth;         // bass notes
  std::vector<int> tones;  // the piano's voicing
};
const Chord kG{43, 50, {55, 59, 62}};
const Chord kC{48, 43, {55, 60, 64}};
const Chord kD7{50, 45, {54, 57, 60}};
const Chord kA7{45, 52, {55, 57, 61}};
const std::vector<const Chord*> kVerseChords = {&kG, &kG, &kG, &kC, &kC, &kD7, &kD7, &kG,
                                                &kG, &kG, &kG, &kC, &kC, &kD7, &kD7, &kD7};
const std::vector<const Chord*> kChorusChords = {&kG, &kG, &kG, &kG, &kC, &kG, &kA7, &kD7,
                                                 &kG, &kG, &kG, &kG, &kC, &kG, &kD7, &kG};

std::uint32_t BarTick(int bar) {
  return static_cast<std::uint32_t>(bar * kBar);
}

void WriteTune(const std::string& path) {
  Rng rng(0x11A6'1857ull);
  auto humanise = [&rng](int velocity) { return velocity + static_cast<int>(rng.Next() % 9) - 4; };

  Track conductor, melody, bass, piano, pad, drums;
  enum { kMelodyCh = 0, kBassCh = 1, kPianoCh = 2, kPadCh = 3, kDrumCh = 9 };
  conductor.Text(0, 0x03, "Jingle Bells");
  conductor.Text(0, 0x02,
                 "Music J. L. Pierpont (1857), public domain; arrangement generated for Winter Greeting");
  conductor.SysEx(0, {0x7E, 0x7F, 0x09, 0x01, 0xF7});  // General MIDI system on
  conductor.Meta(0, 0x58, {4, 2, 24, 8});              // 4/4
  conductor.Meta(0, 0x59, {0x01, 0});                  // G major
  conductor.Meta(0, 0x51, Tempo(132));

  melody.Instrument("Melody", kMelodyCh, kVibraphone, 112, 64);
  bass.Instrument("Bass", kBassCh, kAcousticBass, 100, 60);
  piano.Instrument("Piano", kPianoCh, kPiano, 70, 44);
  pad.Instrument("Strings", kPadCh, kStrings, 52, 84);
  drums.Instrument("Sleigh", kDrumCh, 0, 80, 70);

  // Bass on beats 1 and 3 (root, then fifth), piano chords on 2 and 4, strings held.
  auto accompany = [&](int bar, const Chord& c) {
    const std::uint32_t t = BarTick(bar);
    bass.Note(t, kDivision - 30, kBassCh, c.root, humanise(96));
    bass.Note(t + 2 * kDivision, kDivision - 30, kBassCh, c.fifth, humanise(86));
    for (int beat : {1, 3})
      for (int k : c.tones)
        piano.Note(t + static_cast<std::uint32_t>(beat * kDivision), kDivision / 2, kPianoCh, k + 12,
                   humanise(64));
    for (int k : c.tones) pad.Note(t, kBar - 20, kPadCh, k, humanise(50));
  };
  // The sleigh: tambourine on the eighths, jingle bells on the off-beats, a soft drum on the one.
  auto sleigh = [&](int bar, bool full) {
    const std::uint32_t t = BarTick(bar);
    for (int e = 0; e < 8; ++e) {
      const auto at = t + static_cast<std::uint32_t>(e * kDivision / 2);
      drums.Note(at, kDivision / 4, kDrumCh, kTambourine, humanise(e % 2 ? 48 : 70));
      if (e % 2 == 1) drums.Note(at, kDivision / 4, kDrumCh, kJingleBell, humanise(84));
    }
    if (full) drums.Note(t, kDivision / 2, kDrumCh, kBassDrum, humanise(80));
  };
  auto sing = [&](int firstBar, const std::vector<Note>& notes, int accentVelocity) {
    std::uint32_t t = BarTick(firstBar);
    for (const Note& n : notes) {
      const auto length = static_cast<std::uint32_t>(n.eighths * kDivision / 2);
      const bool downbeat = t % kBar == 0;
      melody.Note(t, length * 9 / 10, kMelodyCh, n.key,
                  humanise(downbeat ? accentVelocity : accentVelocity - 14));
      t += length;
    }
  };

  // Two bars of the sleigh alone, then verse and chorus, then the chorus again on brass.
  int bar = 0;
  for (; bar < 2; ++bar) sleigh(bar, false);
  const int verse = bar;
  sing(verse, kVerse, 100);
  for (int b = 0; b < 16; ++b) {
    accompany(verse + b, *kVerseChords[static_cast<std::size_t>(b)]);
    sleigh(verse + b, b % 2 == 0);
  }
  const int chorus = verse + 16;
  sing(chorus, kChorus, 104);
  for (int b = 0; b < 16; ++b) {
    accompany(chorus + b, *kChorusChords[static_cast<std::size_t>(b)]);
    sleigh(chorus + b, true);
  }
  const int again = chorus + 16;
  melody.Program(BarTick(again) - kDivision / 2, kMelodyCh, kBrass);
  sing(again, kChorus, 110);
  for (int b = 0; b < 16; ++b) {
    accompany(again + b, *kChorusChords[static_cast<std::size_t>(b)]);
    sleigh(again + b, true);
  }

  // Ending: "jingle all the way" once more, slowing, over A7 and D7 home to G.
  const int ending = again + 16;
  conductor.Meta(BarTick(ending), 0x51, Tempo(118));
  conductor.Meta(BarTick(ending + 2), 0x51, Tempo(96));
  const std::vector<Note> tag = {{71, 2}, {74, 2}, {67, 3}, {69, 1}, {71, 4},
                                 {69, 4}, {74, 2}, {74, 2}, {72, 2}, {69, 2}};
  melody.Program(BarTick(ending) - kDivision / 2, kMelodyCh, kVibraphone);
  sing(ending, tag, 100);
  const Chord* endChords[] = {&kG, &kA7, &kD7};
  for (int b = 0; b < 3; ++b) {
    accompany(ending + b, *endChords[b]);
    sleigh(ending + b, true);
  }
  const std::uint32_t last = BarTick(ending + 3);
  bass.Note(last, kBar, kBassCh, kG.root, 96);
  for (int k : kG.tones) {
    piano.Note(last, kBar, kPianoCh, k + 12, 76);
    pad.Note(last, kBar, kPadCh, k, 60);
  }
  melody.Note(last, kBar, kMelodyCh, 79, 100);
  drums.Note(last, kDivision, kDrumCh, kJingleBell, 96);

  WriteMidiFile(path, kDivision, {&conductor, &melody, &bass, &piano, &pad, &drums});
}

void WriteGround(const std::string& path) {
  constexpr int kSize = 256;
  Image img(kSize, kSize, 3);
  Rng rng(0xD05C'2027ull);
  constexpr double kTwoPi = 2 * std::numbers::pi;
  for (int y = 0; y < kSize; ++y) {
    for (int x = 0; x < kSize; ++x) {
      const double u = static_cast<double>(x) / kSize, v = static_cast<double>(y) / kSize;
      // Ripples the wind combed across the snow: whole waves per tile, bent by broad noise so they
      // wander, still tiling.
      const double bend = TileFbm(u * 3, v * 3, 3, 3, 0.5, 41);
      const double ripple = 0.5 + 0.5 * std::sin(kTwoPi * (5 * u + 2 * v + 2.5 * bend));
      const double drift = TileFbm(u * 4, v * 4, 4, 4, 0.5, 53);
      const double grain = TileFbm(u * 64, v * 64, 64, 2, 0.5, 67);
      const double light = std::clamp(0.3 * ripple + 0.8 * (drift - 0.25), 0.0, 1.0);  // 1 on sunlit crests
      // Lilac shadow to peach light.
      double r = 0.78 + 0.21 * light, g = 0.72 + 0.17 * light, b = 0.90 - 0.06 * light;
      const double fine = (grain - 0.5) * 0.08;
      r += fine;
      g += fine;
      b += fine;
      if (rng.Uniform() < 0.005) r = g = b = 1.0;  // sparkles
      auto* p = img.at(x, y);
      p[0] = static_cast<std::uint8_t>(std::clamp(r, 0.0, 1.0) * 255 + 0.5);
      p[1] = static_cast<std::uint8_t>(std::clamp(g, 0.0, 1.0) * 255 + 0.5);
      p[2] = static_cast<std::uint8_t>(std::clamp(b, 0.0, 1.0) * 255 + 0.5);
    }
  }
  MakeFolder(std::string(path, 0, path.find_last_of('/')));
  WriteJpeg(path, img, 92);
}

}  // namespace

void WriteJingleBellsCard(const std::string& out) {
  WriteTune(out + "/cards/jingle-bells/music/main.mid");
  WriteGround(out + "/cards/jingle-bells/tex/snow.jpg");
  const std::string tree = out + "/cards/jingle-bells/models/tree.glb";
  MakeFolder(std::string(tree, 0, tree.find_last_of('/')));
  const std::vector<std::uint8_t> glb = ExampleTreeGlb(tree);
  platform::WriteFileAtomically(tree, glb.data(), glb.size());
}

}  // namespace mediagen
