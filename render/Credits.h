// The frame's two text lines: the greeting, and the credit lines under it in the table that the
// 2000 ms timer steps through.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace render {

// Where the frame's two text lines start, in pixels of the 1024 x 768 picture.
constexpr float kGreetingX = 400, kGreetingY = 20;
constexpr float kCreditX = 300, kCreditY = 200;

struct TextLine {
  std::string text;  // UTF-8; an empty text draws nothing
  float x = 0;       // the left edge: the line's usual x, or less where the line would run past the picture
  // The line as it was written, where `text` is it wrapped for the picture: a frame of another shape
  // wraps it anew. Empty: `text` is as written.
  std::string written;

  TextLine() = default;
  TextLine(std::string text_, float x_, std::string written_ = {})
      : text(std::move(text_)), x(x_), written(std::move(written_)) {}
  const std::string& Written() const { return written.empty() ? text : written; }
};

struct Credits {
  // Before Fill: the built-in table's shape, eleven empty entries and a cycle of nine steps.
  std::vector<TextLine> TitleLines = std::vector<TextLine>(11, TextLine{{}, kCreditX});
  std::int16_t TitleIndex = 0;
  std::int16_t Steps = 9;  // TitleIndex runs through 0 .. Steps - 1
  TextLine Greeting;
  // The tops of the two lines in this frame.
  float GreetingY = kGreetingY, CreditY = kCreditY;

  // N credit lines go to the odd indices 1, 3, ..., 2N - 1 of a table of 2N + 3 entries, and the cycle
  // has 2N + 1 steps: each line comes after an empty step, and two empty steps pass before the first
  // comes back. The built-in four lines make exactly the table of eleven and the nine steps.
  void Fill(const TextLine& greeting, const std::vector<TextLine>& lines) {
    Greeting = greeting;
    TitleLines.assign(2 * lines.size() + 3, TextLine{{}, kCreditX});
    for (std::size_t k = 0; k < lines.size(); ++k) TitleLines[2 * k + 1] = lines[k];
    Steps = static_cast<std::int16_t>(2 * lines.size() + 1);
  }
};

}  // namespace render
