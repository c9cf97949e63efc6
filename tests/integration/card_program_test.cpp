// The program run with a card, as a user runs it: the card's words change the two text lines and
// nothing else, the video carries the card's tune and texts, and bad input stops the run with a
// message, the right exit code and nothing written.
#include <gtest/gtest.h>
#include <stb_image.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Capture.h"
#include "platform/video/Mp4Writer.h"
#include "tests/music/SmfBuilder.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int rc = -1;
  std::string log;
};

Outcome run(const std::string& args, const std::string& dir) {
  const std::string log = dir + "/log";
  const std::string cmd = wgtest::AppDir() + "/winter-greeting " + args + " >" + log + " 2>&1";
  const int status = std::system(cmd.c_str());
  Outcome r;
  r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  r.log = wgtest::Slurp(log);
  return r;
}

void write(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<unsigned char> rgbOf(const std::string& png) {
  int w = 0, h = 0, c = 0;
  unsigned char* data = stbi_load(png.c_str(), &w, &h, &c, 3);
  std::vector<unsigned char> rgb;
  if (data && w == 1024 && h == 768) rgb.assign(data, data + 1024 * 768 * 3);
  if (data) stbi_image_free(data);
  return rgb;
}

std::size_t lines(const std::string& text, const std::string& containing) {
  std::size_t n = 0;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) n += line.find(containing) != std::string::npos;
  return n;
}

// A card of nothing but its words.
std::string wordsOnlyCard(const std::string& name) {
  const std::string card = wgtest::ScratchDir(name);
  write(card + "/greeting.txt", "HAPPY NEW YEAR 2027!\nFrom all of us, to all of you\n");
  return card;
}

TEST(CardProgram, ACardOfWordsOnlyChangesTheTwoTextLinesAndNothingElse) {
  const std::string card = wordsOnlyCard("card-words");
  const std::string dir = wgtest::ScratchDir("card-words-run");
  // Frame 130: the first credit line has shown for ten frames.
  const Outcome r =
      run("--headless --frames 130 --card " + card + " --screenshot " + dir + "/frame.png", dir);
  ASSERT_EQ(r.rc, 0) << r.log;
  const auto got = rgbOf(dir + "/frame.png");
  const auto reference = rgbOf(std::string(WG_SOURCE_DIR) + "/tests/data/reference/frame-130.png");
  ASSERT_FALSE(got.empty());
  ASSERT_FALSE(reference.empty());
  // The greeting's line is 27 px from y = 20, the credit's from y = 200.
  std::size_t inGreeting = 0, inCredit = 0, elsewhere = 0, firstElsewhere = 0;
  for (std::size_t i = 0; i < 1024 * 768; ++i) {
    if (got[i * 3] == reference[i * 3] && got[i * 3 + 1] == reference[i * 3 + 1] &&
        got[i * 3 + 2] == reference[i * 3 + 2])
      continue;
    const std::size_t y = i / 1024;
    if (y >= 20 && y < 47)
      ++inGreeting;
    else if (y >= 200 && y < 227)
      ++inCredit;
    else if (elsewhere++ == 0)
      firstElsewhere = i;
  }
  EXPECT_GT(inGreeting, 500u);
  EXPECT_GT(inCredit, 500u);
  EXPECT_EQ(elsewhere, 0u) << "first at (" << firstElsewhere % 1024 << ", " << firstElsewhere / 1024
                           << "); the frame is " << dir << "/frame.png";
}

TEST(CardProgram, ARecordingCarriesTheCardsTuneAndTexts) {
  const std::string dir = wgtest::ScratchDir("card-record");
  // The same card, with a tune that plays no note.
  const std::string card = wordsOnlyCard("card-record-silent");
  const wgtest::Bytes tune =
      wgtest::Cat(wgtest::Header(0, 1, 480), wgtest::Track({0x83, 0x60, 0xFF, 0x2F, 0x00}));
  write(card + "/music/main.mid", std::string(tune.begin(), tune.end()));
  ASSERT_EQ(run("--record " + dir + "/default.mp4 --seconds 2 --fps 10", dir).rc, 0);
  const Outcome r = run("--record " + dir + "/card.mp4 --seconds 2 --fps 10 --card " + card, dir);
  ASSERT_EQ(r.rc, 0) << r.log;
  const Outcome j = run("--record " + dir + "/jingle.mp4 --seconds 2 --fps 10 --card " + wgtest::AppDir() +
                            "/cards/jingle-bells",
                        dir);
  ASSERT_EQ(j.rc, 0) << j.log;
  const video::Mp4Info builtIn = video::ProbeMp4(dir + "/default.mp4", true);
  const video::Mp4Info silent = video::ProbeMp4(dir + "/card.mp4", true);
  const video::Mp4Info jingle = video::ProbeMp4(dir + "/jingle.mp4", false);

  EXPECT_GT(builtIn.audioRms, 0.003);
  EXPECT_LT(silent.audioRms, 1e-4) << "the card's tune has no note";
  EXPECT_GT(jingle.audioRms, 0.003);
  EXPECT_GT(std::fabs(jingle.audioRms - builtIn.audioRms), 0.05 * builtIn.audioRms)
      << jingle.audioRms << " and " << builtIn.audioRms;
  // Only the words differ between these two cards (the test above), and every frame shows them.
  ASSERT_EQ(silent.frameHashes.size(), 20u);
  ASSERT_EQ(builtIn.frameHashes.size(), 20u);
  for (std::size_t i = 0; i < 20; ++i) EXPECT_NE(silent.frameHashes[i], builtIn.frameHashes[i]) << i;
}

