// The desktop's faces: fontconfig resolves the standard font object to a face file and picks the
// faces for what it lacks; FriBidi puts each line's runs in display order, HarfBuzz shapes each run
// of one direction, script and face, ICU finds the grapheme clusters and the line-break
// opportunities, and FreeType rasterises the glyphs, colour emoji included.
#include <fontconfig/fontconfig.h>
#include <fribidi.h>
#include <ft2build.h>
#include <hb-ft.h>
#include <hb-ot.h>
#include <hb.h>
#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utf16.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/base/Error.h"
#include "platform/d3dx/Font.h"

namespace d3dx {

namespace {

// fontconfig's configuration, loaded once and released at exit: a configuration of our own, so
// nothing here depends on state another caller left in fontconfig's default one. Null when it cannot
// be loaded.
FcConfig* fontConfig() {
  static const std::unique_ptr<FcConfig, void (*)(FcConfig*)> config(FcInitLoadConfigAndFonts(),
                                                                     [](FcConfig* c) {
                                                                       if (c) FcConfigDestroy(c);
                                                                     });
  return config.get();
}

}  // namespace

GdiFont StdFont::hFont() const {
  const char* call = "StdFont hFont";
  const int px = GdiPixelHeight(Size, Name, call);

  FcConfig* config = fontConfig();
  if (!config)
    throw platform::Error(call, "fontconfig could not load its configuration for \"" + Name + "\"");
  FcPattern* pattern = FcPatternCreate();
  FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(Name.c_str()));
  FcPatternAddInteger(pattern, FC_WEIGHT, Bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pattern, FC_SLANT, Italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcPatternAddBool(pattern, FC_SCALABLE, FcTrue);
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcPatternDestroy(pattern);

  GdiFont f;
  f.name = Name;
  f.pixelHeight = px;
  f.bold = Bold;
  f.italic = Italic;
  f.underline = Underline;
  FcChar8* file = nullptr;
  const bool found =
      match && result == FcResultMatch && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch;
  if (found) {
    f.file = reinterpret_cast<const char*>(file);
    FcChar8* family = nullptr;
    if (FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch)
      f.family = reinterpret_cast<const char*>(family);
    int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
    if (FcPatternGetInteger(match, FC_INDEX, 0, &index) == FcResultMatch) f.faceIndex = index;
    FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
    FcPatternGetInteger(match, FC_SLANT, 0, &slant);
    f.synthesizeBold = Bold && weight < FC_WEIGHT_DEMIBOLD;
    f.synthesizeItalic = Italic && slant == FC_SLANT_ROMAN;
  }
  if (match) FcPatternDestroy(match);
  if (!found) throw platform::Error(call, "no installed font matches the face \"" + Name + "\"");
  return f;
}

namespace {

std::string ftError(FT_Error e) {
  const char* s = FT_Error_String(e);
  return s ? std::string(s) : "FreeType error " + std::to_string(e);
}

// A face the text draws from: the own face (id 0) or a fallback fontconfig chose; sized like the
// own face, and emboldened or slanted where it is lighter or more upright than asked. A colour
// bitmap face (Noto Color Emoji) has fixed strikes: its glyphs are scaled to the font's em.
struct Face {
  FT_Face face = nullptr;
  hb_font_t* shaper = nullptr;
  std::string file;
  int faceIndex = 0;
  bool synthesizeBold = false, synthesizeItalic = false;
  bool colour = false;  // has colour glyphs
  double bitmapScale = 0;  // > 0: a bitmap face, its strike scaled by this to the em
};

constexpr FT_Int32 kLoadFlags = FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL;

bool isIgnorable(char32_t cp) {
  return u_hasBinaryProperty(static_cast<UChar32>(cp), UCHAR_DEFAULT_IGNORABLE_CODE_POINT) ||
         IsLineBreak(cp);
}

bool isCommonScript(hb_script_t s) {
  return s == HB_SCRIPT_COMMON || s == HB_SCRIPT_INHERITED || s == HB_SCRIPT_UNKNOWN;
}

// Scripts GDI draws glyph by glyph, with neither kerning nor ligatures: in the own face the shaper
// does the same for them, so such text keeps the places it always had.
bool isPlainScript(hb_script_t s) {
  return isCommonScript(s) || s == HB_SCRIPT_LATIN || s == HB_SCRIPT_CYRILLIC || s == HB_SCRIPT_GREEK;
}

// A grapheme cluster of a line: the characters [start, end), the face that draws them, its script
// and its embedding level.
struct Cluster {
  std::size_t start = 0, end = 0;
  int face = 0;
  hb_script_t script = HB_SCRIPT_COMMON;
  FriBidiLevel level = 0;
};

struct Run {
  std::size_t start = 0, end = 0;
  int face = 0;
  hb_script_t script = HB_SCRIPT_COMMON;
  FriBidiLevel level = 0;
  std::vector<PlacedGlyph> glyphs;  // pen positions in 26.6 from the run's start
  hb_position_t advance = 0;
};

class FreeTypeSource : public GlyphSource {
 public:
  explicit FreeTypeSource(const GdiFont& f) : desc_(f) {
    const char* call = "D3DXCreateFont";
    if (f.pixelHeight < 1)
      throw platform::Error(call, "character height " + std::to_string(f.pixelHeight), f.file);
    FT_Error e = FT_Init_FreeType(&library_);
    if (e) throw platform::Error(call, "FreeType: " + ftError(e));
    Face own;
    own.file = f.file;
    own.faceIndex = f.faceIndex;
    own.synthesizeBold = f.synthesizeBold;
    own.synthesizeItalic = f.synthesizeItalic;
    e = FT_New_Face(library_, f.file.c_str(), f.faceIndex, &own.face);
    if (e) {
      FT_Done_FreeType(library_);
      throw platform::Error(call, "cannot open the face \"" + f.name + "\": " + ftError(e), f.file);
    }
    e = FT_Set_Pixel_Sizes(own.face, 0, static_cast<FT_UInt>(f.pixelHeight));
    if (e) {
      FT_Done_Face(own.face);
      FT_Done_FreeType(library_);
      throw platform::Error(call, "cannot size the face \"" + f.name + "\": " + ftError(e), f.file);
    }
    FT_Select_Charmap(own.face, FT_ENCODING_UNICODE);
    own.colour = FT_HAS_COLOR(own.face);
    own.shaper = makeShaper(own);
    faces_.push_back(own);
    FT_Face face = own.face;

    // GDI's cell: the Windows ascent and descent of the face, scaled to the em height and rounded.
    const double scale = static_cast<double>(f.pixelHeight) / face->units_per_EM;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
      metrics_.ascent = static_cast<int>(std::nearbyint(os2->usWinAscent * scale));
      metrics_.descent = static_cast<int>(std::nearbyint(os2->usWinDescent * scale));
    } else {
      metrics_.ascent = static_cast<int>(face->size->metrics.ascender >> 6);
      metrics_.descent = static_cast<int>(-(face->size->metrics.descender >> 6));
    }
    metrics_.underlinePosition =
        std::max(1, static_cast<int>(std::nearbyint(-face->underline_position * scale)));
    metrics_.underlineThickness =
        std::max(1, static_cast<int>(std::nearbyint(face->underline_thickness * scale)));
    buffer_ = hb_buffer_create();
  }

