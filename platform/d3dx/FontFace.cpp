// The desktop's faces: fontconfig resolves the standard font object to a face file, and FreeType
// rasterises its glyphs, taking a character the face lacks from the face fontconfig ranks first
// among those that have it.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <string>

#include "platform/base/Error.h"
#include "platform/d3dx/Font.h"

namespace d3dx {

GdiFont StdFont::hFont() const {
  const char* call = "StdFont hFont";
  const int px = GdiPixelHeight(Size, Name, call);

  // A configuration of our own, so nothing here depends on state another caller left in fontconfig.
  FcConfig* config = FcInitLoadConfigAndFonts();
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
  FcConfigDestroy(config);
  if (!found) throw platform::Error(call, "no installed font matches the face \"" + Name + "\"");
  return f;
}

namespace {

std::string ftError(FT_Error e) {
  const char* s = FT_Error_String(e);
  return s ? std::string(s) : "FreeType error " + std::to_string(e);
}

std::string codePoint(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

// A face that draws the characters the font's own face lacks, as fontconfig chose it for them; it is
// sized like the own face and emboldened or slanted where it is lighter or more upright than asked.
struct Fallback {
  FT_Face face = nullptr;
  std::string file;
  int faceIndex = 0;
  bool synthesizeBold = false, synthesizeItalic = false;
};

class FreeTypeSource : public GlyphSource {
 public:
  explicit FreeTypeSource(const GdiFont& f) : desc_(f) {
    const char* call = "D3DXCreateFont";
    if (f.pixelHeight < 1)
      throw platform::Error(call, "character height " + std::to_string(f.pixelHeight), f.file);
    FT_Error e = FT_Init_FreeType(&library_);
    if (e) throw platform::Error(call, "FreeType: " + ftError(e));
    e = FT_New_Face(library_, f.file.c_str(), f.faceIndex, &face_);
    if (e) {
      FT_Done_FreeType(library_);
      throw platform::Error(call, "cannot open the face \"" + f.name + "\": " + ftError(e), f.file);
    }
    e = FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(f.pixelHeight));
    if (e) {
      FT_Done_Face(face_);
      FT_Done_FreeType(library_);
      throw platform::Error(call, "cannot size the face \"" + f.name + "\": " + ftError(e), f.file);
    }
    FT_Select_Charmap(face_, FT_ENCODING_UNICODE);

    // GDI's cell: the Windows ascent and descent of the face, scaled to the em height and rounded.
    const double scale = static_cast<double>(f.pixelHeight) / face_->units_per_EM;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face_, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
      metrics_.ascent = static_cast<int>(std::nearbyint(os2->usWinAscent * scale));
      metrics_.descent = static_cast<int>(std::nearbyint(os2->usWinDescent * scale));
    } else {
      metrics_.ascent = static_cast<int>(face_->size->metrics.ascender >> 6);
      metrics_.descent = static_cast<int>(-(face_->size->metrics.descender >> 6));
    }
    metrics_.underlinePosition =
        std::max(1, static_cast<int>(std::nearbyint(-face_->underline_position * scale)));
    metrics_.underlineThickness =
        std::max(1, static_cast<int>(std::nearbyint(face_->underline_thickness * scale)));
  }

  ~FreeTypeSource() override {
    for (Fallback& f : fallbacks_) FT_Done_Face(f.face);
    if (fontconfig_) FcConfigDestroy(fontconfig_);
    FT_Done_Face(face_);
    FT_Done_FreeType(library_);
  }
  FreeTypeSource(const FreeTypeSource&) = delete;
  FreeTypeSource& operator=(const FreeTypeSource&) = delete;

  FaceMetrics Metrics() const override { return metrics_; }

  GlyphImage Rasterise(char32_t cp) override {
    const char* call = "DrawText";
    GlyphImage g;
    FT_Face from = face_;
    const std::string* file = &desc_.file;
    bool bold = desc_.synthesizeBold, italic = desc_.synthesizeItalic;
    FT_UInt index = FT_Get_Char_Index(face_, cp);
    if (index == 0) {
      if (const Fallback* f = fallback(cp)) {
        from = f->face;
        file = &f->file;
        bold = f->synthesizeBold;
        italic = f->synthesizeItalic;
        index = FT_Get_Char_Index(from, cp);
      } else {
        // Glyph 0 of the own face: its missing-glyph box.
        g.missing = true;
      }
    }
    FT_Error e = FT_Load_Glyph(from, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL);
    if (e) throw platform::Error(call, "cannot load glyph " + codePoint(cp) + ": " + ftError(e), *file);
    FT_GlyphSlot slot = from->glyph;
    if (bold) FT_GlyphSlot_Embolden(slot);
    if (italic) FT_GlyphSlot_Oblique(slot);
    e = FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL);
    if (e) throw platform::Error(call, "cannot render glyph " + codePoint(cp) + ": " + ftError(e), *file);

