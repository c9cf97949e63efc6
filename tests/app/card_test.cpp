// The card: greeting.txt read line by line, the options resolved into one value, every user file
// checked before anything starts, and custom lines laid out to fit the picture.
#include "app/Card.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Options.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/XFile.h"
#include "render/modGen.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

void write(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The message ReadGreetingText gives for a file holding `bytes`.
std::string problemOf(const std::string& name, const std::string& bytes) {
  const std::string file = wgtest::ScratchDir("greeting-" + name) + "/greeting.txt";
  write(file, bytes);
  try {
    app::ReadGreetingText(file);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return {};
}

app::Options parse(std::vector<std::string> args) {
  return wgtest::ParseArgs(std::move(args));
}

app::Card resolve(const std::vector<std::string>& args, std::string* warnings = nullptr) {
  std::ostringstream w;
  app::Card c = app::ResolveCard(parse(args), wgtest::AppDir(), w);
  if (warnings) *warnings = w.str();
  return c;
}

// What ResolveCard throws for `args`: the message, and whether it was a command-line error.
struct Failure {
  std::string message;
  bool commandLine = false;
};
Failure failureOf(const std::vector<std::string>& args) {
  Failure f;
  try {
    resolve(args);
  } catch (const app::CommandLineError& e) {
    f.message = e.what();
    f.commandLine = true;
  } catch (const std::runtime_error& e) {
    f.message = e.what();
  }
  return f;
}

int widthOf(const std::string& text) {
  d3dx::TextMeasure m(render::TextFontSource().hFont());
  return m.Width(text);
}

TEST(GreetingText, FirstLineIsTheGreetingAndFurtherNonEmptyLinesAreTheCredits) {
  const std::string file = wgtest::ScratchDir("greeting-lines") + "/greeting.txt";
  // A byte-order mark, Windows line ends, an empty line and a line of spaces.
  write(file, "\xEF\xBB\xBFHappy New Year!\r\nFrom us\r\n\r\n   \r\nТебе — Ձեզ\r\n");
  const app::GreetingText t = app::ReadGreetingText(file);
  EXPECT_EQ(t.greeting, "Happy New Year!");
  EXPECT_EQ(t.credits, (std::vector<std::string>{"From us", "Тебе — Ձեզ"}));
  EXPECT_EQ(t.creditLineNumbers, (std::vector<int>{2, 5}));

  write(file, "");
  EXPECT_EQ(app::ReadGreetingText(file).greeting, "");
  EXPECT_TRUE(app::ReadGreetingText(file).credits.empty());
  write(file, "\nonly credits\n");  // an empty greeting draws nothing and is allowed
  EXPECT_EQ(app::ReadGreetingText(file).greeting, "");
  EXPECT_EQ(app::ReadGreetingText(file).credits, std::vector<std::string>{"only credits"});
}

TEST(GreetingText, TextThatIsNotUtf8OrHoldsAControlCharacterNamesItsLine) {
  const struct {
    const char* name;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"stray", "ok\nok\nbad \xFF byte\n", "greeting.txt line 3 is not valid UTF-8 (byte 5)"},
      {"cut", "ok\n\xD0", "greeting.txt line 2 is not valid UTF-8 (byte 1)"},
      {"overlong", "\xC0\xAF", "greeting.txt line 1 is not valid UTF-8 (byte 1)"},
      {"surrogate", "a\n\xED\xA0\x80", "greeting.txt line 2 is not valid UTF-8 (byte 1)"},
      {"tab", "a\tb", "greeting.txt line 1 has the control character U+0009 at character 2"},
      {"c1", "ok\nab\xC2\x85", "greeting.txt line 2 has the control character U+0085 at character 3"},
      {"delete", "ok\nok\nok\x7F", "greeting.txt line 3 has the control character U+007F at character 3"},
      {"bare-cr", "one\rtwo", "greeting.txt line 1 has the control character U+000D at character 4"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string message = problemOf(c.name, c.bytes);
    EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    EXPECT_NE(message.find(std::string(WG_TEST_TMP) + "/greeting-" + c.name), std::string::npos) << message;
  }
}

TEST(GreetingText, AHundredCreditLinesAreAllowedAndTheHundredAndFirstIsNot) {
  std::string text = "Greeting\n";
  for (int i = 1; i <= 100; ++i) text += "credit " + std::to_string(i) + "\n\n";
  const std::string file = wgtest::ScratchDir("greeting-hundred") + "/greeting.txt";
  write(file, text);
  EXPECT_EQ(app::ReadGreetingText(file).credits.size(), 100u);
  // Line 1 the greeting, then a credit and an empty line each: the 101st credit is on line 202.
  EXPECT_NE(problemOf("hundred-one", text + "one more\n").find("line 202: more than 100 credit lines"),
            std::string::npos);
}

TEST(ResolveCard, WithoutOptionsItIsTheApplicationFolderAndTheBuiltInTexts) {
  const app::Card c = resolve({});
  const std::string app = wgtest::AppDir();
  EXPECT_EQ(c.ground, app + "/tex/snow.jpg");
  EXPECT_EQ(c.flake, app + "/tex/snow.png");
  EXPECT_EQ(c.model, app + "/models/tree.x");
  EXPECT_EQ(c.tune, app + "/music/main.mid");
  EXPECT_FALSE(c.ownModel);
  EXPECT_EQ(c.greeting.text, "С НОВЫМ 2007 ГОДОМ!");
  EXPECT_EQ(c.greeting.x, 400.0f);
  ASSERT_EQ(c.credits.size(), 4u);
  EXPECT_EQ(c.credits[0].text, "Автор демки: Morvelan");
  EXPECT_EQ(c.credits[3].text, "С Новым 2007 годом!");
  for (const auto& line : c.credits) EXPECT_EQ(line.x, 300.0f);
}

TEST(ResolveCard, TheCardGivesWhatItHasAndTheShortcutsWinOverIt) {
  const std::string card = wgtest::ScratchDir("card-partial");
  fs::create_directories(card + "/tex");
  fs::copy_file(wgtest::AppDir() + "/tex/snow.jpg", card + "/tex/snow.jpg");
  fs::create_directories(card + "/models");
  write(card + "/models/tree.x", "not even an X file");  // the loader reports it; resolving does not
  write(card + "/greeting.txt", "Card greeting\nCard credit 1\nCard credit 2\n");

  app::Card c = resolve({"--card", card});
  EXPECT_EQ(c.ground, card + "/tex/snow.jpg");
  EXPECT_EQ(c.flake, wgtest::AppDir() + "/tex/snow.png");
  EXPECT_EQ(c.model, card + "/models/tree.x");
  EXPECT_TRUE(c.ownModel);
  EXPECT_EQ(c.tune, wgtest::AppDir() + "/music/main.mid");
  EXPECT_EQ(c.greeting.text, "Card greeting");
  ASSERT_EQ(c.credits.size(), 2u);
  EXPECT_EQ(c.credits[1].text, "Card credit 2");

  const std::string tune = wgtest::AppDir() + "/cards/jingle-bells/music/main.mid";
  c = resolve({"--card", card, "--greeting", "Mine", "--credit", "One", "--tune", tune, "--ground",
               wgtest::AppDir() + "/cards/jingle-bells/tex/snow.jpg"});
  EXPECT_EQ(c.greeting.text, "Mine");
  ASSERT_EQ(c.credits.size(), 1u);
  EXPECT_EQ(c.credits[0].text, "One");
  EXPECT_EQ(c.tune, tune);
  EXPECT_EQ(c.ground, wgtest::AppDir() + "/cards/jingle-bells/tex/snow.jpg");

  EXPECT_TRUE(resolve({"--card", card, "--no-credits"}).credits.empty());
  EXPECT_EQ(resolve({"--card", card, "--greeting", ""}).greeting.text, "");
}

TEST(ResolveCard, AMissingFolderOrFileIsABadCommandLineAndABadFileIsAFileError) {
  const std::string dir = wgtest::ScratchDir("card-bad");
  write(dir + "/notes.txt", "not a picture, not a tune");
  Failure f = failureOf({"--card", dir + "/nowhere"});
  EXPECT_TRUE(f.commandLine);
  EXPECT_EQ(f.message, "--card: there is no folder " + dir + "/nowhere");
  f = failureOf({"--card", dir + "/notes.txt"});
  EXPECT_TRUE(f.commandLine);
  EXPECT_EQ(f.message, "--card: " + dir + "/notes.txt is not a folder");
  f = failureOf({"--tune", dir + "/none.mid"});
  EXPECT_TRUE(f.commandLine);
  EXPECT_EQ(f.message, "--tune: there is no file " + dir + "/none.mid");
  f = failureOf({"--model", dir});
  EXPECT_TRUE(f.commandLine);
  EXPECT_EQ(f.message, "--model: " + dir + " is not a file");

  // Files that are there but are no tune or no image: the file is bad, not the command line.
  f = failureOf({"--tune", dir + "/notes.txt"});
  EXPECT_FALSE(f.commandLine);
  EXPECT_EQ(f.message.rfind("--tune: LoadSegment: ", 0), 0u) << f.message;
  EXPECT_NE(f.message.find(dir + "/notes.txt"), std::string::npos) << f.message;
  f = failureOf({"--ground", dir + "/notes.txt"});
  EXPECT_FALSE(f.commandLine);
  EXPECT_EQ(f.message.rfind("--ground: D3DXCreateTextureFromFile: ", 0), 0u) << f.message;

  // A card's own files are checked the same way and named with the card.
  const std::string card = wgtest::ScratchDir("card-bad-files");
  write(card + "/music/main.mid", "MThd but no more");
  f = failureOf({"--card", card});
  EXPECT_FALSE(f.commandLine);
  EXPECT_EQ(f.message.rfind("--card: LoadSegment: ", 0), 0u) << f.message;
  EXPECT_NE(f.message.find(card + "/music/main.mid"), std::string::npos) << f.message;
  fs::remove(card + "/music/main.mid");
  fs::create_directories(card + "/tex/snow.png");
  f = failureOf({"--card", card});
  EXPECT_FALSE(f.commandLine);
  EXPECT_EQ(f.message, "--card: " + card + "/tex/snow.png is not a file");
}

TEST(ResolveCard, ACustomLineMovesLeftJustEnoughAndAWordWiderThanThePictureIsAnError) {
  const std::string shortLine = "Happy New Year!";
  const std::string longLine = "Happy New Year to everyone who has ever made a greeting";
  const int longWidth = widthOf(longLine);
  ASSERT_GT(400 + longWidth, 1024);
  ASSERT_LT(longWidth, 1024);
  app::Card c = resolve({"--greeting", longLine, "--credit", shortLine, "--credit", longLine});
  EXPECT_EQ(c.greeting.x, static_cast<float>(1024 - longWidth));
  EXPECT_EQ(c.credits[0].x, 300.0f);
  // The same line fits from the credit line's x.
  EXPECT_EQ(c.credits[1].x, 300.0f);
  // The longest run of W that fits stays where it is; one W more moves it left.
  std::string fits = "W";
  while (300 + widthOf(fits + "W") <= 1024) fits += "W";
  EXPECT_EQ(resolve({"--credit", fits}).credits[0].x, 300.0f);
  EXPECT_EQ(resolve({"--credit", fits + "W"}).credits[0].x, static_cast<float>(1024 - widthOf(fits + "W")));

  const std::string tooWide(60, 'W');
  const std::string message = "the line \"" + tooWide.substr(0, 40) + "...\" holds a word " +
                              std::to_string(widthOf(tooWide)) + " pixels wide; a line may be at most 1024";
  Failure f = failureOf({"--credit", "fine", "--credit", tooWide});
  EXPECT_TRUE(f.commandLine);
  EXPECT_EQ(f.message.rfind("--credit 2: " + message, 0), 0u) << f.message;

  const std::string card = wgtest::ScratchDir("card-too-wide");
  write(card + "/greeting.txt", "Greeting\n\nfine\n" + tooWide + "\n");
  f = failureOf({"--card", card});
  EXPECT_FALSE(f.commandLine);
  EXPECT_EQ(f.message.rfind(card + "/greeting.txt line 4: " + message, 0), 0u) << f.message;

  f = failureOf({"--greeting", "bad\x01"});
  EXPECT_TRUE(f.commandLine);
  EXPECT_EQ(f.message, "--greeting has the control character U+0001 at character 4");
}

// The lines of a wrapped text, split at the line separators that mark its breaks.
std::vector<std::string> wrappedLines(const std::string& text) {
  std::vector<std::string> lines{""};
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 3, "\u2028") == 0) {
      lines.emplace_back();
      i += 2;
    } else {
      lines.back() += text[i];
    }
  }
  return lines;
}