  ~FreeTypeSource() override {
    hb_buffer_destroy(buffer_);
    for (Face& f : faces_) {
      hb_font_destroy(f.shaper);
      FT_Done_Face(f.face);
    }
    if (sorted_) FcFontSetDestroy(sorted_);
    if (lineBreaks_) ubrk_close(lineBreaks_);
    if (graphemes_) ubrk_close(graphemes_);
    FT_Done_FreeType(library_);
  }
  FreeTypeSource(const FreeTypeSource&) = delete;
  FreeTypeSource& operator=(const FreeTypeSource&) = delete;

  FaceMetrics Metrics() const override { return metrics_; }

  std::vector<std::string> FaceFiles() const override {
    std::vector<std::string> files;
    for (const Face& f : faces_) files.push_back(f.file);
    return files;
  }

  ShapedLine Shape(std::u32string_view line) override {
    ShapedLine out;
    if (line.empty()) return out;
    const std::size_t n = line.size();
    const auto* chars = reinterpret_cast<const FriBidiChar*>(line.data());
    static_assert(sizeof(FriBidiChar) == sizeof(char32_t));

    // Embedding levels: the paragraph's direction is that of its first strong character.
    std::vector<FriBidiCharType> types(n);
    std::vector<FriBidiBracketType> brackets(n);
    std::vector<FriBidiLevel> levels(n);
    fribidi_get_bidi_types(chars, static_cast<FriBidiStrIndex>(n), types.data());
    fribidi_get_bracket_types(chars, static_cast<FriBidiStrIndex>(n), types.data(), brackets.data());
    FriBidiParType base = FRIBIDI_PAR_ON;
    if (!fribidi_get_par_embedding_levels_ex(types.data(), brackets.data(), static_cast<FriBidiStrIndex>(n),
                                             &base, levels.data()))
      throw platform::Error("DrawText", "FriBidi could not resolve the line's directions", desc_.file);
    out.rightToLeft = FRIBIDI_IS_RTL(base);

    std::vector<Cluster> clusters = graphemeClusters(line);
    for (Cluster& c : clusters) c.level = levels[c.start];
    assignScripts(line, clusters);
    assignFaces(line, clusters, out.missing);

    // Runs of one level, script and face, each shaped as a whole.
    std::vector<Run> runs;
    for (const Cluster& c : clusters) {
      if (!runs.empty() && runs.back().level == c.level && runs.back().face == c.face &&
          runs.back().script == c.script) {
        runs.back().end = c.end;
        continue;
      }
      Run r;
      r.start = c.start;
      r.end = c.end;
      r.face = c.face;
      r.script = c.script;
      r.level = c.level;
      runs.push_back(r);
    }
    for (Run& r : runs) shape(line, r);

    // Display order: from the highest level down to the lowest odd one, every sequence of runs at
    // that level or above is reversed.
    int highest = 0, lowestOdd = 256;
    for (const Run& r : runs) {
      highest = std::max(highest, static_cast<int>(r.level));
      if (r.level % 2) lowestOdd = std::min(lowestOdd, static_cast<int>(r.level));
    }
    for (int level = highest; level >= lowestOdd && level > 0; --level)
      for (std::size_t i = 0; i < runs.size();) {
        if (runs[i].level < level) {
          ++i;
          continue;
        }
        std::size_t j = i;
        while (j < runs.size() && runs[j].level >= level) ++j;
        std::reverse(runs.begin() + static_cast<std::ptrdiff_t>(i), runs.begin() + static_cast<std::ptrdiff_t>(j));
        i = j;
      }

    hb_position_t pen = 0;
    for (const Run& r : runs) {
      for (PlacedGlyph g : r.glyphs) {
        g.x = (pen + g.x + 32) >> 6;
        g.y = -((g.y + 32) >> 6);
        out.glyphs.push_back(g);
      }
      pen += r.advance;
    }
    out.advance = (pen + 32) >> 6;
    return out;
  }

