#include "app/Bundles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/Options.h"
#include "tests/support/Harness.h"

namespace {

namespace fs = std::filesystem;

void Touch(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file) << "x";
}

std::vector<std::string> Names(const std::vector<app::MediaChoice>& kind) {
  std::vector<std::string> names;
  for (const app::MediaChoice& c : kind) names.push_back(c.name);
  return names;
}

TEST(Bundles, AFolderIsNamedByItsLastComponentInLowerCaseAndDashes) {
  EXPECT_EQ(app::ChoiceNameOf("/home/anna/My Card (2)/"), "my-card-2");
  EXPECT_EQ(app::ChoiceNameOf("cards//Winter__2027"), "winter-2027");
  EXPECT_EQ(app::ChoiceNameOf("./--x--"), "x");
  EXPECT_EQ(app::ChoiceNameOf("Ёлка 2027"), "2027");  // letters outside a-z name nothing
  EXPECT_EQ(app::ChoiceNameOf("___"), "");
  // Cut at 40 characters, and a '-' the cut leaves last is dropped.
  EXPECT_EQ(app::ChoiceNameOf(std::string(39, 'a') + " b"), std::string(39, 'a'));
  EXPECT_EQ(app::ChoiceNameOf(std::string(45, 'Z')), std::string(40, 'z'));
  EXPECT_TRUE(app::IsChoiceName(std::string(40, 'a')));
  EXPECT_FALSE(app::IsChoiceName(std::string(41, 'a')));
  EXPECT_FALSE(app::IsChoiceName(""));
  EXPECT_FALSE(app::IsChoiceName("Snow"));
  EXPECT_FALSE(app::IsChoiceName("snow_2"));
}

TEST(Bundles, TheBuiltInMediaComeFirstThenTheExampleCardsThenEachBundledFolder) {
  const std::string dir = wgtest::ScratchDir("bundles-media");
  Touch(fs::path(dir) / "Party Card" / "tex" / "snow.jpg");
  Touch(fs::path(dir) / "Party Card" / "models" / "tree.x");
  Touch(fs::path(dir) / "Party Card" / "models" / "tree.glb");
  // A card's tree in any format the program reads; the X file first where there are two.
  Touch(fs::path(dir) / "obj" / "models" / "tree.obj");
  const app::MediaChoices m = app::BundledMedia(wgtest::AppDir(), {dir + "/Party Card", dir + "/obj"});
  EXPECT_EQ(Names(m.tunes), (std::vector<std::string>{"forest", "jingle-bells"}));
  EXPECT_EQ(Names(m.grounds), (std::vector<std::string>{"snow", "jingle-bells", "party-card"}));
  EXPECT_EQ(Names(m.trees), (std::vector<std::string>{"fir", "jingle-bells", "party-card", "obj"}));
  EXPECT_EQ(m.tunes[0].label, "В лесу родилась ёлочка");
  EXPECT_EQ(m.trees[1].path, wgtest::AppDir() + "/cards/jingle-bells/models/tree.glb");
  EXPECT_EQ(m.trees[2].path, dir + "/Party Card/models/tree.x");
  EXPECT_EQ(m.trees[3].path, dir + "/obj/models/tree.obj");
  ASSERT_NE(app::FindChoice(m.grounds, "party-card"), nullptr);
  EXPECT_EQ(app::FindChoice(m.grounds, "party-card")->path, dir + "/Party Card/tex/snow.jpg");
  EXPECT_EQ(app::FindChoice(m.tunes, "party-card"), nullptr);
}

TEST(Bundles, AFolderThatIsNotThereHasNoMediaOrRepeatsANameIsRefused) {
  const std::string dir = wgtest::ScratchDir("bundles-refused");
  Touch(fs::path(dir) / "a" / "Card" / "music" / "main.mid");
  Touch(fs::path(dir) / "b" / "card" / "music" / "main.mid");
  Touch(fs::path(dir) / "Jingle Bells" / "music" / "main.mid");
  Touch(fs::path(dir) / "empty" / "readme.txt");
  const auto refused = [](const std::vector<std::string>& bundles) {
    EXPECT_THROW(app::BundledMedia(wgtest::AppDir(), bundles), app::CommandLineError);
  };
  refused({dir + "/a/Card", dir + "/b/card"});
  refused({dir + "/Jingle Bells"});  // the example card's name
  refused({dir + "/empty"});
  refused({dir + "/not-there"});
  refused({dir + "/a/Card", dir + "/a/Card"});
  EXPECT_NO_THROW(app::BundledMedia(wgtest::AppDir(), {dir + "/a/Card"}));
}

}  // namespace
