#include "app/Options.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "tests/support/Harness.h"

namespace {

app::Options parse(std::vector<std::string> args) {
  return wgtest::ParseArgs(std::move(args));
}

TEST(Options, NoArgumentsIsTheFullscreenDemo) {
  const auto o = parse({});
  EXPECT_FALSE(o.headless);
  EXPECT_FALSE(o.windowed);
  EXPECT_FALSE(o.help);
}

TEST(Options, HeadlessWithFramesAndScreenshot) {
  const auto o = parse({"--headless", "--frames", "3", "--screenshot", "out.png"});
  EXPECT_TRUE(o.headless);
  EXPECT_EQ(o.frames, 3);
  EXPECT_EQ(o.screenshot, "out.png");
  EXPECT_EQ(parse({"--headless"}).frames, 1);
}

TEST(Options, BadInputIsRefused) {
  EXPECT_THROW(parse({"--frames", "3"}), std::invalid_argument);  // needs --headless
  EXPECT_THROW(parse({"--headless", "--frames", "0"}), std::invalid_argument);
  EXPECT_THROW(parse({"--headless", "--frames", "-4"}), std::invalid_argument);
  EXPECT_THROW(parse({"--headless", "--frames", "3x"}), std::invalid_argument);
  EXPECT_THROW(parse({"--headless", "--frames"}), std::invalid_argument);
  EXPECT_THROW(parse({"--bogus"}), std::invalid_argument);
  EXPECT_THROW(parse({"--headless", "--window"}), std::invalid_argument);
}

TEST(Options, RecordingDefaultsToThirtySecondsAtThirtyFrames) {
  const auto o = parse({"--record", "greeting.mp4"});
  EXPECT_EQ(o.record, "greeting.mp4");
  EXPECT_TRUE(o.Capture());
  EXPECT_DOUBLE_EQ(o.seconds, 30.0);
  EXPECT_EQ(o.fps, 30);
  const auto f = parse({"--frames-dir", "frames", "--seconds", "2.5", "--fps", "24"});
  EXPECT_EQ(f.framesDir, "frames");
  EXPECT_DOUBLE_EQ(f.seconds, 2.5);
  EXPECT_EQ(f.fps, 24);
  EXPECT_THROW(parse({"--record", "a.mp4", "--frames-dir", "frames"}), std::invalid_argument);
}

TEST(Options, TheCardOptionsParseAndExcludeWhatMakesNoSense) {
  const auto o = parse({"--card", "c", "--greeting", "", "--credit", "a", "--credit", "b", "--tune", "t.mid",
                        "--model", "m.x", "--ground", "g.png", "--mute"});
  EXPECT_EQ(o.card, "c");
  ASSERT_TRUE(o.greeting);
  EXPECT_EQ(*o.greeting, "");
  EXPECT_EQ(o.credits, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(o.tune, "t.mid");
  EXPECT_EQ(o.model, "m.x");
  EXPECT_EQ(o.ground, "g.png");
  EXPECT_TRUE(o.mute);
  EXPECT_FALSE(parse({}).greeting);
  EXPECT_TRUE(parse({"--headless", "--mute"}).mute);  // nothing to silence, and no harm
  EXPECT_THROW(parse({"--credit", ""}), std::invalid_argument);
  EXPECT_THROW(parse({"--credit", "a", "--no-credits"}), std::invalid_argument);
  EXPECT_THROW(parse({"--card", ""}), std::invalid_argument);
  EXPECT_THROW(parse({"--tune"}), std::invalid_argument);
  EXPECT_THROW(parse({"--record", "x.mp4", "--mute"}), std::invalid_argument);
}

}  // namespace

namespace {

std::string refusal(std::vector<std::string> args) {
  try {
    parse(std::move(args));
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "accepted";
}

TEST(Options, FrameSizesAreEvenAndWithinRange) {
  const auto o = parse({"--record", "a.mp4", "--size", "1080x1920"});
  EXPECT_EQ(o.width, 1080);
  EXPECT_EQ(o.height, 1920);
  EXPECT_TRUE(o.Sized());
  // A capital X is what people type too.
  EXPECT_EQ(parse({"--headless", "--size", "1080X1920"}).height, 1920);
  EXPECT_EQ(parse({"--headless", "--size", "320x4096"}).width, 320);
  EXPECT_FALSE(parse({"--headless"}).Sized());
  for (const char* bad : {"0x0", "1081x1920", "1080x1921", "-1080x1920", "318x1080", "4098x1080", "1080",
                          "1080x", "x1080", "1080x1920x2", "1e3x1080", " 1080x1920", "1080*1920"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(refusal({"--headless", "--size", bad}).rfind("--size takes WIDTHxHEIGHT", 0), 0u);
  }
  EXPECT_EQ(refusal({"--headless", "--size", "1081x1920"}),
            "--size takes WIDTHxHEIGHT, both even, from 320 to 4096 (such as 1080x1920), not '1081x1920': 1081 "
            "is odd");
  // The live scene takes its shape from the screen.
  EXPECT_EQ(refusal({"--size", "1080x1920"}),
            "--size needs --headless, --record, --frames-dir or --poster (the live scene takes --fill)");
  EXPECT_TRUE(parse({"--fill"}).fill);
  EXPECT_NE(refusal({"--headless", "--fill"}), "accepted");
}

TEST(Options, MaxSizeTakesDecimalUnits) {
  const auto bytes = [](const char* v) { return parse({"--record", "a.mp4", "--max-size", v}).maxBytes; };
  EXPECT_EQ(bytes("16M"), 16'000'000);
  EXPECT_EQ(bytes("8m"), 8'000'000);
  EXPECT_EQ(bytes("800K"), 800'000);
  EXPECT_EQ(bytes("1.5G"), 1'500'000'000);
  EXPECT_EQ(bytes("2MB"), 2'000'000);
  EXPECT_EQ(bytes("123456B"), 123'456);
  for (const char* bad : {"8", "M", "8Q", "-8M", "8.M", ".5M", "1.2.3M", "0M", "2000G", ""}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(refusal({"--record", "a.mp4", "--max-size", bad}).rfind("--max-size takes a size with its unit", 0),
              0u);
  }
  EXPECT_NE(refusal({"--record", "a.mp4", "--max-size", "8"}).find("no unit"), std::string::npos);
  EXPECT_EQ(refusal({"--frames-dir", "d", "--max-size", "8M"}), "--max-size needs --record");
}

TEST(Options, ThePosterIsAJpegAndACaptureOfItsOwn) {
  const auto o = parse({"--poster", "still.JPG", "--size", "1080x1080"});
  EXPECT_EQ(o.poster, "still.JPG");
  EXPECT_TRUE(o.Capture());
  EXPECT_EQ(parse({"--record", "a.webm", "--poster", "p.jpeg"}).poster, "p.jpeg");
  EXPECT_EQ(refusal({"--poster", "still.png"}),
            "--poster writes a JPEG image: name the file .jpg, not 'still.png'");
  EXPECT_NE(refusal({"--poster", "p.jpg", "--window"}), "accepted");
}

}  // namespace

namespace {

TEST(Options, APageUrlIsAnAbsoluteHttpAddressOfPlainCharacters) {
  EXPECT_TRUE(app::IsPageUrl("https://example.org/card/"));
  EXPECT_TRUE(app::IsPageUrl("HTTP://example.org"));
  EXPECT_TRUE(app::IsPageUrl("https://example.org/a?b=c#d"));
  EXPECT_FALSE(app::IsPageUrl("ftp://example.org/"));
  EXPECT_FALSE(app::IsPageUrl("https:///path"));
  EXPECT_FALSE(app::IsPageUrl("https://"));
  EXPECT_FALSE(app::IsPageUrl("example.org/card"));
  EXPECT_FALSE(app::IsPageUrl("javascript://x%0Aalert(1)\""));
  EXPECT_FALSE(app::IsPageUrl("https://example.org/a b"));
  EXPECT_FALSE(app::IsPageUrl("https://example.org/<script>"));
  EXPECT_FALSE(app::IsPageUrl("https://example.org/\xD1\x91"));
  EXPECT_TRUE(app::IsPageUrl("https://e.org/" + std::string(1986, 'a')));
  EXPECT_FALSE(app::IsPageUrl("https://e.org/" + std::string(1987, 'a')));
}

TEST(Options, ALanguageTagIsTwoOrThreeLettersAndUpToThreeParts) {
  for (const char* tag : {"ru", "en-GB", "pt-BR", "zh-Hant-TW", "fil", "sr-Latn-RS-1996", "de-1901"})
    EXPECT_TRUE(app::IsLanguageTag(tag)) << tag;
  for (const char* tag :
       {"", "r", "russ", "1u", "en-", "-en", "en--GB", "en_GB", "en-GB-x-y-z", "en-abcdefghi", "ru\xD1\x91"})
    EXPECT_FALSE(app::IsLanguageTag(tag)) << tag;
}

TEST(Options, LinkOptionsGoWithShareLink) {
  const auto o = wgtest::ParseArgs({"--share-link", "https://e.org/", "--lang", "ru", "--recipients", "p.csv",
                                    "--tune", "jingle-bells", "--bundle", "cards/x"});
  EXPECT_EQ(o.shareLink, "https://e.org/");
  EXPECT_EQ(o.lang, "ru");
  EXPECT_EQ(o.recipients, "p.csv");
  EXPECT_EQ(o.tune, "jingle-bells");
  EXPECT_EQ(o.bundles, (std::vector<std::string>{"cards/x"}));
  EXPECT_THROW(wgtest::ParseArgs({"--recipients", "p.csv"}), std::invalid_argument);
  EXPECT_THROW(wgtest::ParseArgs({"--lang", "ru"}), std::invalid_argument);
  EXPECT_THROW(wgtest::ParseArgs({"--share-link", "https://e.org/", "--headless"}), std::invalid_argument);
  EXPECT_THROW(wgtest::ParseArgs({"--share-link", "e.org"}), std::invalid_argument);
}

}  // namespace