TEST(ResolveCard, ALineWiderThanThePictureWrapsOntoUpToThreeLinesAndMoreIsRefused) {
  const std::string words =
      "Dear Anna and Mark, thank you for a wonderful year full of laughter, long walks in the snow and "
      "kind words. May the coming year bring you health, calm mornings and a garden full of flowers!";
  ASSERT_GT(widthOf(words), 2 * 1024);
  const app::Card c = resolve({"--greeting", words, "--credit", "short", "--credit", words});
  const std::vector<std::string> lines = wrappedLines(c.greeting.text);
  ASSERT_EQ(lines.size(), 3u) << c.greeting.text;
  int widest = 0;
  std::string joined;
  for (const std::string& l : lines) {
    EXPECT_LE(widthOf(l), 1024) << l;
    EXPECT_NE(l.back(), ' ') << "the space before a break is dropped";
    widest = std::max(widest, widthOf(l));
    joined += (joined.empty() ? "" : " ") + l;
  }
  EXPECT_EQ(joined, words) << "nothing lost, nothing added but the breaks";
  // Greedy: the first line could not have taken its next word too.
  const std::string next = words.substr(0, words.find(' ', lines[0].size() + 1));
  EXPECT_GT(widthOf(next), 1024);
  EXPECT_EQ(c.greeting.x, static_cast<float>(1024 - widest));
  EXPECT_EQ(c.credits[1].text, c.greeting.text);
  EXPECT_EQ(c.credits[0].text, "short");

  // Chinese breaks between any two characters: no spaces needed.
  std::string chinese;
  for (int i = 0; i < 60; ++i) chinese += "新年快乐";
  const app::Card cjk = resolve({"--greeting", chinese.substr(0, 3 * 100)});
  EXPECT_EQ(wrappedLines(cjk.greeting.text).size(), 3u);

  std::string fourLines = words + " " + words;
  Failure f = failureOf({"--greeting", fourLines});
  EXPECT_TRUE(f.commandLine);
  EXPECT_EQ(f.message.rfind("--greeting: the line \"Dear Anna and Mark, thank you for a wond...\" is " +
                                std::to_string(widthOf(fourLines)) +
                                " pixels wide and would take 5 lines of at most 1024 pixels, the picture's "
                                "width; a line may take at most 3",
                            0),
            0u)
      << f.message;

  // A thousand accents on one letter sit on one another: one line, drawn where it was.
  std::string marks = "a";
  for (int i = 0; i < 1000; ++i) marks += "\u0301";
  EXPECT_EQ(resolve({"--credit", marks}).credits[0].x, 300.0f);
  // Lines the sender broken with line separators must still end within the picture.
  std::string tall = "one";
  for (int i = 0; i < 30; ++i) tall += "\u2028more";
  f = failureOf({"--credit", tall});
  EXPECT_TRUE(f.commandLine);
  EXPECT_NE(f.message.find(" pixels tall; drawn from y = 200 it must end within 768 pixels"), std::string::npos)
      << f.message;
}

