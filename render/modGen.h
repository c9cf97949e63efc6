// General helpers of the rendering core: the text overlay (InitFont, PrintText), MakeVector and the
// channel blend LerpColor.
#pragma once

#include <memory>
#include <string>

#include "platform/d3d/d3d8types.h"
#include "platform/d3dx/Font.h"

namespace d3d {
class Device;
}

namespace render {

d3d::D3DVECTOR MakeVector(float x, float y, float z);

// The standard font object TextFont is made from: "Arial", 18 points, bold. Text can be laid out in
// it before any device exists.
d3dx::StdFont TextFontSource(float points = 18);

// Channel-wise blend, t weighting the first colour. Each channel is blended where it stands in the
// 32-bit value and rounded (ties to even) before it is masked, so only the lowest channel is rounded
// to nearest; alpha of the result is always 0. A value beyond the 32-bit range is an overflow error.
d3d::D3DCOLOR LerpColor(d3d::D3DCOLOR first, d3d::D3DCOLOR second, float t);

class modGen {
 public:
  modGen();
  ~modGen();

  // Makes TextFont on `dev`, which every later PrintText draws on, at `points` (the picture's 18, or
  // the size a frame of another shape scales it to). `frameWidth` x `frameHeight` is the frame's size.
  // With `glyphs`, the font's glyphs come from what it opens rather than from the face the font object
  // names.
  void InitFont(d3d::Device& dev, float points = 18, int frameWidth = 1024, int frameHeight = 768,
                const d3dx::GlyphSourceOpener& glyphs = {});
  // Draws `text` (UTF-8) with its top-left corner at (x, y), both rounded ties-to-even.
  void PrintText(float x, float y, const std::string& text, d3d::D3DCOLOR color);

  d3dx::Font* TextFont() const { return TextFont_.get(); }

 private:
  std::unique_ptr<d3dx::StdFont> TextFontSource_;
  std::unique_ptr<d3dx::Font> TextFont_;
  int frameWidth_ = 1024, frameHeight_ = 768;
};

}  // namespace render