  std::vector<std::size_t> BreakOpportunities(std::u32string_view text) override {
    std::vector<std::size_t> out;
    if (text.empty()) return out;
    std::vector<std::size_t> index;  // UTF-16 unit -> character
    toUtf16(text, index);
    UErrorCode status = U_ZERO_ERROR;
    if (!lineBreaks_) lineBreaks_ = ubrk_open(UBRK_LINE, "", nullptr, 0, &status);
    if (U_FAILURE(status) || !lineBreaks_)
      throw platform::Error("DrawText", std::string("ICU cannot break lines: ") + u_errorName(status));
    ubrk_setText(lineBreaks_, utf16_.data(), static_cast<int32_t>(utf16_.size()), &status);
    if (U_FAILURE(status))
      throw platform::Error("DrawText", std::string("ICU cannot break lines: ") + u_errorName(status));
    for (int32_t b = ubrk_first(lineBreaks_); b != UBRK_DONE; b = ubrk_next(lineBreaks_))
      if (b > 0 && static_cast<std::size_t>(b) < utf16_.size()) out.push_back(index[static_cast<std::size_t>(b)]);
    return out;
  }

  GlyphImage Rasterise(GlyphId id) override {
    const char* call = "DrawText";
    GlyphImage g;
    if (id.face >= faces_.size()) throw platform::Error(call, "no face " + std::to_string(id.face), desc_.file);
    const Face& f = faces_[id.face];
    const std::string what = "glyph " + std::to_string(id.index);
    FT_Error e = FT_Load_Glyph(f.face, id.index, f.colour ? kLoadFlags | FT_LOAD_COLOR : kLoadFlags);
    if (e) throw platform::Error(call, "cannot load " + what + ": " + ftError(e), f.file);
    FT_GlyphSlot slot = f.face->glyph;
    if (slot->format == FT_GLYPH_FORMAT_OUTLINE) {
      if (f.synthesizeBold) FT_GlyphSlot_Embolden(slot);
      if (f.synthesizeItalic) FT_GlyphSlot_Oblique(slot);
    }
    e = FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL);
    if (e) throw platform::Error(call, "cannot render " + what + ": " + ftError(e), f.file);