TEST(ResolveCard, ACharacterNoFaceHasIsReportedOnce) {
  std::string warnings;
  const app::Card c = resolve({"--greeting",
                               "a\xCD\xB8"
                               "b\xCD\xB8",
                               "--credit", "\xCD\xB8", "--credit", "Ա"},
                              &warnings);
  EXPECT_EQ(warnings,
            "warning: no installed font has the character U+0378 (--greeting); it is drawn as a box\n");
  EXPECT_EQ(c.greeting.text,
            "a\xCD\xB8"
            "b\xCD\xB8");
  resolve({"--greeting", "Շնորհավոր Նոր Տարի"}, &warnings);
  EXPECT_EQ(warnings, "") << "Armenian comes from a fallback face";
}

}  // namespace

// What the web page carries of a card: its texts at the places they were resolved to, read back into
// the same card over the page's own media.
TEST(CardTexts, TheTextsAndTheirPlacesComeBackAsResolved) {
  app::Card c = resolve({"--greeting", "Happy New Year to everyone who has ever made a greeting", "--credit",
                         "Ω one", "--credit", "two"});
  c.credits[0].x = 299.75f;  // any float comes back exactly
  const std::string text = app::WriteCardTexts(c);
  EXPECT_EQ(text.substr(text.find('\n') + 1), "299.75\tΩ one\n300\ttwo\n");
  const app::Card back = app::ReadCardTexts(text, "/greeting", "card.txt");
  EXPECT_EQ(back.greeting.text, c.greeting.text);
  EXPECT_EQ(back.greeting.x, c.greeting.x);
  ASSERT_EQ(back.credits.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(back.credits[i].text, c.credits[i].text);
    EXPECT_EQ(back.credits[i].x, c.credits[i].x);
  }
  EXPECT_EQ(back.ground, "/greeting/tex/snow.jpg");
  EXPECT_EQ(back.flake, "/greeting/tex/snow.png");
  EXPECT_EQ(back.model, "/greeting/models/tree.x");
  EXPECT_EQ(back.tune, "/greeting/music/main.mid");

  // No credit lines and an empty greeting are a card too; the built-in texts are the default card's.
  app::Card none = app::DefaultCard("/app");
  none.greeting.text.clear();
  none.credits.clear();
  const app::Card empty = app::ReadCardTexts(app::WriteCardTexts(none), "/greeting", "card.txt");
  EXPECT_EQ(empty.greeting.text, "");
  EXPECT_TRUE(empty.credits.empty());
  const app::Card builtIn =
      app::ReadCardTexts(app::WriteCardTexts(app::DefaultCard("/app")), "/greeting", "card.txt");
  const app::Card want = app::DefaultCard("/greeting");
  EXPECT_EQ(builtIn.greeting.text, want.greeting.text);
  EXPECT_EQ(builtIn.greeting.x, want.greeting.x);
  ASSERT_EQ(builtIn.credits.size(), want.credits.size());
  for (std::size_t i = 0; i < want.credits.size(); ++i)
    EXPECT_EQ(builtIn.credits[i].text, want.credits[i].text);
}

