// The credit lines under the greeting: the table filled at start-up and the index the 2000 ms timer
// advances.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace app {

struct Credits {
  std::array<std::string, 11> TitleLines{};
  std::int16_t TitleIndex = 0;

  void Fill() {
    TitleLines[1] = "Автор демки: Morvelan";
    TitleLines[3] = "А также спасибо Ilkar за идею";
    TitleLines[5] = "Тексуры подготовил Tovrak";
    TitleLines[7] = "С Новым 2007 годом!";
  }
};

}  // namespace app
