#include "render/modGen.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/base/Error.h"
#include "platform/d3dx/Font.h"

namespace render {

d3d::D3DVECTOR MakeVector(float x, float y, float z) {
  return d3d::D3DVECTOR{x, y, z};
}

d3d::D3DCOLOR LerpColor(d3d::D3DCOLOR first, d3d::D3DCOLOR second, float t) {
  const float s = 1.0f - t;
  std::uint32_t result = 0;
  for (const std::uint32_t mask : {0xFFu, 0xFF00u, 0xFF0000u}) {
    const double v = static_cast<double>(t) * static_cast<double>(first & mask) +
                     static_cast<double>(s) * static_cast<double>(second & mask);
    const double r = std::nearbyint(v);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
      throw platform::Error("LerpColor", "channel value out of the 32-bit range (overflow)");
    result += static_cast<std::uint32_t>(static_cast<std::int32_t>(r)) & mask;
  }
  return result;
}

d3dx::StdFont TextFontSource(float points) {
  d3dx::StdFont source;
  source.Bold = true;
  source.Size = points;
  source.Name = "Arial";
  source.Underline = false;
  source.Italic = false;
  return source;
}

modGen::modGen() = default;
modGen::~modGen() = default;

void modGen::InitFont(d3d::Device& dev, float points, int frameWidth, int frameHeight,
                      const d3dx::GlyphSourceOpener& glyphs) {
  frameWidth_ = frameWidth;
  frameHeight_ = frameHeight;
  TextFontSource_ = std::make_unique<d3dx::StdFont>(TextFontSource(points));
  const d3dx::GdiFont handle = TextFontSource_->hFont();
  // Text in another face's widths no longer sits where it was laid out: say so once, and go on.
  if (const std::string warning = d3dx::SubstitutionWarning(handle); !warning.empty())
    std::fprintf(stderr, "Warning: %s\n", warning.c_str());
  TextFont_ =
      glyphs ? std::make_unique<d3dx::Font>(dev, handle, glyphs(handle)) : d3dx::D3DXCreateFont(dev, handle);
}

void modGen::PrintText(float x, float y, const std::string& text, d3d::D3DCOLOR color) {
  if (!TextFont_) throw platform::Error("PrintText", "no font: InitFont has not run");
  const double left = std::nearbyint(static_cast<double>(x)), top = std::nearbyint(static_cast<double>(y));
  if (!(left >= -2147483648.0 && left <= 2147483647.0 && top >= -2147483648.0 && top <= 2147483647.0))
    throw platform::Error("PrintText", "position (" + std::to_string(x) + ", " + std::to_string(y) +
                                           ") out of the 32-bit range (overflow)");
  // Right and bottom at 1280, beyond the 1024 x 768 screen (and at least a quarter beyond a larger
  // frame): nothing that starts on screen is cut.
  d3d::D3DRECT rect;
  rect.x1 = static_cast<std::int32_t>(left);
  rect.y1 = static_cast<std::int32_t>(top);
  rect.x2 = std::max(1280, frameWidth_ + frameWidth_ / 4);
  rect.y2 = std::max(1280, frameHeight_ + frameHeight_ / 4);
  TextFont_->DrawText(text, rect, d3dx::DT_TOP | d3dx::DT_LEFT, color);
}

}  // namespace render
