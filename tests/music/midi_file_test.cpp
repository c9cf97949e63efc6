// The standard MIDI file reader behind LoadSegment: the generated tune, and files it must refuse.
#include <gtest/gtest.h>

#include <string>

#include "platform/audio/DirectMusic.h"
#include "platform/audio/StandardMidiFile.h"
#include "platform/base/Error.h"
#include "tests/music/SmfBuilder.h"
#include "tests/support/Harness.h"

namespace {

using wgtest::Bytes;
using wgtest::Cat;
using wgtest::Header;
using wgtest::kEndOfTrack;
using wgtest::Track;

std::string Refusal(const Bytes& bytes) {
  try {
    audio::ReadStandardMidiFile(bytes, "bad.mid");
  } catch (const platform::Error& e) {
    return e.what();
  }
  return "accepted";
}

// Nine empty text events, each after the longest delta time a file can hold.
Bytes NineLongestPauses() {
  Bytes body;
  for (int i = 0; i < 9; ++i) body.insert(body.end(), {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00});
  return Cat(body, kEndOfTrack);
}

TEST(StandardMidiFile, TheGeneratedTuneIsAType1FileOfAMinuteAndAHalfWithTempoAndProgramChanges) {
  const Bytes tune = wgtest::ReadFile(wgtest::AppDir() + "/music/main.mid");
  const audio::StandardMidiFile smf = audio::ReadStandardMidiFile(tune, "main.mid");
  EXPECT_EQ(smf.format, 1);
  EXPECT_EQ(smf.tracks, 6);  // tempo map, melody, bass, chords, bells, tambourine
  EXPECT_EQ(smf.division, 480);
  EXPECT_GT(smf.tempoChanges, 1);
  EXPECT_GT(smf.programChanges, 6);
  EXPECT_GT(smf.notes, 500u);
  EXPECT_GE(smf.lengthSeconds, 60.0);
  EXPECT_LE(smf.lengthSeconds, 120.0);
}

TEST(StandardMidiFile, LengthFollowsTheTempoMap) {
  // One quarter at 120 beats a minute, then a tempo of 1 s a quarter for two more quarters.
  const Bytes body{0x00, 0x90, 60, 100, 0x83, 0x60, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,
                   0x87, 0x40, 0x80, 60,  0x40, 0x00, 0xFF, 0x2F, 0x00};
  const auto smf = audio::ReadStandardMidiFile(Cat(Header(0, 1, 480), Track(body)), "t.mid");
  EXPECT_EQ(smf.lastTick, 1440u);
  EXPECT_DOUBLE_EQ(smf.lengthSeconds, 0.5 + 2.0);
  // Without any tempo event the file runs at 120 beats a minute.
  EXPECT_DOUBLE_EQ(audio::ReadStandardMidiFile(wgtest::SingleNote(60, 100, 960), "n.mid").lengthSeconds, 1.0);
}

TEST(StandardMidiFile, RunningStatusAndSystemExclusiveEventsAreRead) {
  const Bytes body{0x00, 0xF0, 0x05, 0x7E, 0x7F, 0x09, 0x01, 0xF7,  // General MIDI on
                   0x00, 0x90, 60,   100,  0x00, 64,   100,           // second note-on by running status
                   0x83, 0x60, 0x80, 60,   0,    0x00, 64,   0,    0x00, 0xFF, 0x2F, 0x00};
  const auto smf = audio::ReadStandardMidiFile(Cat(Header(0, 1, 480), Track(body)), "t.mid");
  EXPECT_EQ(smf.notes, 2u);
  EXPECT_EQ(smf.events, 6u);
}

TEST(StandardMidiFile, UnknownChunksBetweenTracksAreSkipped) {
  const Bytes alien{'X', 'F', 'I', 'H', 0, 0, 0, 3, 1, 2, 3};
  const Bytes file = Cat(Cat(Header(1, 2, 96), Track(kEndOfTrack)), Cat(alien, Track(kEndOfTrack)));
  EXPECT_EQ(audio::ReadStandardMidiFile(file, "t.mid").tracks, 2);
}

TEST(StandardMidiFile, RefusesBrokenFilesNamingTheCallTheCauseAndTheFile) {
  const Bytes good = wgtest::SingleNote(60, 100, 480);
  const struct {
    const char* what;
    Bytes bytes;
    const char* cause;
  } cases[] = {
      {"empty", {}, "the file is empty"},
      {"garbage", Bytes(200, 0xA5), "no MThd header"},
      {"header only", Bytes(good.begin(), good.begin() + 14), "truncated: 0 of 1 tracks"},
      {"truncated track", Bytes(good.begin(), good.end() - 3), "runs past the end of the file"},
      {"long header", Cat({'M', 'T', 'h', 'd', 0, 0, 0, 7, 0, 0, 0, 1, 1, 224, 0}, Track(kEndOfTrack)),
       "header length is 7"},
      {"format 2", Cat(Header(2, 1, 480), Track(kEndOfTrack)), "format 2"},
      {"format 0 with two tracks", Cat(Header(0, 2, 480), Track(kEndOfTrack)), "must hold one track"},
      {"no tracks", Header(1, 0, 480), "declares no tracks"},
      {"SMPTE division", Cat(Header(0, 1, 0xE728), Track(kEndOfTrack)), "SMPTE"},
      {"zero division", Cat(Header(0, 1, 0), Track(kEndOfTrack)), "time division is 0"},
      {"no end of track", Cat(Header(0, 1, 480), Track({0x00, 0x90, 60, 100})), "no end-of-track"},
      // The file ends right after a delta time: the event it times is missing.
      {"delta time ends the file", Cat(Header(0, 1, 480), Track({0x00, 0x90, 60, 100, 0x00})), "truncated event"},
      {"data byte first", Cat(Header(0, 1, 480), Track({0x00, 60, 100, 0x00, 0xFF, 0x2F, 0x00})),
       "data byte without a status byte"},
      {"running status after meta",
       Cat(Header(0, 1, 480), Track({0x00, 0x90, 60, 100, 0x00, 0xFF, 0x01, 0x00, 0x00, 60, 0, 0x00, 0xFF, 0x2F, 0x00})),
       "data byte without a status byte"},
      {"data byte out of range", Cat(Header(0, 1, 480), Track({0x00, 0x90, 60, 0xC8, 0x00, 0xFF, 0x2F, 0x00})),
       "data byte out of range"},
      {"five-byte delta", Cat(Header(0, 1, 480), Track({0x81, 0x81, 0x81, 0x81, 0x01, 0xFF, 0x2F, 0x00})),
       "longer than four bytes"},
      {"sysex past its track", Cat(Header(0, 1, 480), Track({0x00, 0xF0, 0x40, 0x01, 0xF7, 0x00, 0xFF, 0x2F, 0x00})),
       "system-exclusive event runs past"},
      {"meta past its track", Cat(Header(0, 1, 480), Track({0x00, 0xFF, 0x03, 0x7F, 'a', 0x00, 0xFF, 0x2F, 0x00})),
       "meta event runs past"},
      {"short tempo", Cat(Header(0, 1, 480), Track({0x00, 0xFF, 0x51, 0x02, 1, 2, 0x00, 0xFF, 0x2F, 0x00})),
       "meta event 0x51 has 2 data bytes, not 3"},
      {"zero tempo", Cat(Header(0, 1, 480), Track({0x00, 0xFF, 0x51, 0x03, 0, 0, 0, 0x00, 0xFF, 0x2F, 0x00})),
       "tempo of 0"},
      {"system message", Cat(Header(0, 1, 480), Track({0x00, 0xF8, 0x00, 0xFF, 0x2F, 0x00})), "system message 0xF8"},
      {"binary chunk id", Cat(Header(1, 1, 480), Bytes{0, 1, 2, 3, 0, 0, 0, 0}), "corrupt chunk header"},
      {"ticks past 2^31", Cat(Header(0, 1, 480), Track(NineLongestPauses())), "runs past 2^31 ticks"},
  };
  for (const auto& c : cases) {
    const std::string message = Refusal(c.bytes);
    EXPECT_NE(message.find("LoadSegment: "), std::string::npos) << c.what << ": " << message;
    EXPECT_NE(message.find(c.cause), std::string::npos) << c.what << ": " << message;
    EXPECT_NE(message.find("(bad.mid)"), std::string::npos) << c.what << ": " << message;
  }
}

TEST(StandardMidiFile, EveryCutOfTheTuneIsRefusedAndNeverReadPastItsEnd) {
  const Bytes tune = wgtest::ReadFile(wgtest::AppDir() + "/music/main.mid");
  ASSERT_GT(tune.size(), 1000u);
  for (std::size_t n = 0; n < tune.size(); n += 7)
    EXPECT_NE(Refusal(Bytes(tune.begin(), tune.begin() + static_cast<std::ptrdiff_t>(n))), "accepted") << n;
}

TEST(LoadSegment, NamesTheFileWhenItIsMissingEmptyTruncatedOrGarbage) {
  const std::string dir = wgtest::ScratchDir("load-segment");
  const Bytes tune = wgtest::ReadFile(wgtest::AppDir() + "/music/main.mid");
  wgtest::WriteFile(dir + "/empty.mid", {});
  wgtest::WriteFile(dir + "/truncated.mid", Bytes(tune.begin(), tune.begin() + static_cast<std::ptrdiff_t>(tune.size() / 2)));
  wgtest::WriteFile(dir + "/garbage.mid", Bytes(5000, 0x3C));
  audio::DirectMusicLoader8 loader;
  for (const char* name : {"missing.mid", "empty.mid", "truncated.mid", "garbage.mid"}) {
    const std::string file = dir + "/" + name;
    try {
      loader.LoadSegment(file);
      ADD_FAILURE() << name << " was loaded";
    } catch (const platform::Error& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("LoadSegment: ", 0), 0u) << message;
      EXPECT_NE(message.find("(" + file + ")"), std::string::npos) << message;
    }
  }
  const auto segment = loader.LoadSegment(wgtest::AppDir() + "/music/main.mid");
  EXPECT_EQ(segment->Bytes(), tune);
  EXPECT_FALSE(segment->IsStandardMidiFile());
}

}  // namespace
