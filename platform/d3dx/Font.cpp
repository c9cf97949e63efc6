#include "platform/d3dx/Font.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SYNTHESIS_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iterator>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/d3d/Error.h"
#include "platform/d3dx/Utf8.h"

namespace d3dx {

using namespace d3d;

GdiFont StdFont::hFont() const {
  const char* call = "StdFont hFont";
  // 96 DPI; GDI takes the negated point size as the em height, not the cell height.
  const double px = std::nearbyint(static_cast<double>(Size) * 96.0 / 72.0);
  if (!(px >= 1.0 && px <= 4096.0))
    throw platform::Error(
        call, "font size " + std::to_string(Size) + " points is out of range for \"" + Name + "\"");

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
  f.pixelHeight = static_cast<int>(px);
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

std::string lowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

bool MetricCompatible(const std::string& asked, const std::string& family) {
  // The Windows core faces and the free faces drawn to their widths.
  static constexpr const char* kTwins[][3] = {{"arial", "liberation sans", "arimo"},
                                              {"times new roman", "liberation serif", "tinos"},
                                              {"courier new", "liberation mono", "cousine"}};
  const std::string a = lowerAscii(asked), f = lowerAscii(family);
  if (a == f) return true;
  for (const auto& twins : kTwins)
    if (a == twins[0]) return f == twins[1] || f == twins[2];
  // Any other name is a family of its own; what fontconfig puts in its place is not ours to judge.
  return true;
}

std::string SubstitutionWarning(const GdiFont& font) {
  if (font.family.empty() || MetricCompatible(font.name, font.family)) return {};
  return "the font \"" + font.name + "\" is not installed: the text is drawn in \"" + font.family +
         "\", whose letters have other widths (" + font.file +
         "); install fonts-liberation2 for a face that matches \"" + font.name + "\"";
}

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Appends the code points of UTF-8 text; a byte that starts no well-formed sequence becomes U+FFFD.
void decodeUtf8(std::string_view s, std::vector<char32_t>& out) {
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = NextUtf8(s, i);
    out.push_back(c.length ? c.cp : kReplacement);
    i += c.length ? c.length : 1;
  }
}

void decodeUtf16(std::u16string_view s, std::vector<char32_t>& out) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char32_t c = s[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
      out.push_back(0x10000 + ((c - 0xD800) << 10) + (static_cast<char32_t>(s[i + 1]) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      out.push_back(kReplacement);
    } else {
      out.push_back(c);
    }
  }
}

struct Glyph {
  bool cached = false;
  int left = 0, top = 0;  // bitmap offset from the pen: right, and up from the baseline
  int width = 0, height = 0;
  int advance = 0;
  int ax = 0, ay = 0;  // where the bitmap sits in the atlas
};

constexpr int kAtlasWidth = 512;
constexpr int kAtlasMaxHeight = 4096;
// Glyphs are kept apart by this many clear texels, so linear filtering never reads a neighbour.
constexpr int kPad = 1;
// Code points below this (Latin, Greek, Cyrillic) are looked up in a table, the rest in a map.
constexpr char32_t kDirect = 0x500;

std::string codePoint(char32_t cp) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  return buf;
}

std::string ftError(FT_Error e) {
  const char* s = FT_Error_String(e);
  return s ? std::string(s) : "FreeType error " + std::to_string(e);
}

}  // namespace

// A face that draws the characters the font's own face lacks, as fontconfig chose it for them; it is
// sized like the own face and emboldened or slanted where it is lighter or more upright than asked.
struct Fallback {
  FT_Face face = nullptr;
  std::string file;
  int faceIndex = 0;
  bool synthesizeBold = false, synthesizeItalic = false;
};

struct Font::Impl {
  Device* device;  // null: the text is only measured
  GdiFont desc;
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  // Opened on the first character the own face lacks, so a text it covers never pays for them.
  FcConfig* fontconfig = nullptr;
  std::deque<Fallback> fallbacks;
  std::vector<char32_t> missing;
  int inkRight = 0;  // of the last layout, from the rectangle's left edge
  int ascent = 0, descent = 0;
  int underlinePos = 0, underlineThickness = 1;  // below the baseline, in pixels

  std::vector<Glyph> direct = std::vector<Glyph>(kDirect);
  std::unordered_map<char32_t, Glyph> others;
  std::uint64_t rasterised = 0;

