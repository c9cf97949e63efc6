// Test support: lines of text no one types on purpose, which a greeting or credit line can still
// hold. The layout tests check each is drawn whole inside its box; a benchmark bounds their cost.
#pragma once

#include <string>
#include <vector>

namespace wgtest {

struct BadText {
  const char* name;
  std::string utf8;
};

inline std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

inline std::vector<BadText> BadTexts() {
  // 200 embeddings, overrides and isolates of both directions, each opened on a letter, none closed.
  const char* const openers[] = {"\u202A", "\u202B", "\u202D", "\u202E", "\u2066", "\u2067", "\u2068"};
  std::string nested;
  for (int i = 0; i < 200; ++i) nested += std::string(openers[i % 7]) + (i % 2 ? "\u05D0" : "a");
  return {
      {"OnlyCombiningMarks", "\u0301\u0308\u0327\u0323"},
      {"AThousandMarksOnOneLetter", "a" + Repeat("\u0301\u0323", 500)},
      // PDF and PDI with nothing to close, then LRE, RLE, LRO, RLO, LRI, RLI and FSI never closed.
      {"UnclosedBidiControls",
       "\u202C\u2069Happy \u202ANew \u202BYear \u202D\u05E9\u05E0\u05D4 \u202E\u05D8\u05D5\u05D1\u05D4 "
       "\u20662027 \u2067\u0639\u0627\u0645 \u2068\u0633\u0639\u064A\u062F"},
      {"TwoHundredNestedBidiControls", nested},
      {"LoneEmojiPresentationSelector", "\uFE0F"},
      {"LoneIdeographicVariationSelector", "\U000E0100"},
      {"PrivateUseCharacters", "\uE000\U000F0000"},
      {"TwentyScriptsOnOneLine",
       "Happy Счастье Χαρά Ուրախ ბედნიერი שמחה فرح आनंद আনন্দ மகிழ்ச்சி สุข ສຸກ សុភមង្គល 행복 しあわせ 幸福 "
       "ደስታ བདེ་སྐྱིད། සතුට ખુશી సంతోషం"},
      {"TwoThousandCharacterWord", Repeat("Happy", 400)},
      {"MoreThanThreeWrappedLines", Repeat("Happy New Year! ", 40)},
  };
}

}  // namespace wgtest
