// Fonts: the platform's standard font object, its GDI-style handle, and the D3DX font that draws
// text with it. A character the face lacks comes from the face fontconfig picks for it; one that no
// installed face has draws as the face's missing-glyph box.
#pragma once

#include <cstdint>
#include <functional>
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

// Which glyph of which face: face 0 is the font's own face, 1, 2, ... the fallback faces in the
// order the source opened them; `index` is the glyph's index in that face (0: its missing-glyph box).
struct GlyphId {
  std::uint32_t face = 0, index = 0;
  bool operator==(const GlyphId& o) const { return face == o.face && index == o.index; }
  std::uint64_t key() const { return (static_cast<std::uint64_t>(face) << 32) | index; }
};

// One glyph as the rasteriser makes it: its image, top row first, and where it sits on the pen:
// `left` to the right of it, `top` above the baseline.
struct GlyphImage {
  int left = 0, top = 0, width = 0, height = 0;
  // width x height coverage bytes; for a colour glyph width x height RGBA texels (straight alpha).
  std::vector<std::uint8_t> coverage;
  // A colour glyph (an emoji) keeps its own colours; the others take the colour of the text.
  bool colour = false;
};

// A glyph placed on a line: its pen position in pixels, right of the line's left edge and below
// its baseline.
struct PlacedGlyph {
  GlyphId id;
  int x = 0, y = 0;
};

// One line of text shaped and put in display order: its glyphs left to right, the pen's travel
// across them, whether its first strong character is right-to-left, and the characters of it that
// no installed face has (each once; they draw as the own face's missing-glyph box).
struct ShapedLine {
  std::vector<PlacedGlyph> glyphs;
  int advance = 0;
  bool rightToLeft = false;
  std::vector<char32_t> missing;
};

// The faces behind a Font. On the desktop HarfBuzz shapes each run of one script, direction and
// face (FriBidi orders the runs; fontconfig picks a face for what the own face lacks) and FreeType
// rasterises the glyphs; in the browser, which has neither, the lines and glyphs come as the
// exporter shaped and rasterised them.
class GlyphSource {
 public:
  virtual ~GlyphSource() = default;
  virtual FaceMetrics Metrics() const = 0;
  // `line` holds no line break. Throws naming DrawText and the face when it cannot be shaped.
  virtual ShapedLine Shape(std::u32string_view line) = 0;
  // Throws naming DrawText and the face when the glyph cannot be made.
  virtual GlyphImage Rasterise(GlyphId id) = 0;
  // The positions in `text` where a new line may start (ascending, none at 0), by Unicode's line
  // breaking; a runtime that only draws prepared lines has none.
  virtual std::vector<std::size_t> BreakOpportunities(std::u32string_view text) = 0;
  // The face files in use, own face first, in the order of their ids.
  virtual std::vector<std::string> FaceFiles() const = 0;
};

// Opens the face a GDI font handle names. Throws naming D3DXCreateFont and the file.
std::unique_ptr<GlyphSource> OpenGlyphSource(const GdiFont& font);
// What makes a font's glyphs from its handle where they do not come from the face it names (the
// browser's own text stack, say).
using GlyphSourceOpener = std::function<std::unique_ptr<GlyphSource>(const GdiFont& font)>;

// A face's lines and glyphs made ahead of time: what a runtime without a shaper draws with.
struct PreparedFace {
  FaceMetrics metrics;
  std::vector<std::pair<std::u32string, ShapedLine>> lines;  // each line once
  std::vector<std::pair<GlyphId, GlyphImage>> glyphs;        // each glyph once
  // Each text as written with the positions where a new line may start in it: what TextMeasure::Wrap
  // asks the source for when a frame is too narrow for the text.
  std::vector<std::pair<std::u32string, std::vector<std::size_t>>> breaks;
};