  // Atlas pixels, RGBA with white colour and the coverage in alpha; a 2 x 2 solid block at
  // (kPad, kPad) serves the underline.
  int atlasHeight = 256;
  std::vector<std::uint8_t> atlas;
  int shelfX = 0, shelfY = 0, shelfH = 0;
  bool atlasDirty = true;
  std::shared_ptr<Texture> texture;

  std::vector<char32_t> codePoints;
  std::vector<FontVertex> vertices;

  Impl(Device* dev, const GdiFont& f) : device(dev), desc(f) {
    const char* call = "D3DXCreateFont";
    if (f.pixelHeight < 1)
      throw platform::Error(call, "character height " + std::to_string(f.pixelHeight), f.file);
    FT_Error e = FT_Init_FreeType(&library);
    if (e) throw platform::Error(call, "FreeType: " + ftError(e));
    e = FT_New_Face(library, f.file.c_str(), f.faceIndex, &face);
    if (e) {
      FT_Done_FreeType(library);
      throw platform::Error(call, "cannot open the face \"" + f.name + "\": " + ftError(e), f.file);
    }
    e = FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(f.pixelHeight));
    if (e) {
      FT_Done_Face(face);
      FT_Done_FreeType(library);
      throw platform::Error(call, "cannot size the face \"" + f.name + "\": " + ftError(e), f.file);
    }
    FT_Select_Charmap(face, FT_ENCODING_UNICODE);