    const FT_Bitmap& bm = slot->bitmap;
    if (bm.pixel_mode == FT_PIXEL_MODE_BGRA) return colourGlyph(slot, f.bitmapScale > 0 ? f.bitmapScale : 1.0);
    if (bm.pixel_mode != FT_PIXEL_MODE_GRAY && bm.pixel_mode != FT_PIXEL_MODE_MONO)
      throw platform::Error(call, "cannot use the pixel mode " + std::to_string(bm.pixel_mode) + " of " + what,
                            f.file);
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.height = static_cast<int>(bm.rows);
    g.coverage.resize(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height));
    for (int y = 0; y < g.height; ++y) {
      const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
      std::uint8_t* out = g.coverage.data() + static_cast<std::ptrdiff_t>(y) * g.width;
      if (bm.pixel_mode == FT_PIXEL_MODE_GRAY)
        std::copy(row, row + g.width, out);
      else  // one bit a pixel, the highest first
        for (int x = 0; x < g.width; ++x) out[x] = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 255 : 0;
    }
    return g;
  }

 private:
  // A colour bitmap (premultiplied BGRA) scaled by `scale` with a box filter, as straight RGBA.
  static GlyphImage colourGlyph(FT_GlyphSlot slot, double scale) {
    const FT_Bitmap& bm = slot->bitmap;
    const int sw = static_cast<int>(bm.width), sh = static_cast<int>(bm.rows);
    GlyphImage g;
    g.colour = true;
    g.left = static_cast<int>(std::nearbyint(slot->bitmap_left * scale));
    g.top = static_cast<int>(std::nearbyint(slot->bitmap_top * scale));
    g.width = sw > 0 ? std::max(1, static_cast<int>(std::nearbyint(sw * scale))) : 0;
    g.height = sh > 0 ? std::max(1, static_cast<int>(std::nearbyint(sh * scale))) : 0;
    g.coverage.assign(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height) * 4, 0);
    for (int y = 0; y < g.height; ++y) {
      const int y0 = y * sh / g.height, y1 = std::max(y0 + 1, (y + 1) * sh / g.height);
      for (int x = 0; x < g.width; ++x) {
        const int x0 = x * sw / g.width, x1 = std::max(x0 + 1, (x + 1) * sw / g.width);
        double b = 0, gr = 0, r = 0, a = 0;
        for (int sy = y0; sy < y1; ++sy)
          for (int sx = x0; sx < x1; ++sx) {
            const unsigned char* p = bm.buffer + static_cast<std::ptrdiff_t>(sy) * bm.pitch + sx * 4;
            b += p[0], gr += p[1], r += p[2], a += p[3];
          }
        std::uint8_t* out = &g.coverage[(static_cast<std::size_t>(y) * g.width + x) * 4];
        if (a <= 0) continue;
        const double count = static_cast<double>((y1 - y0) * (x1 - x0));
        out[0] = static_cast<std::uint8_t>(std::min(255.0, std::nearbyint(r * 255.0 / a)));
        out[1] = static_cast<std::uint8_t>(std::min(255.0, std::nearbyint(gr * 255.0 / a)));
        out[2] = static_cast<std::uint8_t>(std::min(255.0, std::nearbyint(b * 255.0 / a)));
        out[3] = static_cast<std::uint8_t>(std::min(255.0, std::nearbyint(a / count)));
      }
    }
    return g;
  }

  hb_font_t* makeShaper(const Face& f) const {
    hb_font_t* font;
    if (f.bitmapScale > 0) {
      // HarfBuzz's own metrics, scaled to the em: FreeType's would be the strike's.
      hb_face_t* face = hb_ft_face_create_referenced(f.face);
      font = hb_font_create(face);
      hb_face_destroy(face);
      hb_ot_font_set_funcs(font);
      hb_font_set_scale(font, desc_.pixelHeight * 64, desc_.pixelHeight * 64);
    } else {
      // FreeType's hinted advances: the pen moves as the rasterised glyphs are drawn.
      font = hb_ft_font_create_referenced(f.face);
      hb_ft_font_set_load_flags(font, kLoadFlags);
    }
    return font;
  }

  // UTF-16 of `text` in utf16_, and for each unit (and one past the end) the character it belongs to.
  void toUtf16(std::u32string_view text, std::vector<std::size_t>& index) {
    utf16_.clear();
    index.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
      const char32_t c = text[i] > 0x10FFFF || (text[i] >= 0xD800 && text[i] <= 0xDFFF) ? 0xFFFD : text[i];
      if (c >= 0x10000) {
        utf16_.push_back(static_cast<UChar>(U16_LEAD(c)));
        utf16_.push_back(static_cast<UChar>(U16_TRAIL(c)));
        index.push_back(i);
        index.push_back(i);
      } else {
        utf16_.push_back(static_cast<UChar>(c));
        index.push_back(i);
      }
    }
    index.push_back(text.size());
  }

  std::vector<Cluster> graphemeClusters(std::u32string_view line) {
    std::vector<std::size_t> index;
    toUtf16(line, index);
    UErrorCode status = U_ZERO_ERROR;
    if (!graphemes_) graphemes_ = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    if (!U_FAILURE(status)) ubrk_setText(graphemes_, utf16_.data(), static_cast<int32_t>(utf16_.size()), &status);
    if (U_FAILURE(status) || !graphemes_)
      throw platform::Error("DrawText", std::string("ICU cannot find the characters: ") + u_errorName(status));
    std::vector<Cluster> clusters;
    std::size_t start = 0;
    for (int32_t b = ubrk_next(graphemes_); b != UBRK_DONE; b = ubrk_next(graphemes_)) {
      const std::size_t end = index[static_cast<std::size_t>(b)];
      if (end <= start) continue;
      Cluster c;
      c.start = start;
      c.end = end;
      clusters.push_back(c);
      start = end;
    }
    if (start < line.size()) clusters.push_back(Cluster{start, line.size()});
    return clusters;
  }

  // A cluster of a script-neutral character (a space, a digit, punctuation) takes the script of the
  // one before it, or at the line's start that of the first one after it that has a script.
  static void assignScripts(std::u32string_view line, std::vector<Cluster>& clusters) {
    hb_unicode_funcs_t* unicode = hb_unicode_funcs_get_default();
    hb_script_t current = HB_SCRIPT_COMMON;
    for (const Cluster& c : clusters) {
      const hb_script_t s = hb_unicode_script(unicode, line[c.start]);
      if (!isCommonScript(s)) {
        current = s;
        break;
      }
    }
    for (Cluster& c : clusters) {
      const hb_script_t s = hb_unicode_script(unicode, line[c.start]);
      if (!isCommonScript(s)) current = s;
      c.script = current;
    }
  }

  bool hasAll(const Face& f, std::u32string_view line, const Cluster& c) const {
    for (std::size_t i = c.start; i < c.end; ++i)
      if (!isIgnorable(line[i]) && FT_Get_Char_Index(f.face, line[i]) == 0) return false;
    return true;
  }

  static bool wantsColour(std::u32string_view line, const Cluster& c) {
    bool colour = false;
    for (std::size_t i = c.start; i < c.end; ++i) {
      if (line[i] == 0xFE0E) return false;  // text presentation asked for
      if (line[i] == 0xFE0F || u_hasBinaryProperty(static_cast<UChar32>(line[i]), UCHAR_EMOJI_PRESENTATION))
        colour = true;
    }
    return colour;
  }

  // The face of each cluster: a script-neutral one stays in the face before it where that face has
  // it, so a run is not cut at every space; otherwise the own face, the face before, or the first
  // face in fontconfig's order for the font that has every character of the cluster. An emoji takes
  // a colour face where one has it. A cluster no face has is the own face's missing-glyph box.
  void assignFaces(std::u32string_view line, std::vector<Cluster>& clusters, std::vector<char32_t>& missing) {
    int previous = 0;
    for (Cluster& c : clusters) {
      bool visible = false;
      for (std::size_t i = c.start; i < c.end; ++i) visible = visible || !isIgnorable(line[i]);
      const bool colour = visible && wantsColour(line, c);
      const Face& prev = faces_[static_cast<std::size_t>(previous)];
      if (!visible) {
        c.face = previous;
      } else if (!colour && !prev.colour &&
                 isCommonScript(hb_unicode_script(hb_unicode_funcs_get_default(), line[c.start])) &&
                 hasAll(prev, line, c)) {
        c.face = previous;
      } else if (!colour && hasAll(faces_[0], line, c)) {
        c.face = 0;
      } else if (prev.colour == colour && hasAll(prev, line, c)) {
        c.face = previous;
      } else {
        const int found = fallback(line, c, colour);
        if (found < 0) {
          c.face = 0;
          for (std::size_t i = c.start; i < c.end; ++i)
            if (!isIgnorable(line[i]) && FT_Get_Char_Index(faces_[0].face, line[i]) == 0 &&
                std::find(missing.begin(), missing.end(), line[i]) == missing.end())
              missing.push_back(line[i]);
        } else {
          c.face = found;
        }
      }
      previous = c.face;
    }
  }

  // The first face in fontconfig's order for the font's family, weight and slant that has every
  // visible character of the cluster (a colour one first when `colour`); -1 when none has.
  int fallback(std::u32string_view line, const Cluster& c, bool colour) {
    std::u32string key;
    for (std::size_t i = c.start; i < c.end; ++i)
      if (!isIgnorable(line[i])) key += line[i];
    key += colour ? U'c' : U'm';
    if (const auto it = chosen_.find(key); it != chosen_.end()) return it->second;
    int found = -1;
    const FcFontSet* sorted = sortedFonts();
    for (int pass = colour ? 0 : 1; pass < 2 && found < 0; ++pass)
      for (int i = 0; sorted && i < sorted->nfont && found < 0; ++i) {
        FcPattern* font = sorted->fonts[i];
        FcBool isColour = FcFalse;
        if (pass == 0 && (FcPatternGetBool(font, FC_COLOR, 0, &isColour) != FcResultMatch || !isColour)) continue;
        FcCharSet* has = nullptr;
        if (FcPatternGetCharSet(font, FC_CHARSET, 0, &has) != FcResultMatch) continue;
        bool all = true;
        for (std::size_t k = 0; k + 1 < key.size() && all; ++k) all = FcCharSetHasChar(has, key[k]);
        if (!all) continue;
        FcChar8* file = nullptr;
        if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
        int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
        FcPatternGetInteger(font, FC_INDEX, 0, &index);
        FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(font, FC_SLANT, 0, &slant);
        const int id = openFallback(reinterpret_cast<const char*>(file), index, weight, slant);
        if (id >= 0 && hasAll(faces_[static_cast<std::size_t>(id)], line, c)) found = id;
      }
    chosen_[key] = found;
    return found;
  }

  // Every installed face in fontconfig's order for the font's family, weight and slant, sorted once
  // on the first character the own face lacks, so a text it covers never pays for it.
  const FcFontSet* sortedFonts() {
    if (sortTried_) return sorted_;
    sortTried_ = true;
    FcConfig* config = fontConfig();
    if (!config) throw platform::Error("DrawText", "fontconfig could not load its configuration", desc_.file);
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(desc_.name.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, desc_.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, desc_.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    sorted_ = FcFontSort(config, pattern, FcFalse, nullptr, &result);
    FcPatternDestroy(pattern);
    return sorted_;
  }

  // The id of the open face for this file, opened and sized on first use; -1 when FreeType cannot
  // use it at the font's size.
  int openFallback(const std::string& file, int index, int weight, int slant) {
    for (std::size_t i = 0; i < faces_.size(); ++i)
      if (faces_[i].file == file && faces_[i].faceIndex == index) return static_cast<int>(i);
    Face f;
    f.file = file;
    f.faceIndex = index;
    if (FT_New_Face(library_, file.c_str(), index, &f.face)) return -1;
    f.colour = FT_HAS_COLOR(f.face);
    bool sized = false;
    if (FT_IS_SCALABLE(f.face)) {
      sized = !FT_Set_Pixel_Sizes(f.face, 0, static_cast<FT_UInt>(desc_.pixelHeight));
    } else if (f.colour && f.face->num_fixed_sizes > 0) {
      // The strike nearest above the em (or the largest), scaled down to it when drawn.
      int best = 0;
      for (int i = 1; i < f.face->num_fixed_sizes; ++i) {
        const FT_Pos ppem = f.face->available_sizes[i].y_ppem, bestPpem = f.face->available_sizes[best].y_ppem;
        const FT_Pos want = static_cast<FT_Pos>(desc_.pixelHeight) << 6;
        if ((bestPpem < want && ppem > bestPpem) || (ppem >= want && ppem < bestPpem)) best = i;
      }
      sized = !FT_Select_Size(f.face, best);
      const double ppem = static_cast<double>(f.face->available_sizes[best].y_ppem) / 64.0;
      f.bitmapScale = ppem > 0 ? desc_.pixelHeight / ppem : 0;
      sized = sized && f.bitmapScale > 0;
    }
    if (!sized) {
      FT_Done_Face(f.face);
      return -1;
    }
    FT_Select_Charmap(f.face, FT_ENCODING_UNICODE);
    f.synthesizeBold = desc_.bold && weight < FC_WEIGHT_DEMIBOLD && f.bitmapScale == 0;
    f.synthesizeItalic = desc_.italic && slant == FC_SLANT_ROMAN && f.bitmapScale == 0;
    f.shaper = makeShaper(f);
    faces_.push_back(f);
    return static_cast<int>(faces_.size() - 1);
  }

  // Shapes the run's characters, with the rest of the line as context, into pen positions in 26.6.
  void shape(std::u32string_view line, Run& r) {
    const Face& f = faces_[static_cast<std::size_t>(r.face)];
    hb_buffer_clear_contents(buffer_);
    hb_buffer_add_utf32(buffer_, reinterpret_cast<const std::uint32_t*>(line.data()), static_cast<int>(line.size()),
                        static_cast<unsigned>(r.start), static_cast<int>(r.end - r.start));
    hb_buffer_set_direction(buffer_, r.level % 2 ? HB_DIRECTION_RTL : HB_DIRECTION_LTR);
    hb_buffer_set_script(buffer_, r.script);
    hb_buffer_set_language(buffer_, hb_language_get_default());
    hb_buffer_set_flags(buffer_, static_cast<hb_buffer_flags_t>((r.start == 0 ? HB_BUFFER_FLAG_BOT : 0) |
                                                                 (r.end == line.size() ? HB_BUFFER_FLAG_EOT : 0)));
    static const hb_feature_t kPlain[] = {{HB_TAG('k', 'e', 'r', 'n'), 0, 0, ~0u},
                                          {HB_TAG('l', 'i', 'g', 'a'), 0, 0, ~0u},
                                          {HB_TAG('c', 'l', 'i', 'g'), 0, 0, ~0u}};
    const bool plain = r.face == 0 && isPlainScript(r.script);
    hb_shape(f.shaper, buffer_, plain ? kPlain : nullptr, plain ? 3 : 0);

    unsigned count = 0;
    const hb_glyph_info_t* info = hb_buffer_get_glyph_infos(buffer_, &count);
    const hb_glyph_position_t* pos = hb_buffer_get_glyph_positions(buffer_, &count);
    // A synthesised bold glyph is wider by FreeType's emboldening strength.
    hb_position_t bolder = 0;
    if (f.synthesizeBold)
      bolder = static_cast<hb_position_t>(
          (FT_MulFix(f.face->units_per_EM, f.face->size->metrics.y_scale) / 24 + 32) & ~63);
    hb_position_t pen = 0;
    for (unsigned i = 0; i < count; ++i) {
      PlacedGlyph g;
      g.id = GlyphId{static_cast<std::uint32_t>(r.face), info[i].codepoint};
      g.x = pen + pos[i].x_offset;
      g.y = pos[i].y_offset;
      r.glyphs.push_back(g);
      pen += pos[i].x_advance + (pos[i].x_advance ? bolder : 0);
    }
    r.advance = pen;
  }

  GdiFont desc_;
  FT_Library library_ = nullptr;
  FaceMetrics metrics_;
  std::deque<Face> faces_;
  hb_buffer_t* buffer_ = nullptr;
  bool sortTried_ = false;
  FcFontSet* sorted_ = nullptr;
  std::map<std::u32string, int> chosen_;
  UBreakIterator* graphemes_ = nullptr;
  UBreakIterator* lineBreaks_ = nullptr;
  std::vector<UChar> utf16_;
};

}  // namespace

std::unique_ptr<GlyphSource> OpenGlyphSource(const GdiFont& font) {
  return std::make_unique<FreeTypeSource>(font);
}

}  // namespace d3dx
