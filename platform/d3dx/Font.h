// Fonts: the platform's standard font object, its GDI-style handle, and the D3DX font that draws
// text with it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/d3d/Device.h"

namespace d3dx {

// What a GDI font handle resolves to here: the face file and the character height in pixels.
struct GdiFont {
  std::string file;
  int faceIndex = 0;
  int pixelHeight = 0;
  bool bold = false, italic = false, underline = false;
  std::string name;
};

// The standard font object (StdFont): name, size in points, bold, italic, underline.
struct StdFont {
  std::string Name = "MS Sans Serif";
  float Size = 8.25f;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  // Resolves the face through fontconfig; no matching face is an error naming it.
  GdiFont hFont() const;
};

class Font {
 public:
  virtual ~Font() = default;
  // DrawText: `text` in UTF-8, laid out from the rectangle's top-left corner (format 0 =
  // DT_TOP | DT_LEFT). Returns the height of the drawn text in pixels.
  virtual int DrawText(const std::string& text, const d3d::D3DRECT& rect, d3d::DWORD format,
                       d3d::D3DCOLOR color) = 0;
};

std::unique_ptr<Font> D3DXCreateFont(d3d::Device& device, const GdiFont& font);

}  // namespace d3dx
