#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "app/ShareLink.h"
#include "tests/support/Browser.h"

namespace {

using wgtest::Json;

const Json& Vectors() {
  static const Json vectors = [] {
    std::ifstream in(std::string(WG_SOURCE_DIR) + "/tests/data/links/vectors.json");
    std::stringstream s;
    s << in.rdbuf();
    return Json::Parse(s.str());
  }();
  return vectors;
}

// A card as the page's reading gives it: credits present whenever the link carries texts.
app::LinkCard CardOf(const Json& j) {
  app::LinkCard c;
  if (j.isNull()) return c;
  if (!j["greeting"].isNull()) c.greeting = j["greeting"].str();
  c.texts = !j["credits"].isNull();
  for (std::size_t i = 0; i < j["credits"].size(); ++i) c.credits.push_back(j["credits"][i].str());
  c.tune = j["tune"].str();
  c.ground = j["ground"].str();
  c.tree = j["tree"].str();
  c.lang = j["lang"].str();
  return c;
}

TEST(ShareLink, EveryCardEncodesToItsFragmentAndBack) {
  const Json& cards = Vectors()["cards"];
  ASSERT_GE(cards.size(), 10u);
  for (std::size_t i = 0; i < cards.size(); ++i) {
    SCOPED_TRACE(cards[i]["name"].str());
    const app::LinkCard card = CardOf(cards[i]["card"]);
    EXPECT_EQ(app::EncodeFragment(card), cards[i]["fragment"].str());
    EXPECT_TRUE(app::DecodeFragment(cards[i]["fragment"].str()) == card);
    EXPECT_TRUE(app::DecodeFragment("#" + cards[i]["fragment"].str()) == card);
  }
}

// The program refuses what the page would note, but for a key it does not know, which it leaves out
// as the page does; names are only checked for their form, as no page's choices are known.
TEST(ShareLink, HostileFragmentsAreRefusedOrReadAsThePageReadsThem) {
  const Json& hostile = Vectors()["hostile"];
  ASSERT_GE(hostile.size(), 30u);
  for (std::size_t i = 0; i < hostile.size(); ++i) {
    const Json& v = hostile[i];
    SCOPED_TRACE(v["name"].str());
    if (v["page"].boolean() || !v["choices"].isNull()) continue;
    bool refused = false;
    for (std::size_t k = 0; k < v["notes"].size(); ++k) refused |= v["notes"][k].str() != "unknown-key";
    if (refused)
      EXPECT_THROW(app::DecodeFragment(v["fragment"].str()), std::invalid_argument);
    else
      EXPECT_TRUE(app::DecodeFragment(v["fragment"].str()) == CardOf(v["card"]));
  }
}

TEST(ShareLink, TheLinkReplacesThePagesOwnFragment) {
  app::LinkCard card;
  card.tune = "forest";
  const std::string fragment = app::EncodeFragment(card);
  EXPECT_EQ(fragment, "1.dAlmb3Jlc3Q");
  EXPECT_EQ(app::LinkFor("https://example.org/card/?v=2#top", card),
            "https://example.org/card/?v=2#" + fragment);
  EXPECT_EQ(app::LinkFor("https://example.org", card), "https://example.org#" + fragment);
}

TEST(ShareLink, CardsALinkCannotCarryAreRefused) {
  app::LinkCard texts;
  texts.texts = true;
  EXPECT_THROW(app::EncodeFragment(texts), std::invalid_argument);  // texts, but none given
  app::LinkCard name;
  name.ground = "Snow";
  EXPECT_THROW(app::EncodeFragment(name), std::invalid_argument);
  app::LinkCard lang;
  lang.lang = "english";
  EXPECT_THROW(app::EncodeFragment(lang), std::invalid_argument);
  app::LinkCard many;
  many.texts = true;
  many.credits.assign(101, "c");
  EXPECT_THROW(app::EncodeFragment(many), std::invalid_argument);
  // 100 lines of 400 characters each are within the texts' limits but not the fragment's.
  many.credits.assign(100, std::string(400, 'x'));
  try {
    app::EncodeFragment(many);
    ADD_FAILURE() << "a fragment over the limit was encoded";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("at most 8192"), std::string::npos) << e.what();
  }
}

TEST(ShareLink, TextProblemsNameTheCharacterTheLengthAndTheOpenControl) {
  EXPECT_EQ(app::LinkTextProblem(""), "");
  EXPECT_EQ(app::LinkTextProblem(std::string(200, 'x') + "\xD0x"), "is not valid UTF-8 (byte 201)");
  std::string longest;
  for (int i = 0; i < 400; ++i) longest += "ё";
  EXPECT_EQ(app::LinkTextProblem(longest), "");
  EXPECT_EQ(app::LinkTextProblem(longest + "x"), "has 401 characters; a link's text may have at most 400");
  EXPECT_EQ(app::LinkTextProblem("ab\tc"), "has the control character U+0009 at character 3");
  EXPECT_EQ(app::LinkTextProblem("\u202Bx"),
            "leaves a bidi embedding or override open; close it with U+202C");
  EXPECT_EQ(app::LinkTextProblem("\u202Bx\u2067y"), "leaves a bidi isolate open; close it with U+2069");
  EXPECT_EQ(app::LinkTextProblem("\u2067\u202Bx\u2069"), "");
  EXPECT_EQ(app::LinkTextProblem("x\u202C\u2069"), "");
}

}  // namespace
