#include "platform/d3dx/Font.h"

#include "platform/d3d/Error.h"

namespace d3dx {

GdiFont StdFont::hFont() const {
  GdiFont f;
  f.name = Name;
  return f;
}

namespace {
class NullFont : public Font {
 public:
  int DrawText(const std::string&, const d3d::D3DRECT&, d3d::DWORD, d3d::D3DCOLOR) override { return 0; }
};
}  // namespace

std::unique_ptr<Font> D3DXCreateFont(d3d::Device& device, const GdiFont& font) {
  (void)device;
  (void)font;
  return std::make_unique<NullFont>();
}

}  // namespace d3dx