TEST(CardProgram, BadInputStopsWithItsExitCodeAndWritesNothing) {
  const std::string dir = wgtest::ScratchDir("card-bad-input");
  const std::string out = wgtest::ScratchDir("card-bad-output");
  write(dir + "/notes.txt", "a note, not a tune");
  const std::string badText = dir + "/bad-text";
  write(badText + "/greeting.txt", "Fine\nbroken \xC3 here\n");
  const std::string wideText = dir + "/wide-text";
  write(wideText + "/greeting.txt", std::string(70, 'W') + "\n");
  const struct {
    std::string args;
    int rc;
    std::string message;
  } cases[] = {
      {"--record " + out + "/x.mp4 --seconds 1 --card " + dir + "/nowhere", 2,
       "winter-greeting: --card: there is no folder " + dir + "/nowhere"},
      {"--frames-dir " + out + "/frames --seconds 1 --card " + badText, 1,
       "winter-greeting: " + badText + "/greeting.txt line 2 is not valid UTF-8 (byte 8)"},
      {"--headless --screenshot " + out + "/a.png --greeting " + std::string(70, 'W'), 2,
       "winter-greeting: --greeting: the line \"WWWW"},
      {"--record " + out + "/x.mp4 --seconds 1 --card " + wideText, 1,
       "winter-greeting: " + wideText + "/greeting.txt line 1: the line \"WWWW"},
      {"--headless --screenshot " + out + "/a.png --tune " + dir + "/notes.txt", 1,
       "winter-greeting: --tune: LoadSegment: "},
      {"--headless --screenshot " + out + "/a.png --ground " + dir + "/notes.txt", 1,
       "winter-greeting: --ground: D3DXCreateTextureFromFile: "},
      {"--headless --screenshot " + out + "/a.png --model " + dir + "/none.x", 2,
       "winter-greeting: --model: there is no file " + dir + "/none.x"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome r = run(c.args, dir);
    EXPECT_EQ(r.rc, c.rc) << r.log;
    EXPECT_EQ(r.log.rfind(c.message, 0), 0u) << r.log;
    EXPECT_EQ(lines(r.log, ""), 1u) << "one line, no usage text: " << r.log;
    EXPECT_TRUE(fs::is_empty(out)) << "left behind in " << out;
  }
}

TEST(CardProgram, ABrokenModelOrAMissingCharacterIsReportedOnceAndTheRunGoesOn) {
  const std::string dir = wgtest::ScratchDir("card-warnings");
  write(dir + "/broken.x", "xof 0303txt 0032\nMesh { 3; 1.0; }\n");
  Outcome r = run("--headless --frames 3 --model " + dir + "/broken.x --screenshot " + dir + "/a.png", dir);
  EXPECT_EQ(r.rc, 0) << r.log;
  EXPECT_TRUE(fs::exists(dir + "/a.png"));
  EXPECT_EQ(lines(r.log, "warning: the tree is left out of the scene: "), 1u) << r.log;
  EXPECT_EQ(lines(r.log, dir + "/broken.x"), 1u) << r.log;

  r = run("--headless --frames 3 --greeting \"x\xCD\xB8y\xCD\xB8\" --credit \"\xCD\xB8\" --screenshot " +
              dir + "/b.png",
          dir);
  EXPECT_EQ(r.rc, 0) << r.log;
  EXPECT_EQ(lines(r.log, "warning: no installed font has the character U+0378 (--greeting)"), 1u) << r.log;
  EXPECT_EQ(lines(r.log, "warning: "), 1u) << r.log;
}

}  // namespace