// Every line `texts` (UTF-8, decoded and split into lines as DrawText does) holds, shaped by the
// face `font` names and its fallback faces, and every glyph those lines use, rasterised. With
// `wrappable`, each text also keeps its break opportunities, and every piece of it a wrap can make
// (from its start or a break to a later break, the spaces before that break dropped, or to its end)
// is shaped too: a runtime without a shaper can then wrap the text at any width as the desktop does.
PreparedFace PrepareFace(const GdiFont& font, const std::vector<std::string>& texts, bool wrappable = false);

// A GlyphSource over prepared lines and glyphs. A line that was not prepared draws nothing.
std::unique_ptr<GlyphSource> PreparedGlyphSource(PreparedFace face);

// Whether `cp` ends a line in a text DrawText draws: line feed, carriage return, and Unicode's
// line and paragraph separators (U+2028, U+2029), which a wrapped line is broken with.
constexpr bool IsLineBreak(char32_t cp) {
  return cp == U'\n' || cp == U'\r' || cp == 0x2028 || cp == 0x2029;
}

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
  // top-left corner (format 0 = DT_TOP | DT_LEFT; a line break (IsLineBreak) starts a new line) and
  // clipped to the rectangle. A line whose ink reaches above or below the face's cell makes its room
  // taller; a right-to-left text aligns its lines to the right edge of its widest one. One alpha-blended
  // triangle-list draw per call; every device state it changes is put back before it returns. Returns the
  // height of the drawn text in pixels (0 for an empty text).
  int DrawText(std::string_view text, const d3d::D3DRECT& rect, d3d::DWORD format, d3d::D3DCOLOR color);
  // The same for UTF-16 text (unpaired surrogates draw as U+FFFD).
  int DrawText(std::u16string_view text, const d3d::D3DRECT& rect, d3d::DWORD format, d3d::D3DCOLOR color);
  // Lays out UTF-8 `text` and puts its glyphs in the atlas without drawing: the texts a program will
  // draw, preloaded before the first frame, give the atlas its size and contents at once, so that it
  // is made once rather than again when a new text shows.
  void PreloadText(std::string_view text);

  // Line metrics in pixels: the baseline lies `Ascent` below the top of a line, lines are `LineHeight`
  // apart.
  int Ascent() const;
  int LineHeight() const;
  // Glyphs rasterised so far; each glyph of each face is rasterised once and then drawn from the atlas.
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
  // Measures with `source`'s lines and glyphs (a prepared face's, as the browser does).
  TextMeasure(const GdiFont& font, std::unique_ptr<GlyphSource> source);
  ~TextMeasure();
  TextMeasure(const TextMeasure&) = delete;
  TextMeasure& operator=(const TextMeasure&) = delete;

  // The right edge of the ink of UTF-8 `text` drawn from x = 0, in pixels (0 when nothing shows).
  int Width(std::string_view text);
  // The height DrawText returns for `text`: its lines' rooms, each grown to its ink.
  int Height(std::string_view text);

  // `text` broken at Unicode line-break opportunities into as few lines as keep every line's ink
  // within `maxWidth` pixels, the breaks marked with U+2028 (the spaces before a break dropped).
  // A text that fits is returned as it is. `lines` is how many lines DrawText makes of the result,
  // the text's own line breaks counted (CR LF as one), and `width` the right edge of its ink; when it
  // takes more than `maxLines`, or even the best breaking leaves it too wide (a word longer than the
  // width), `fits` is false.
  struct Wrapped {
    std::string text;
    int lines = 1;
    int width = 0;
    bool fits = true;
  };
  Wrapped Wrap(std::string_view text, int maxWidth, int maxLines);

  // The face files the text laid out so far drew from, own face first.
  std::vector<std::string> FaceFiles() const;
  // The characters met so far that no installed face has, each once, in the order they were met.
  const std::vector<char32_t>& Missing() const;

 private:
  std::unique_ptr<Font::Impl> impl_;
};

}  // namespace d3dx
