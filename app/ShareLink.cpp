#include "app/ShareLink.h"

#include <stdexcept>

#include "app/Bundles.h"
#include "app/Card.h"
#include "app/Options.h"
#include "platform/d3dx/Utf8.h"

namespace app {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string base64url(const std::string& bytes) {
  std::string out;
  out.reserve((bytes.size() * 4 + 2) / 3);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    for (const int shift : {18, 12, 6, 0}) out += kAlphabet[(v >> shift) & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (rest == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    if (rest == 2) out += kAlphabet[(v >> 6) & 63];
  }
  return out;
}

int sextet(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

[[noreturn]] void refuse(const std::string& why) {
  throw std::invalid_argument(why);
}

// Only the canonical spelling is taken (no padding, unused low bits zero), as link.js takes it.
std::string fromBase64url(const std::string& text) {
  if (text.size() % 4 == 1)
    refuse("the link's data is cut off (" + std::to_string(text.size()) + " characters)");
  std::string out;
  out.reserve(text.size() * 3 / 4);
  unsigned v = 0;
  int bits = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const int s = sextet(text[i]);
    if (s < 0) refuse("the link's data has a character outside base64url at " + std::to_string(i + 3));
    v = (v << 6 | static_cast<unsigned>(s)) & 0xFFFF;
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((v >> bits) & 0xFF);
    }
  }
  if ((v & ((1u << bits) - 1)) != 0) refuse("the link's data does not end as base64url ends");
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string percentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    const int hi = i + 2 < text.size() ? hexDigit(text[i + 1]) : -1;
    const int lo = hi >= 0 ? hexDigit(text[i + 2]) : -1;
    if (lo < 0) refuse("the link's percent-encoding is broken at character " + std::to_string(i + 1));
    out += static_cast<char>(hi << 4 | lo);
    i += 2;
  }
  return out;
}

// The explicit bidi controls a text opens and leaves open, innermost last: 'E' for an embedding or
// override (closed by U+202C), 'I' for an isolate (closed by U+2069, which also closes the embeddings
// opened inside it). A closer with nothing to close is ignored, as the bidi algorithm ignores it.
std::string openBidi(const std::string& text) {
  std::string open;
  for (std::size_t i = 0; i < text.size();) {
    const d3dx::Utf8Char c = d3dx::NextUtf8(text, i);
    if (c.length == 0) break;
    i += c.length;
    if (c.cp == 0x202A || c.cp == 0x202B || c.cp == 0x202D || c.cp == 0x202E) {
      open += 'E';
    } else if (c.cp == 0x2066 || c.cp == 0x2067 || c.cp == 0x2068) {
      open += 'I';
    } else if (c.cp == 0x202C) {
      if (!open.empty() && open.back() == 'E') open.pop_back();
    } else if (c.cp == 0x2069) {
      const std::size_t isolate = open.rfind('I');
      if (isolate != std::string::npos) open.resize(isolate);
    }
  }
  return open;
}