    // GDI's cell: the Windows ascent and descent of the face, scaled to the em height and rounded.
    const double scale = static_cast<double>(f.pixelHeight) / face->units_per_EM;
    const auto* os2 = static_cast<const TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->version != 0xFFFF && os2->usWinAscent + os2->usWinDescent > 0) {
      ascent = static_cast<int>(std::nearbyint(os2->usWinAscent * scale));
      descent = static_cast<int>(std::nearbyint(os2->usWinDescent * scale));
    } else {
      ascent = static_cast<int>(face->size->metrics.ascender >> 6);
      descent = static_cast<int>(-(face->size->metrics.descender >> 6));
    }
    underlinePos = std::max(1, static_cast<int>(std::nearbyint(-face->underline_position * scale)));
    underlineThickness = std::max(1, static_cast<int>(std::nearbyint(face->underline_thickness * scale)));

    atlas.assign(static_cast<std::size_t>(kAtlasWidth) * atlasHeight * 4, 0);
    for (std::size_t i = 0; i < atlas.size(); i += 4) atlas[i] = atlas[i + 1] = atlas[i + 2] = 255;
    for (int y = kPad; y < kPad + 2; ++y)
      for (int x = kPad; x < kPad + 2; ++x)
        atlas[(static_cast<std::size_t>(y) * kAtlasWidth + x) * 4 + 3] = 255;
    shelfX = kPad + 2 + kPad;
    shelfY = kPad;
    shelfH = 2;
  }

  ~Impl() {
    for (Fallback& f : fallbacks) FT_Done_Face(f.face);
    if (fontconfig) FcConfigDestroy(fontconfig);
    if (face) FT_Done_Face(face);
    if (library) FT_Done_FreeType(library);
  }

  const Glyph& glyph(char32_t cp) {
    Glyph* g = nullptr;
    if (cp < kDirect) {
      g = &direct[cp];
    } else {
      g = &others[cp];
    }
    if (!g->cached) rasterise(cp, *g);
    return *g;
  }

  // The open fallback face for this file, opened and sized on first use; null when FreeType cannot
  // use it at the font's size.
  const Fallback* openFallback(const std::string& file, int index, int weight, int slant) {
    for (const Fallback& f : fallbacks)
      if (f.file == file && f.faceIndex == index) return &f;
    Fallback f;
    f.file = file;
    f.faceIndex = index;
    if (FT_New_Face(library, file.c_str(), index, &f.face)) return nullptr;
    if (!FT_IS_SCALABLE(f.face) || FT_Set_Pixel_Sizes(f.face, 0, static_cast<FT_UInt>(desc.pixelHeight))) {
      FT_Done_Face(f.face);
      return nullptr;
    }
    FT_Select_Charmap(f.face, FT_ENCODING_UNICODE);
    f.synthesizeBold = desc.bold && weight < FC_WEIGHT_DEMIBOLD;
    f.synthesizeItalic = desc.italic && slant == FC_SLANT_ROMAN;
    fallbacks.push_back(f);
    return &fallbacks.back();
  }

  // The face fontconfig ranks first, for the font's family, weight and slant, among those that have
  // `cp`; null when no installed face has it.
  const Fallback* fallback(char32_t cp) {
    if (!fontconfig) {
      fontconfig = FcInitLoadConfigAndFonts();
      if (!fontconfig)
        throw platform::Error("DrawText",
                              "fontconfig could not load its configuration to find " + codePoint(cp));
    }
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(desc.name.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, desc.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, desc.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcCharSet* wanted = FcCharSetCreate();
    FcCharSetAddChar(wanted, cp);
    FcPatternAddCharSet(pattern, FC_CHARSET, wanted);
    FcCharSetDestroy(wanted);
    FcConfigSubstitute(fontconfig, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcFontSet* ranked = FcFontSort(fontconfig, pattern, FcFalse, nullptr, &result);
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

  void rasterise(char32_t cp, Glyph& g) {
    const char* call = "DrawText";
    FT_Face from = face;
    const std::string* file = &desc.file;
    bool bold = desc.synthesizeBold, italic = desc.synthesizeItalic;
    FT_UInt index = FT_Get_Char_Index(face, cp);
    if (index == 0) {
      if (const Fallback* f = fallback(cp)) {
        from = f->face;
        file = &f->file;
        bold = f->synthesizeBold;
        italic = f->synthesizeItalic;
        index = FT_Get_Char_Index(from, cp);
      } else {
        // Glyph 0 of the own face: its missing-glyph box.
        missing.push_back(cp);
      }
    }
    FT_Error e = FT_Load_Glyph(from, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL);
    if (e) throw platform::Error(call, "cannot load glyph " + codePoint(cp) + ": " + ftError(e), *file);
    FT_GlyphSlot slot = from->glyph;
    if (bold) FT_GlyphSlot_Embolden(slot);
    if (italic) FT_GlyphSlot_Oblique(slot);
    e = FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL);
    if (e) throw platform::Error(call, "cannot render glyph " + codePoint(cp) + ": " + ftError(e), *file);
    ++rasterised;

    const FT_Bitmap& bm = slot->bitmap;
    g.left = slot->bitmap_left;
    g.top = slot->bitmap_top;
    g.width = static_cast<int>(bm.width);
    g.height = static_cast<int>(bm.rows);
    g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (g.width > 0 && g.height > 0) {
      if (g.width + 2 * kPad > kAtlasWidth)
        throw platform::Error(call, "glyph " + codePoint(cp) + " is wider than the atlas", desc.file);
      place(g);
      for (int y = 0; y < g.height; ++y) {
        const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
        std::uint8_t* dst = &atlas[(static_cast<std::size_t>(g.ay + y) * kAtlasWidth + g.ax) * 4];
        for (int x = 0; x < g.width; ++x) dst[x * 4 + 3] = row[x];
      }
      atlasDirty = true;
    }
    g.cached = true;
  }

  // Shelf packing: left to right along the current shelf, a new shelf below when the row is full,
  // and twice the height when the atlas is.
  void place(Glyph& g) {
    if (shelfX + g.width + kPad > kAtlasWidth) {
      shelfY += shelfH + kPad;
      shelfX = kPad;
      shelfH = 0;
    }
    while (shelfY + g.height + kPad > atlasHeight) {
      if (atlasHeight * 2 > kAtlasMaxHeight)
        throw platform::Error("DrawText", "the glyph atlas is full", desc.file);
      atlasHeight *= 2;
      const std::size_t old = atlas.size();
      atlas.resize(static_cast<std::size_t>(kAtlasWidth) * atlasHeight * 4, 0);
      for (std::size_t i = old; i < atlas.size(); i += 4) atlas[i] = atlas[i + 1] = atlas[i + 2] = 255;
    }
    g.ax = shelfX;
    g.ay = shelfY;
    shelfX += g.width + kPad;
    shelfH = std::max(shelfH, g.height);
  }

  // One quad of pixels [x0, x1) x [y0, y1) showing the atlas texels from (tx, ty), clipped to the
  // rectangle. Texture coordinates sit on texel centres at pixel centres, so glyphs come out 1:1.
  void quad(int x0, int y0, int x1, int y1, int tx, int ty, const D3DRECT& clip, D3DCOLOR color,
            bool stretch) {
    const int cx0 = std::max(x0, clip.x1), cy0 = std::max(y0, clip.y1);
    const int cx1 = std::min(x1, clip.x2), cy1 = std::min(y1, clip.y2);
    if (cx0 >= cx1 || cy0 >= cy1) return;
    const float w = static_cast<float>(kAtlasWidth), h = static_cast<float>(atlasHeight);
    float u0, v0, u1, v1;
    if (stretch) {
      // The solid block: every pixel samples inside it.
      u0 = u1 = (static_cast<float>(tx) + 1.0f) / w;
      v0 = v1 = (static_cast<float>(ty) + 1.0f) / h;
    } else {
      u0 = (static_cast<float>(tx + (cx0 - x0)) + 0.5f) / w;
      v0 = (static_cast<float>(ty + (cy0 - y0)) + 0.5f) / h;
      u1 = (static_cast<float>(tx + (cx1 - x0)) + 0.5f) / w;
      v1 = (static_cast<float>(ty + (cy1 - y0)) + 0.5f) / h;
    }
    const float fx0 = static_cast<float>(cx0), fy0 = static_cast<float>(cy0);
    const float fx1 = static_cast<float>(cx1), fy1 = static_cast<float>(cy1);
    const FontVertex tl{fx0, fy0, 0.0f, 1.0f, color, u0, v0}, tr{fx1, fy0, 0.0f, 1.0f, color, u1, v0};
    const FontVertex bl{fx0, fy1, 0.0f, 1.0f, color, u0, v1}, br{fx1, fy1, 0.0f, 1.0f, color, u1, v1};
    vertices.insert(vertices.end(), {tl, tr, bl, tr, br, bl});
  }

  int layout(const D3DRECT& rect, D3DCOLOR color) {
    vertices.clear();
    inkRight = 0;
    if (codePoints.empty()) return 0;
    const int lineHeight = ascent + descent;
    int lineTop = rect.y1, pen = rect.x1, lines = 1;
    auto underline = [&] {
      if (desc.underline && pen > rect.x1) {
        const int y = lineTop + ascent + underlinePos - underlineThickness / 2;
        quad(rect.x1, y, pen, y + underlineThickness, kPad, kPad, rect, color, true);
      }
    };
    for (std::size_t i = 0; i < codePoints.size(); ++i) {
      const char32_t cp = codePoints[i];
      if (cp == U'\r' || cp == U'\n') {
        if (cp == U'\r' && i + 1 < codePoints.size() && codePoints[i + 1] == U'\n') ++i;
        underline();
        pen = rect.x1;
        lineTop += lineHeight;
        ++lines;
        continue;
      }
      const Glyph& g = glyph(cp);
      if (g.width > 0 && g.height > 0) {
        const int x0 = pen + g.left, y0 = lineTop + ascent - g.top;
        quad(x0, y0, x0 + g.width, y0 + g.height, g.ax, g.ay, rect, color, false);
        inkRight = std::max(inkRight, x0 + g.width - rect.x1);
      }
      pen += g.advance;
    }
    underline();
    return lines * lineHeight;
  }

  void uploadAtlas() {
    if (!atlasDirty && texture) return;
    Texture::Level level;
    level.width = kAtlasWidth;
    level.height = atlasHeight;
    level.rgba = atlas;
    std::vector<Texture::Level> levels;
    levels.push_back(std::move(level));
    texture = device->CreateTexture(std::move(levels), "glyph atlas of " + desc.file);
    atlasDirty = false;
  }

  // Sets the states the text needs, draws, and puts back every one it changed.
  void draw() {
    Device& device = *Impl::device;
    struct Saved {
      DWORD stage;  // kTextureStageCount: a render state
      DWORD type;
      DWORD value;
    };
    static constexpr struct {
      DWORD stage, type, value;
    } kStates[] = {
        {kTextureStageCount, D3DRS_ZENABLE, D3DZB_FALSE},
        {kTextureStageCount, D3DRS_FILLMODE, 3},  // solid
        {kTextureStageCount, D3DRS_ALPHATESTENABLE, 0},
        {kTextureStageCount, D3DRS_ALPHABLENDENABLE, 1},
        {kTextureStageCount, D3DRS_SRCBLEND, D3DBLEND_SRCALPHA},
        {kTextureStageCount, D3DRS_DESTBLEND, D3DBLEND_INVSRCALPHA},
        {kTextureStageCount, D3DRS_CULLMODE, D3DCULL_NONE},
        {kTextureStageCount, D3DRS_FOGENABLE, 0},
        {0, D3DTSS_COLOROP, D3DTOP_MODULATE},
        {0, D3DTSS_COLORARG1, D3DTA_TEXTURE},
        {0, D3DTSS_COLORARG2, D3DTA_DIFFUSE},
        {0, D3DTSS_ALPHAOP, D3DTOP_MODULATE},
        {0, D3DTSS_ALPHAARG1, D3DTA_TEXTURE},
        {0, D3DTSS_ALPHAARG2, D3DTA_DIFFUSE},
        {0, D3DTSS_TEXCOORDINDEX, 0},
        {0, D3DTSS_TEXTURETRANSFORMFLAGS, 0},
        {0, D3DTSS_ADDRESSU, D3DTADDRESS_CLAMP},
        {0, D3DTSS_ADDRESSV, D3DTADDRESS_CLAMP},
        {0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR},
        {0, D3DTSS_MINFILTER, D3DTEXF_LINEAR},
        {0, D3DTSS_MIPFILTER, D3DTEXF_NONE},
        {1, D3DTSS_COLOROP, D3DTOP_DISABLE},
        {1, D3DTSS_ALPHAOP, D3DTOP_DISABLE},
    };
    Saved saved[std::size(kStates)];
    std::size_t changed = 0;
    const std::shared_ptr<Texture> oldTexture = device.GetTexture(0);
    const DWORD oldFvf = device.GetVertexShader();

    auto restore = [&] {
      for (std::size_t i = changed; i-- > 0;) {
        const Saved& s = saved[i];
        if (s.stage == kTextureStageCount)
          device.SetRenderState(s.type, s.value);
        else
          device.SetTextureStageState(s.stage, s.type, s.value);
      }
      if (device.GetTexture(0) != oldTexture) device.SetTexture(0, oldTexture);
      if (device.GetVertexShader() != oldFvf) device.SetVertexShader(oldFvf);
    };
    try {
      for (const auto& st : kStates) {
        const bool render = st.stage == kTextureStageCount;
        const DWORD old =
            render ? device.GetRenderState(st.type) : device.GetTextureStageState(st.stage, st.type);
        if (old == st.value) continue;
        saved[changed++] = Saved{st.stage, st.type, old};
        if (render)
          device.SetRenderState(st.type, st.value);
        else
          device.SetTextureStageState(st.stage, st.type, st.value);
      }
      if (oldTexture != texture) device.SetTexture(0, texture);
      if (oldFvf != kFontFVF) device.SetVertexShader(kFontFVF);
      device.DrawPrimitiveUP(D3DPT_TRIANGLELIST, static_cast<DWORD>(vertices.size() / 3), vertices.data(),
                             sizeof(FontVertex));
    } catch (...) {
      restore();
      throw;
    }
    restore();
  }

  int drawText(const D3DRECT& rect, DWORD format, D3DCOLOR color) {
    if (format != (DT_TOP | DT_LEFT))
      throw platform::Error("DrawText", "format " + std::to_string(format) + " is not supported", desc.file);
    const int height = layout(rect, color);
    if (vertices.empty()) return height;
    uploadAtlas();
    draw();
    return height;
  }
};

Font::Font(Device& device, const GdiFont& font) : impl_(std::make_unique<Impl>(&device, font)) {}
Font::~Font() = default;

int Font::DrawText(std::string_view text, const D3DRECT& rect, DWORD format, D3DCOLOR color) {
  impl_->codePoints.clear();
  decodeUtf8(text, impl_->codePoints);
  return impl_->drawText(rect, format, color);
}

int Font::DrawText(std::u16string_view text, const D3DRECT& rect, DWORD format, D3DCOLOR color) {
  impl_->codePoints.clear();
  decodeUtf16(text, impl_->codePoints);
  return impl_->drawText(rect, format, color);
}

int Font::Ascent() const {
  return impl_->ascent;
}
int Font::LineHeight() const {
  return impl_->ascent + impl_->descent;
}
std::uint64_t Font::GlyphsRasterised() const {
  return impl_->rasterised;
}
std::shared_ptr<Texture> Font::Atlas() const {
  return impl_->texture;
}

std::unique_ptr<Font> D3DXCreateFont(Device& device, const GdiFont& font) {
  return std::make_unique<Font>(device, font);
}

TextMeasure::TextMeasure(const GdiFont& font) : impl_(std::make_unique<Font::Impl>(nullptr, font)) {}
TextMeasure::~TextMeasure() = default;

int TextMeasure::Width(std::string_view text) {
  impl_->codePoints.clear();
  decodeUtf8(text, impl_->codePoints);
  // Wide enough that nothing is clipped: the ink's extent is what is asked for.
  impl_->layout(D3DRECT{0, 0, 1 << 24, 1 << 24}, 0);
  return impl_->inkRight;
}

const std::vector<char32_t>& TextMeasure::Missing() const {
  return impl_->missing;
}

}  // namespace d3dx