    const FT_Bitmap& bm = slot->bitmap;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.height = static_cast<int>(bm.rows);
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    g.coverage.resize(static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height));
    for (int y = 0; y < g.height; ++y) {
      const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
      std::copy(row, row + g.width, g.coverage.begin() + static_cast<std::ptrdiff_t>(y) * g.width);
    }
    return g;
  }

 private:
  // The open fallback face for this file, opened and sized on first use; null when FreeType cannot
  // use it at the font's size.
  const Fallback* openFallback(const std::string& file, int index, int weight, int slant) {
    for (const Fallback& f : fallbacks_)
      if (f.file == file && f.faceIndex == index) return &f;
    Fallback f;
    f.file = file;
    f.faceIndex = index;
    if (FT_New_Face(library_, file.c_str(), index, &f.face)) return nullptr;
    if (!FT_IS_SCALABLE(f.face) || FT_Set_Pixel_Sizes(f.face, 0, static_cast<FT_UInt>(desc_.pixelHeight))) {
      FT_Done_Face(f.face);
      return nullptr;
    }
    FT_Select_Charmap(f.face, FT_ENCODING_UNICODE);
    f.synthesizeBold = desc_.bold && weight < FC_WEIGHT_DEMIBOLD;
    f.synthesizeItalic = desc_.italic && slant == FC_SLANT_ROMAN;
    fallbacks_.push_back(f);
    return &fallbacks_.back();
  }

  // The face fontconfig ranks first, for the font's family, weight and slant, among those that have
  // `cp`; null when no installed face has it.
  const Fallback* fallback(char32_t cp) {
    if (!fontconfig_) {
      fontconfig_ = FcInitLoadConfigAndFonts();
      if (!fontconfig_)
        throw platform::Error("DrawText",
                              "fontconfig could not load its configuration to find " + codePoint(cp));
    }
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(desc_.name.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, desc_.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, desc_.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcCharSet* wanted = FcCharSetCreate();
    FcCharSetAddChar(wanted, cp);
    FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
    FcCharSetDestroy(wanted);
    FcConfigSubstitute(fontconfig_, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcFontSet* ranked = FcFontSort(fontconfig_, pattern, FcFalse, nullptr, &result);
    FcPatternDestroy(pattern);
    const Fallback* chosen = nullptr;
    for (int i = 0; ranked && i < ranked->nfont && !chosen; ++i) {
      FcPattern* font = ranked->fonts[i];
      FcCharSet* has = nullptr;
      FcChar8* file = nullptr;
      if (FcPatternGetCharSet(font, FC_CHARSET, 0, &has) != FcResultMatch || !FcCharSetHasChar(has, cp))
        continue;
      if (FcPatternGetString(font, FC_FILE, 0, &file) != FcResultMatch) continue;
      int index = 0, weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
      FcPatternGetInteger(font, FC_INDEX, 0, &index);
      FcPatternGetInteger(font, FC_WEIGHT, 0, &weight);
      FcPatternGetInteger(font, FC_SLANT, 0, &slant);
      chosen = openFallback(reinterpret_cast<const char*>(file), index, weight, slant);
      if (chosen && FT_Get_Char_Index(chosen->face, cp) == 0) chosen = nullptr;
    }
    if (ranked) FcFontSetDestroy(ranked);
    return chosen;
  }

  GdiFont desc_;
  FT_Library library_ = nullptr;
  FT_Face face_ = nullptr;
  FaceMetrics metrics_;
  // Opened on the first character the own face lacks, so a text it covers never pays for them.
  FcConfig* fontconfig_ = nullptr;
  std::deque<Fallback> fallbacks_;
};

}  // namespace

std::unique_ptr<GlyphSource> OpenGlyphSource(const GdiFont& font) {
  return std::make_unique<FreeTypeSource>(font);
}

}  // namespace d3dx
