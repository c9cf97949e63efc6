// Reading UTF-8 one character at a time, strictly: what the font draws and what a greeting may hold
// agree on which bytes are text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace d3dx {

struct Utf8Char {
  char32_t cp = 0;
  std::size_t length = 0;  // bytes; 0 when the bytes at the position are no well-formed character
};

// The character whose encoding starts at byte `i` of `s`. A stray continuation byte, a cut or
// overlong sequence, a surrogate and a value above U+10FFFF are no character.
inline Utf8Char NextUtf8(std::string_view s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return {c, 1};
  std::size_t len = 0;
  char32_t cp = 0, min = 0;
  if ((c & 0xE0) == 0xC0)
    len = 2, cp = c & 0x1F, min = 0x80;
  else if ((c & 0xF0) == 0xE0)
    len = 3, cp = c & 0x0F, min = 0x800;
  else if ((c & 0xF8) == 0xF0)
    len = 4, cp = c & 0x07, min = 0x10000;
  if (len == 0 || i + len > s.size()) return {};
  for (std::size_t k = 1; k < len; ++k) {
    const auto cc = static_cast<unsigned char>(s[i + k]);
    if ((cc & 0xC0) != 0x80) return {};
    cp = (cp << 6) | (cc & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
  return {cp, len};
}

// Appends the UTF-8 encoding of `cp` (at most U+10FFFF, no surrogate) to `out`.
inline void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace d3dx
