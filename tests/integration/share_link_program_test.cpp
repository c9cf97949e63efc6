// The program asked for links (--share-link, --recipients), as a sender runs it: what it prints is a
// link that reads back to the card asked for, or a table with a link for each row; a refusal is one
// line naming the option or the file, row and column, with exit code 2 and nothing on stdout.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/LinkCommand.h"
#include "app/ShareLink.h"
#include "tests/support/Files.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kPage = "https://example.org/greeting/";

struct Outcome {
  int rc = -1;
  std::string log;  // stdout and stderr together
};

Outcome run(const std::string& args, const std::string& dir, const std::string& page = kPage) {
  Outcome r;
  r.rc = wgtest::RunProgram("--share-link '" + page + "' " + args, dir + "/log");
  r.log = wgtest::Slurp(dir + "/log");
  return r;
}

std::string write(const std::string& dir, const std::string& name, const std::string& bytes) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

app::LinkCard greetingCard(const std::string& greeting, const std::vector<std::string>& credits) {
  app::LinkCard c;
  c.texts = true;
  c.greeting = greeting;
  c.credits = credits;
  return c;
}

TEST(ShareLinkProgram, PrintsALinkThatReadsBackToTheCard) {
  const std::string dir = wgtest::ScratchDir("share-link-card");
  const Outcome r =
      run("--greeting 'С Новым годом, Аня!' --credit 'От Пети' --credit 'И от Маши' --tune jingle-bells "
          "--ground snow --model fir --lang ru",
          dir, std::string(kPage) + "#old");
  ASSERT_EQ(r.rc, 0) << r.log;
  app::LinkCard card = greetingCard("С Новым годом, Аня!", {"От Пети", "И от Маши"});
  card.tune = "jingle-bells";
  card.ground = "snow";
  card.tree = "fir";
  card.lang = "ru";
  EXPECT_EQ(r.log, app::LinkFor(kPage, card) + "\n");
  ASSERT_EQ(r.log.rfind(std::string(kPage) + "#1.", 0), 0u) << r.log;
  EXPECT_TRUE(app::DecodeFragment(r.log.substr(r.log.find('#'), r.log.size() - r.log.find('#') - 1)) == card);
}

TEST(ShareLinkProgram, WithoutTextsTheLinkKeepsTheBuiltInOnes) {
  const std::string dir = wgtest::ScratchDir("share-link-built-in");
  Outcome r = run("", dir);
  ASSERT_EQ(r.rc, 0) << r.log;
  EXPECT_EQ(r.log, std::string(kPage) + "#1.\n");
  // No credit lines under the built-in greeting: the greeting is carried to say so.
  r = run("--no-credits", dir);
  ASSERT_EQ(r.rc, 0) << r.log;
  EXPECT_EQ(r.log, app::LinkFor(kPage, greetingCard("С НОВЫМ 2007 ГОДОМ!", {})) + "\n");
}

TEST(ShareLinkProgram, ABundledFolderNamesAChoiceAndAnUnknownNameIsRefused) {
  const std::string dir = wgtest::ScratchDir("share-link-choices");
  fs::create_directories(dir + "/Party Card/music");
  write(dir, "Party Card/music/main.mid", "MThd");
  Outcome r = run("--bundle '" + dir + "/Party Card' --tune party-card", dir);
  ASSERT_EQ(r.rc, 0) << r.log;
  app::LinkCard card;
  card.tune = "party-card";
  EXPECT_EQ(r.log, app::LinkFor(kPage, card) + "\n");

  r = run("--tune waltz", dir);
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(
      r.log,
      "winter-greeting: --tune: the page offers no tune named \"waltz\"; it has forest, jingle-bells\n");
  r = run("--model party-card", dir);
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.log, "winter-greeting: --model: the page offers no tree named \"party-card\"; it has fir, jingle-bells\n");
}

TEST(ShareLinkProgram, TextsALinkCannotCarryAreRefusedNamingTheOption) {
  const std::string dir = wgtest::ScratchDir("share-link-texts");
  Outcome r = run("--greeting \"$(printf 'Hi\\tthere')\"", dir);
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.log, "winter-greeting: --greeting has the control character U+0009 at character 3\n");
  r = run("--credit ok --credit \"$(printf '\\342\\200\\256abc')\"", dir);  // U+202E left open
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.log,
            "winter-greeting: --credit 2 leaves a bidi embedding or override open; close it with U+202C\n");
  r = run("--greeting " + std::string(300, 'W'), dir);
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.log.rfind("winter-greeting: --greeting: the line \"WWWW", 0), 0u) << r.log;
}

TEST(ShareLinkProgram, RecipientsGetALinkEachWithTheirColumnsFilledIn) {
  const std::string dir = wgtest::ScratchDir("share-link-recipients");
  const std::string csv = write(dir, "people.csv",
                                "\xEF\xBB\xBFname,note\r\n"
                                "Anna,first\r\n"
                                "\"Boris, the \"\"Great\"\"\",\"two\nlines\"\r\n");
  const Outcome r = run(
      "--recipients " + csv + " --greeting 'Happy New Year, {name}!' --credit 'With love, {{us}}' --lang en",
      dir);
  ASSERT_EQ(r.rc, 0) << r.log;
  auto link = [](const std::string& name) {
    app::LinkCard c = greetingCard("Happy New Year, " + name + "!", {"With love, {us}"});
    c.lang = "en";
    return app::LinkFor(kPage, c);
  };
  EXPECT_EQ(r.log,
            "name,note,link\r\n"
            "Anna,first," +
                link("Anna") +
                "\r\n"
                "\"Boris, the \"\"Great\"\"\",\"two\nlines\"," +
                link("Boris, the \"Great\"") + "\r\n");
}

TEST(ShareLinkProgram, ABadRowIsRefusedNamingRowAndColumnAndNothingIsPrinted) {
  const std::string dir = wgtest::ScratchDir("share-link-bad-row");
  const std::string csv = write(dir, "people.csv", "name,city\nAnna,Omsk\n\nBo\tris,Tver\nVera,Kazan\n");
  Outcome r = run("--recipients " + csv + " --greeting 'Hello {name} from {city}'", dir);
  EXPECT_EQ(r.rc, 2);
  // The one line is the refusal: no row of the table came before it.
  EXPECT_EQ(r.log,
            "winter-greeting: " + csv +
                " row 4, column \"name\": the greeting has the control character U+0009 at character 9\n");
  r = run("--recipients " + csv + " --greeting 'Hello {nom}'", dir);
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.log,
            "winter-greeting: --greeting: " + csv + " has no column \"nom\" (its columns: name, city)\n");
  const std::string wide = write(dir, "wide.csv", "name\nAnna\n" + std::string(300, 'W') + "\n");
  r = run("--recipients " + wide + " --credit 'Hi {name}'", dir);
  EXPECT_EQ(r.rc, 2);
  EXPECT_EQ(r.log.rfind(
                "winter-greeting: " + wide + " row 3, column \"name\": credit line 1: the line \"Hi WWW", 0),
            0u)
      << r.log;
}

}  // namespace