// A line wrapped for the picture carries itself as written: the page wraps it anew for its frame.
TEST(CardTexts, AWrappedLineComesBackWithItselfAsWritten) {
  const std::string written =
      "Dear Anna and Mark, thank you for a wonderful year full of laughter, long walks in the snow and kind "
      "words.";
  const app::Card c = resolve({"--credit", written});
  ASSERT_EQ(c.credits.size(), 1u);
  ASSERT_NE(c.credits[0].text, written) << "the line is wrapped for the picture";
  const std::string text = app::WriteCardTexts(c);
  EXPECT_NE(text.find("\t" + c.credits[0].text + "\t" + written + "\n"), std::string::npos) << text;
  const app::Card back = app::ReadCardTexts(text, "/greeting", "card.txt");
  ASSERT_EQ(back.credits.size(), 1u);
  EXPECT_EQ(back.credits[0].text, c.credits[0].text);
  EXPECT_EQ(back.credits[0].written, written);
  EXPECT_EQ(back.greeting.written, "");
  EXPECT_THROW(app::ReadCardTexts("400\tok\tbad\x01\n", "/greeting", "card.txt"), std::runtime_error);
}

TEST(CardTexts, WhatIsNoListOfPlacedLinesIsRefusedNamingTheLine) {
  auto problem = [](const std::string& text) {
    try {
      app::ReadCardTexts(text, "/greeting", "card.txt");
    } catch (const std::runtime_error& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(problem(""), "card.txt holds no greeting line");
  EXPECT_EQ(problem("400\tHello\n300\tcut"), "card.txt line 2 is cut off");
  EXPECT_EQ(problem("400 Hello\n"), "card.txt line 1 starts with no x position");
  EXPECT_EQ(problem("400\tHello\nx\tthere\n"), "card.txt line 2 starts with no x position");
  EXPECT_EQ(problem("nan\tHello\n"), "card.txt line 1 starts with no x position");
  EXPECT_EQ(problem("400\tHel\x01lo\n"), "card.txt line 1 has the control character U+0001 at character 4");
  std::string many = "400\tHello\n";
  for (std::size_t i = 0; i <= app::kMaxCreditLines; ++i) many += "300\tline\n";
  EXPECT_EQ(problem(many), "card.txt: more than 100 credit lines");
}

// The page's word on how to draw the chosen tree: the application's own as it is (0), any other at
// its height; what is no such height is refused, never read as one.
TEST(TreeFit, AHeightComesBackExactlyAndAnythingElseIsRefused) {
  for (const float h : {0.0f, app::kTreeHeight, 0.001f, 12.5f, app::kMaxModelHeight})
    EXPECT_EQ(app::ReadTreeFit(app::WriteTreeFit(h), "tree-fit.txt"), h) << h;
  EXPECT_EQ(app::WriteTreeFit(app::kTreeHeight), std::string(app::kTreeHeightText) + "\n");
  EXPECT_EQ(app::ReadTreeFit("3", "f"), 3.0f);
  EXPECT_THROW(app::WriteTreeFit(-1.0f), std::runtime_error);
  EXPECT_THROW(app::WriteTreeFit(100.5f), std::runtime_error);
  for (const char* bad : {"", "\n", "-1\n", "100.01\n", "nan\n", "inf\n", "1e400\n", "2.5m\n", "2.5\n\n",
                          " 2\n", "0x10\n", "2,5\n", "1234567890123456789012345678901234567890\n"}) {
    try {
      app::ReadTreeFit(bad, "greeting/models/tree-fit.txt");
      ADD_FAILURE() << "accepted \"" << bad << "\"";
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()), "greeting/models/tree-fit.txt holds no tree height from 0 to 100")
          << bad;
    }
  }
}

namespace {

// The tree's triangle budget follows the tree's area on screen: the picture's for any frame no taller,
// the square of the height's share above it, never more than a model may have.
TEST(TreeBudget, GrowsWithTheSquareOfTheFrameHeightFromThePicturesBudget) {
  constexpr std::size_t k = app::kMaxTreeTriangles;
  EXPECT_EQ(app::TreeTriangleBudget(768), k);
  EXPECT_EQ(app::TreeTriangleBudget(320), k);
  EXPECT_EQ(app::TreeTriangleBudget(1536), 4 * k);
  EXPECT_EQ(app::TreeTriangleBudget(1920), k * 25 / 4);
  EXPECT_EQ(app::TreeTriangleBudget(1 << 20), d3dx::kMaxModelTriangles);
}

}  // namespace
