// A greeting carried by a link to the page published once: the page's address with a fragment
// "1." + base64url (no padding) of UTF-8 records "KEY\tVALUE" joined by "\n". Keys: l the language,
// t s m the tune's, ground's and tree's choice names, g the greeting line, c a credit line (repeatable,
// in order). The page's link.js reads the same records; both keep the limits below.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace app {

// The longest fragment (after '#') a link may have, and the longest text, in code points.
constexpr std::size_t kMaxFragmentChars = 8192;
constexpr std::size_t kMaxLinkTextChars = 400;

struct LinkCard {
  std::optional<std::string> greeting;  // the greeting line; absent: the built-in one
  std::vector<std::string> credits;     // the credit lines, in order
  // Whether the link carries texts at all: without, the page keeps its built-in texts. A card that
  // carries texts and no greeting keeps the built-in greeting with `credits` under it.
  bool texts = false;
  std::string tune, ground, tree, lang;  // choice names and the language tag; empty: not carried
};

bool operator==(const LinkCard& a, const LinkCard& b);

// "1." + the card's records in the order l, t, s, m, g, c... Throws std::invalid_argument naming what
// the card cannot carry: a text LinkTextProblem refuses, a name that is no choice name, a language
// that is no tag, more than kMaxCreditLines credit lines, a card that carries texts but neither a
// greeting nor a credit line, or a fragment longer than kMaxFragmentChars.
std::string EncodeFragment(const LinkCard& card);

// The card a fragment (with or without its '#', percent-encoded or not) carries. Throws
// std::invalid_argument naming what is wrong for anything the page would note, except a record of a
// key it does not know, which is left out.
LinkCard DecodeFragment(const std::string& fragment);

// `pageUrl` without its own fragment, then "#" and the card's fragment.
std::string LinkFor(const std::string& pageUrl, const LinkCard& card);

// Why `text` cannot be a text a link carries, or empty when it can: TextLineProblem's reasons, more
// than kMaxLinkTextChars code points, or an explicit bidi embedding, override or isolate it leaves
// open.
std::string LinkTextProblem(const std::string& text);

}  // namespace app