std::size_t codePoints(const std::string& text) {
  std::size_t n = 0;
  for (const char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

void checkText(const std::string& what, const std::string& text) {
  if (const std::string problem = LinkTextProblem(text); !problem.empty()) refuse(what + " " + problem);
}

void checkName(const char* what, const std::string& name) {
  if (!name.empty() && !IsChoiceName(name))
    refuse(std::string("the ") + what + " name \"" + name + "\" is not 1 to 40 of a-z, 0-9 and '-'");
}

void checkCard(const LinkCard& card) {
  checkName("tune", card.tune);
  checkName("ground", card.ground);
  checkName("tree", card.tree);
  if (!card.lang.empty() && !IsLanguageTag(card.lang)) refuse("\"" + card.lang + "\" is not a language tag");
  if (card.credits.size() > kMaxCreditLines)
    refuse("a link carries at most " + std::to_string(kMaxCreditLines) + " credit lines, not " +
           std::to_string(card.credits.size()));
  if (card.greeting) checkText("the greeting", *card.greeting);
  for (std::size_t i = 0; i < card.credits.size(); ++i)
    checkText("credit line " + std::to_string(i + 1), card.credits[i]);
}

}  // namespace

bool operator==(const LinkCard& a, const LinkCard& b) {
  return a.greeting == b.greeting && a.credits == b.credits && a.texts == b.texts && a.tune == b.tune &&
         a.ground == b.ground && a.tree == b.tree && a.lang == b.lang;
}

std::string LinkTextProblem(const std::string& text) {
  if (std::string problem = TextLineProblem(text); !problem.empty()) return problem;
  if (const std::size_t n = codePoints(text); n > kMaxLinkTextChars)
    return "has " + std::to_string(n) + " characters; a link's text may have at most " +
           std::to_string(kMaxLinkTextChars);
  if (const std::string open = openBidi(text); !open.empty())
    return std::string("leaves ") + (open.back() == 'I' ? "a bidi isolate" : "a bidi embedding or override") +
           " open; close it with " + (open.back() == 'I' ? "U+2069" : "U+202C");
  return {};
}

std::string EncodeFragment(const LinkCard& card) {
  checkCard(card);
  if (card.texts && !card.greeting && card.credits.empty())
    refuse("a link that carries texts carries the greeting or a credit line");
  std::string records;
  const auto add = [&records](char key, const std::string& value) {
    if (!records.empty()) records += '\n';
    records += key;
    records += '\t';
    records += value;
  };
  if (!card.lang.empty()) add('l', card.lang);
  if (!card.tune.empty()) add('t', card.tune);
  if (!card.ground.empty()) add('s', card.ground);
  if (!card.tree.empty()) add('m', card.tree);
  if (card.texts) {
    if (card.greeting) add('g', *card.greeting);
    for (const std::string& c : card.credits) add('c', c);
  }
  std::string fragment = "1." + base64url(records);
  if (fragment.size() > kMaxFragmentChars)
    refuse("the link would be " + std::to_string(fragment.size()) + " characters after its '#'; at most " +
           std::to_string(kMaxFragmentChars) + " are taken");
  return fragment;
}

LinkCard DecodeFragment(const std::string& fragment) {
  std::string f = fragment.starts_with('#') ? fragment.substr(1) : fragment;
  // No fragment: the page's built-in card.
  if (f.empty()) return {};
  if (f.size() > 3 * kMaxFragmentChars) refuse("the fragment is longer than a link's may be");
  if (f.find('%') != std::string::npos) f = percentDecoded(f);
  if (f.size() > kMaxFragmentChars)
    refuse("the fragment has " + std::to_string(f.size()) + " characters; at most " +
           std::to_string(kMaxFragmentChars) + " are taken");
  if (!f.starts_with("1.")) refuse("the fragment does not start with version 1 (\"1.\")");
  const std::string records = fromBase64url(f.substr(2));
  for (std::size_t i = 0; i < records.size();) {
    const d3dx::Utf8Char c = d3dx::NextUtf8(records, i);
    if (c.length == 0) refuse("the link's records are not valid UTF-8 (byte " + std::to_string(i + 1) + ")");
    i += c.length;
  }
  LinkCard card;
  std::size_t start = 0;
  while (start <= records.size() && !records.empty()) {
    std::size_t end = records.find('\n', start);
    if (end == std::string::npos) end = records.size();
    const std::string record = records.substr(start, end - start);
    start = end + 1;
    if (record.empty()) continue;
    const std::size_t tab = record.find('\t');
    if (tab == std::string::npos) refuse("a record of the link has no tab after its key");
    const std::string key = record.substr(0, tab), value = record.substr(tab + 1);
    const auto once = [&](std::string& field) {
      if (!field.empty()) refuse("the link has two " + key + " records");
      if (value.empty()) refuse("the link's " + key + " record is empty");
      field = value;
    };
    if (key == "g") {
      if (card.greeting) refuse("the link has two g records");
      card.greeting = value;
      card.texts = true;
    } else if (key == "c") {
      card.credits.push_back(value);
      card.texts = true;
    } else if (key == "t") {
      once(card.tune);
    } else if (key == "s") {
      once(card.ground);
    } else if (key == "m") {
      once(card.tree);
    } else if (key == "l") {
      once(card.lang);
    }
  }
  checkCard(card);
  return card;
}

std::string LinkFor(const std::string& pageUrl, const LinkCard& card) {
  return pageUrl.substr(0, pageUrl.find('#')) + "#" + EncodeFragment(card);
}

}  // namespace app
