// Fonts: the platform's standard font object, its GDI-style handle, and the D3DX font that draws
// text with it. A character the face lacks comes from the face fontconfig picks for it; one that no
// installed face has draws as the face's missing-glyph box.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/d3d/Device.h"

namespace d3dx {

// What a GDI font handle resolves to here: the face file and the character height in pixels.
// Like a GDI font made with a negative height, `pixelHeight` is the em height (the cell less its
// internal leading), so Arial at 24 px has a 22 px ascent and a 27 px line.
struct GdiFont {
  std::string file;
  int faceIndex = 0;
  int pixelHeight = 0;
  bool bold = false, italic = false, underline = false;
  // The matched face is lighter or more upright than asked for: the rasteriser emboldens or slants it.
  bool synthesizeBold = false, synthesizeItalic = false;
  std::string name;
  // The family of the face fontconfig chose for `name` ("Liberation Sans" for "Arial", say).
  std::string family;
};

// Whether text set in `family` takes the room it was laid out for in `asked`: the same family, or
// one made with the same advance widths (Liberation Sans and Arimo for Arial, and the like).
bool MetricCompatible(const std::string& asked, const std::string& family);
// The warning for a font whose face had to be replaced by one with other widths, naming the face
// used; empty when the face drawn is the one asked for or one of its metric-compatible twins.
std::string SubstitutionWarning(const GdiFont& font);

// The standard font object (StdFont): name, size in points, bold, italic, underline.
struct StdFont {
  std::string Name = "MS Sans Serif";
  float Size = 8.25f;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  // Resolves the face through fontconfig at 96 DPI; no matching face is an error naming it. In the
  // browser the face is the one the exporter prepared for this description.
  GdiFont hFont() const;
};

// The em height in pixels GDI gives a font of `points` points at 96 DPI. Throws naming `call` when it
// is out of range.
int GdiPixelHeight(float points, const std::string& name, const char* call);

// A face's line metrics in pixels: GDI's cell, and the underline below the baseline.
struct FaceMetrics {
  int ascent = 0, descent = 0;
  int underlinePosition = 1, underlineThickness = 1;
};

// One glyph as the rasteriser makes it: its coverage, top row first, and where it sits on the pen:
// `left` to the right of it, `top` above the baseline; then the pen moves by `advance`.
struct GlyphImage {
  int left = 0, top = 0, width = 0, height = 0, advance = 0;
  std::vector<std::uint8_t> coverage;  // width x height bytes
  // No installed face has the character: this is the own face's missing-glyph box.
  bool missing = false;
};

// The faces behind a Font. On the desktop FreeType rasterises the face fontconfig chose, and for a
// character it lacks the face fontconfig ranks first among those that have it; in the browser,
// which has no rasteriser of ours, the glyphs come as the exporter rasterised them.
class GlyphSource {
 public:
  virtual ~GlyphSource() = default;
  virtual FaceMetrics Metrics() const = 0;
  // Throws naming DrawText and the face when the glyph cannot be made.
  virtual GlyphImage Rasterise(char32_t codePoint) = 0;
};

// Opens the face a GDI font handle names. Throws naming D3DXCreateFont and the file.
std::unique_ptr<GlyphSource> OpenGlyphSource(const GdiFont& font);

// A face's glyphs made ahead of time: what a runtime without a rasteriser draws with.
struct PreparedFace {
  FaceMetrics metrics;
  std::vector<std::pair<char32_t, GlyphImage>> glyphs;  // each code point once
};

// Every glyph `texts` (UTF-8, decoded as DrawText decodes them) needs, rasterised by the face `font`
// names (or by its fallback faces), in the order of first use.
PreparedFace PrepareFace(const GdiFont& font, const std::vector<std::string>& texts);

// A GlyphSource over prepared glyphs. A code point that was not prepared draws nothing.
std::unique_ptr<GlyphSource> PreparedGlyphSource(PreparedFace face);

// The file name a prepared face goes by: the description asked for (name, height, bold, italic), so
// that the browser finds it from the same font object.
std::string PreparedFaceName(const GdiFont& font);

enum : d3d::DWORD { DT_TOP = 0, DT_LEFT = 0 };

// The vertex the font draws with: pre-transformed screen position, colour, atlas coordinates.
struct FontVertex {
  float x, y, z, rhw;
  d3d::D3DCOLOR diffuse;
  float u, v;
};
constexpr d3d::DWORD kFontFVF = d3d::D3DFVF_XYZRHW | d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_TEX1;
static_assert(sizeof(FontVertex) == 28);

class Font {
 public:
  Font(d3d::Device& device, const GdiFont& font);
  // A font whose glyphs come from `source` rather than from the face `font` names.
  Font(d3d::Device& device, const GdiFont& font, std::unique_ptr<GlyphSource> source);
  ~Font();
  Font(const Font&) = delete;
  Font& operator=(const Font&) = delete;

  // DrawText: `text` in UTF-8 (malformed bytes draw as U+FFFD), laid out from the rectangle's
  // top-left corner (format 0 = DT_TOP | DT_LEFT; a line feed starts a new line) and clipped to the
  // rectangle. One alpha-blended triangle-list draw per call; every device state it changes is put
  // back before it returns. Returns the height of the drawn text in pixels (0 for an empty text).
  int DrawText(std::string_view text, const d3d::D3DRECT& rect, d3d::DWORD format, d3d::D3DCOLOR color);
  // The same for UTF-16 text (unpaired surrogates draw as U+FFFD).
  int DrawText(std::u16string_view text, const d3d::D3DRECT& rect, d3d::DWORD format, d3d::D3DCOLOR color);

  // Line metrics in pixels: the baseline lies `Ascent` below the top of a line, lines are `LineHeight`
  // apart.
  int Ascent() const;
  int LineHeight() const;
  // Glyphs rasterised so far; each code point is rasterised once and then drawn from the atlas.
  std::uint64_t GlyphsRasterised() const;
  // The atlas texture (alpha = coverage, RGB white) as of the last draw; null before the first glyph.
  std::shared_ptr<d3d::Texture> Atlas() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

std::unique_ptr<Font> D3DXCreateFont(d3d::Device& device, const GdiFont& font);

// Lays text out exactly as a Font of the same description draws it, with no device: to check that a
// line fits before anything is drawn.
class TextMeasure {
 public:
  explicit TextMeasure(const GdiFont& font);
  ~TextMeasure();
  TextMeasure(const TextMeasure&) = delete;
  TextMeasure& operator=(const TextMeasure&) = delete;

  // The right edge of the ink of UTF-8 `text` drawn from x = 0, in pixels (0 when nothing shows).
  int Width(std::string_view text);
  // The characters met so far that no installed face has, each once, in the order they were met.
  const std::vector<char32_t>& Missing() const;

 private:
  std::unique_ptr<Font::Impl> impl_;
};

}  // namespace d3dx
