#include "platform/d3dx/Font.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3dx/Utf8.h"

namespace d3dx {

using namespace d3d;

int GdiPixelHeight(float points, const std::string& name, const char* call) {
  // 96 DPI; GDI takes the negated point size as the em height, not the cell height.
  const double px = std::nearbyint(static_cast<double>(points) * 96.0 / 72.0);
  if (!(px >= 1.0 && px <= 4096.0))
    throw platform::Error(
        call, "font size " + std::to_string(points) + " points is out of range for \"" + name + "\"");
  return static_cast<int>(px);
}

std::string PreparedFaceName(const GdiFont& font) {
  std::string name;
  for (const char c : font.name) name += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  name += "-" + std::to_string(font.pixelHeight) + "px";
  if (font.bold) name += "-bold";
  if (font.italic) name += "-italic";
  return name + ".glyphs";
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

}  // namespace

struct Font::Impl {
  Device* device;  // null: the text is only measured
  GdiFont desc;
  std::unique_ptr<GlyphSource> source;
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

  Impl(Device* dev, const GdiFont& f, std::unique_ptr<GlyphSource> glyphs)
      : device(dev), desc(f), source(std::move(glyphs)) {
    const FaceMetrics m = source->Metrics();
    ascent = m.ascent;
    descent = m.descent;
    underlinePos = m.underlinePosition;
    underlineThickness = m.underlineThickness;

    atlas.assign(static_cast<std::size_t>(kAtlasWidth) * atlasHeight * 4, 0);
    for (std::size_t i = 0; i < atlas.size(); i += 4) atlas[i] = atlas[i + 1] = atlas[i + 2] = 255;
    for (int y = kPad; y < kPad + 2; ++y)
      for (int x = kPad; x < kPad + 2; ++x)
        atlas[(static_cast<std::size_t>(y) * kAtlasWidth + x) * 4 + 3] = 255;
    shelfX = kPad + 2 + kPad;
    shelfY = kPad;
    shelfH = 2;
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

  void rasterise(char32_t cp, Glyph& g) {
    const char* call = "DrawText";
    const GlyphImage image = source->Rasterise(cp);
    ++rasterised;
    if (image.missing) missing.push_back(cp);
    g.left = image.left;
    g.top = image.top;
    g.width = image.width;
    g.height = image.height;
    g.advance = image.advance;
    if (g.width > 0 && g.height > 0) {
      if (g.width + 2 * kPad > kAtlasWidth)
        throw platform::Error(call, "glyph " + codePoint(cp) + " is wider than the atlas", desc.file);
      place(g);
      for (int y = 0; y < g.height; ++y) {
        const std::uint8_t* row = image.coverage.data() + static_cast<std::ptrdiff_t>(y) * g.width;
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

Font::Font(Device& device, const GdiFont& font) : Font(device, font, OpenGlyphSource(font)) {}
Font::Font(Device& device, const GdiFont& font, std::unique_ptr<GlyphSource> source)
    : impl_(std::make_unique<Impl>(&device, font, std::move(source))) {}
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

TextMeasure::TextMeasure(const GdiFont& font)
    : impl_(std::make_unique<Font::Impl>(nullptr, font, OpenGlyphSource(font))) {}
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

PreparedFace PrepareFace(const GdiFont& font, const std::vector<std::string>& texts) {
  const std::unique_ptr<GlyphSource> source = OpenGlyphSource(font);
  PreparedFace prepared;
  prepared.metrics = source->Metrics();
  std::vector<char32_t> codePoints;
  for (const std::string& text : texts) decodeUtf8(text, codePoints);
  std::vector<char32_t> seen;
  for (const char32_t cp : codePoints) {
    // Line breaks start new lines; DrawText never draws them.
    if (cp == U'\r' || cp == U'\n' || std::find(seen.begin(), seen.end(), cp) != seen.end()) continue;
    seen.push_back(cp);
    prepared.glyphs.emplace_back(cp, source->Rasterise(cp));
  }
  return prepared;
}

namespace {

class PreparedSource : public GlyphSource {
 public:
  explicit PreparedSource(PreparedFace face) : face_(std::move(face)) {
    for (auto& [cp, image] : face_.glyphs) glyphs_[cp] = &image;
  }
  FaceMetrics Metrics() const override { return face_.metrics; }
  GlyphImage Rasterise(char32_t cp) override {
    const auto it = glyphs_.find(cp);
    return it == glyphs_.end() ? GlyphImage{} : *it->second;
  }

 private:
  PreparedFace face_;
  std::unordered_map<char32_t, const GlyphImage*> glyphs_;
};

}  // namespace

std::unique_ptr<GlyphSource> PreparedGlyphSource(PreparedFace face) {
  return std::make_unique<PreparedSource>(std::move(face));
}

}  // namespace d3dx
