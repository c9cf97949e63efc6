#include "platform/d3dx/Font.h"

#include <algorithm>
#include <array>
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
void decodeUtf8(std::string_view s, std::u32string& out) {
  for (std::size_t i = 0; i < s.size();) {
    const Utf8Char c = NextUtf8(s, i);
    out.push_back(c.length ? c.cp : kReplacement);
    i += c.length ? c.length : 1;
  }
}

void decodeUtf16(std::u16string_view s, std::u32string& out) {
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
  bool colour = false;
  int left = 0, top = 0;  // bitmap offset from the pen: right, and up from the baseline
  int width = 0, height = 0;
  int ax = 0, ay = 0;  // where the bitmap sits in the atlas
};

constexpr int kAtlasWidth = 512;
constexpr int kAtlasMaxHeight = 4096;
// Glyphs are kept apart by this many clear texels, so linear filtering never reads a neighbour.
constexpr int kPad = 1;
// Glyph indices below this in the own face are looked up in a table, the rest in a map.
constexpr std::uint32_t kDirect = 4096;
// Laid-out texts kept for the next frames: the greeting and the credit lines come back every frame.
constexpr std::size_t kLayoutsKept = 64;

// The atlas holds no room for another glyph.
struct AtlasFull : platform::Error {
  using platform::Error::Error;
};

std::string glyphName(GlyphId id) {
  return "glyph " + std::to_string(id.index) + " of face " + std::to_string(id.face);
}

// A quad of a laid-out text, relative to the text's top-left corner.
struct TextQuad {
  int x0, y0, x1, y1;
  int tx, ty;  // atlas texel of the top-left corner
  bool colour;
};

// A text laid out once: what each later DrawText of it needs.
struct Layout {
  std::vector<TextQuad> quads;
  std::vector<std::array<int, 3>> underlines;  // x0, x1 and the baseline's y of each line with text
  int height = 0;
  int inkRight = 0;
  int maxLineWidth = 0;
};

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
  std::unordered_map<std::uint64_t, Glyph> others;
  std::uint64_t rasterised = 0;
  std::unordered_map<std::u32string, Layout> layouts;

  // Atlas pixels, RGBA: white with the coverage in alpha for a plain glyph, the glyph's own colours
  // for a colour one; a 2 x 2 solid block at (kPad, kPad) serves the underline.
  int atlasHeight = 256;
  std::vector<std::uint8_t> atlas;
  int shelfX = 0, shelfY = 0, shelfH = 0;
  bool atlasDirty = true;
  std::shared_ptr<Texture> texture;

  std::u32string codePoints;
  std::vector<FontVertex> vertices;

  Impl(Device* dev, const GdiFont& f, std::unique_ptr<GlyphSource> glyphs)
      : device(dev), desc(f), source(std::move(glyphs)) {
    const FaceMetrics m = source->Metrics();
    ascent = m.ascent;
    descent = m.descent;
    underlinePos = m.underlinePosition;
    underlineThickness = m.underlineThickness;
    clearAtlas();
  }

  // An empty atlas, every glyph to be rasterised again.
  void clearAtlas() {
    std::fill(direct.begin(), direct.end(), Glyph{});
    others.clear();
    layouts.clear();
    atlasHeight = 256;
    atlasDirty = true;
    atlas.assign(static_cast<std::size_t>(kAtlasWidth) * atlasHeight * 4, 0);
    for (std::size_t i = 0; i < atlas.size(); i += 4) atlas[i] = atlas[i + 1] = atlas[i + 2] = 255;
    for (int y = kPad; y < kPad + 2; ++y)
      for (int x = kPad; x < kPad + 2; ++x)
        atlas[(static_cast<std::size_t>(y) * kAtlasWidth + x) * 4 + 3] = 255;
    shelfX = kPad + 2 + kPad;
    shelfY = kPad;
    shelfH = 2;
  }

  const Glyph& glyph(GlyphId id) {
    Glyph& g = id.face == 0 && id.index < kDirect ? direct[id.index] : others[id.key()];
    if (!g.cached) rasterise(id, g);
    return g;
  }

  void rasterise(GlyphId id, Glyph& g) {
    const char* call = "DrawText";
    const GlyphImage image = source->Rasterise(id);
    ++rasterised;
    g.left = image.left;
    g.top = image.top;
    g.width = image.width;
    g.height = image.height;
    g.colour = image.colour;
    if (g.width > 0 && g.height > 0) {
      if (g.width + 2 * kPad > kAtlasWidth)
        throw platform::Error(call, glyphName(id) + " is wider than the atlas", desc.file);
      const std::size_t texels = static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height);
      if (image.coverage.size() != texels * (g.colour ? 4 : 1))
        throw platform::Error(call, glyphName(id) + " has the wrong number of texels", desc.file);
      // A measure draws nothing: its glyphs take no room in an atlas.
      if (!device) {
        g.cached = true;
        return;
      }
      place(g);
      for (int y = 0; y < g.height; ++y) {
        std::uint8_t* dst = &atlas[(static_cast<std::size_t>(g.ay + y) * kAtlasWidth + g.ax) * 4];
        if (g.colour) {
          const std::uint8_t* row = image.coverage.data() + static_cast<std::ptrdiff_t>(y) * g.width * 4;
          std::copy(row, row + g.width * 4, dst);
        } else {
          const std::uint8_t* row = image.coverage.data() + static_cast<std::ptrdiff_t>(y) * g.width;
          for (int x = 0; x < g.width; ++x) dst[x * 4 + 3] = row[x];
        }
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
        throw AtlasFull("DrawText", "the glyph atlas is full", desc.file);
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

  // Shapes each line of `text`, rasterises the glyphs it needs and places them: a line's room is
  // the face's cell grown to the line's ink, and the lines of a right-to-left text end at the right
  // edge of the widest.
  Layout makeLayout(const std::u32string& text) {
    Layout out;
    std::vector<ShapedLine> lines;
    for (std::size_t start = 0;;) {
      std::size_t end = start;
      while (end < text.size() && !IsLineBreak(text[end])) ++end;
      lines.push_back(source->Shape(std::u32string_view(text).substr(start, end - start)));
      for (const char32_t cp : lines.back().missing)
        if (std::find(missing.begin(), missing.end(), cp) == missing.end()) missing.push_back(cp);
      if (end == text.size()) break;
      start = end + (text[end] == U'\r' && end + 1 < text.size() && text[end + 1] == U'\n' ? 2 : 1);
    }
    for (const ShapedLine& line : lines) out.maxLineWidth = std::max(out.maxLineWidth, line.advance);
    const bool rightToLeft = lines.front().rightToLeft;
    int lineTop = 0;
    for (const ShapedLine& line : lines) {
      int above = ascent, below = descent;
      for (const PlacedGlyph& p : line.glyphs) {
        const Glyph& g = glyph(p.id);
        if (g.width <= 0 || g.height <= 0) continue;
        above = std::max(above, g.top - p.y);
        below = std::max(below, g.height - g.top + p.y);
      }
      const int left = rightToLeft ? out.maxLineWidth - line.advance : 0;
      const int baseline = lineTop + above;
      for (const PlacedGlyph& p : line.glyphs) {
        const Glyph& g = glyph(p.id);
        if (g.width <= 0 || g.height <= 0) continue;
        const int x0 = left + p.x + g.left, y0 = baseline + p.y - g.top;
        out.quads.push_back(TextQuad{x0, y0, x0 + g.width, y0 + g.height, g.ax, g.ay, g.colour});
        out.inkRight = std::max(out.inkRight, x0 + g.width);
      }
      if (line.advance > 0) out.underlines.push_back({left, left + line.advance, baseline});
      lineTop += above + below;
    }
    out.height = text.empty() ? 0 : lineTop;
    return out;
  }

  const Layout& layoutOf(const std::u32string& text) {
    if (const auto it = layouts.find(text); it != layouts.end()) return it->second;
    if (layouts.size() >= kLayoutsKept) layouts.clear();
    try {
      return layouts.emplace(text, makeLayout(text)).first->second;
    } catch (const AtlasFull&) {
      // The glyphs of earlier texts fill it (lines drawn as whole images do, a few dozen of them): the
      // atlas starts again with this text's alone. One text too large even for that stays an error.
      clearAtlas();
      return layouts.emplace(text, makeLayout(text)).first->second;
    }
  }

  int layout(const D3DRECT& rect, D3DCOLOR color) {
    vertices.clear();
    inkRight = 0;
    if (codePoints.empty()) return 0;
    const Layout& l = layoutOf(codePoints);
    // A colour glyph keeps its own colours: white times its texels, at the text's alpha.
    const D3DCOLOR white = (color & 0xFF000000u) | 0x00FFFFFFu;
    for (const TextQuad& q : l.quads)
      quad(rect.x1 + q.x0, rect.y1 + q.y0, rect.x1 + q.x1, rect.y1 + q.y1, q.tx, q.ty, rect,
           q.colour ? white : color, false);
    if (desc.underline)
      for (const auto& [x0, x1, baseline] : l.underlines) {
        const int y = rect.y1 + baseline + underlinePos - underlineThickness / 2;
        quad(rect.x1 + x0, y, rect.x1 + x1, y + underlineThickness, kPad, kPad, rect, color, true);
      }
    inkRight = l.inkRight;
    return l.height;
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

void Font::PreloadText(std::string_view text) {
  impl_->codePoints.clear();
  decodeUtf8(text, impl_->codePoints);
  if (!impl_->codePoints.empty()) impl_->layoutOf(impl_->codePoints);
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

TextMeasure::TextMeasure(const GdiFont& font) : TextMeasure(font, OpenGlyphSource(font)) {}
TextMeasure::TextMeasure(const GdiFont& font, std::unique_ptr<GlyphSource> source)
    : impl_(std::make_unique<Font::Impl>(nullptr, font, std::move(source))) {}
TextMeasure::~TextMeasure() = default;

namespace {

// Wide enough that nothing is clipped: the ink's extent is what is asked for.
constexpr D3DRECT kUnclipped{0, 0, 1 << 24, 1 << 24};

}  // namespace

int TextMeasure::Width(std::string_view text) {
  impl_->codePoints.clear();
  decodeUtf8(text, impl_->codePoints);
  impl_->layout(kUnclipped, 0);
  return impl_->inkRight;
}

int TextMeasure::Height(std::string_view text) {
  impl_->codePoints.clear();
  decodeUtf8(text, impl_->codePoints);
  return impl_->layout(kUnclipped, 0);
}

namespace {

void appendUtf8(std::u32string_view cps, std::string& out) {
  for (const char32_t c : cps) AppendUtf8(c, out);
}

bool isBreakSpace(char32_t c) {
  return c == U' ' || c == 0x3000 || c == U'\t';
}

// The lines DrawText makes of `cps`: a line break ends one, CR LF together ending one.
int lineCount(std::u32string_view cps) {
  int lines = 1;
  for (std::size_t i = 0; i < cps.size(); ++i)
    lines += IsLineBreak(cps[i]) && !(cps[i] == U'\r' && i + 1 < cps.size() && cps[i + 1] == U'\n');
  return lines;
}

}  // namespace

TextMeasure::Wrapped TextMeasure::Wrap(std::string_view text, int maxWidth, int maxLines) {
  Wrapped out;
  out.text = std::string(text);
  out.width = Width(text);
  std::u32string cps;
  decodeUtf8(text, cps);
  if (out.width <= maxWidth) {
    // Lines the text breaks itself count as well.
    out.lines = lineCount(cps);
    out.fits = out.lines <= maxLines;
    return out;
  }
  // Where a new line may start: the positions Unicode's line breaking allows, and those after a
  // line break already in the text, which must start one.
  const std::vector<std::size_t> opportunities = impl_->source->BreakOpportunities(cps);
  auto width = [&](std::size_t from, std::size_t to) {
    std::string line;
    appendUtf8(std::u32string_view(cps).substr(from, to - from), line);
    return Width(line);
  };
  // A line that ends at a break is measured without the spaces before it, which are dropped; the
  // last line keeps its own, and a tab among them draws.
  auto measure = [&](std::size_t from, std::size_t to) {
    while (to > from && isBreakSpace(cps[to - 1])) --to;
    return width(from, to);
  };
  std::vector<std::size_t> starts{0};
  out.width = 0;
  std::size_t from = 0, next = 0;  // next: the first opportunity after `from`
  while (from < cps.size() && out.fits) {
    while (next < opportunities.size() && opportunities[next] <= from) ++next;
    // The longest run of words from `from` that fits: widths grow with the words, so a binary
    // search over the opportunities finds it in a few layouts.
    std::size_t lo = next, hi = opportunities.size();  // candidates: opportunities[lo..hi) and the end
    if (const int rest = width(from, cps.size()); rest <= maxWidth) {
      out.width = std::max(out.width, rest);
      break;
    }
    while (lo < hi) {
      const std::size_t mid = lo + (hi - lo) / 2;
      if (measure(from, opportunities[mid]) <= maxWidth)
        lo = mid + 1;
      else
        hi = mid;
    }
    std::size_t end;
    if (lo == next) {
      // Not even the first word fits: it makes a line of its own, too wide.
      if (next == opportunities.size()) {
        out.fits = false;
        out.width = std::max(out.width, width(from, cps.size()));
        break;
      }
      end = opportunities[next];
      out.fits = false;
    } else {
      end = opportunities[lo - 1];
    }
    out.width = std::max(out.width, measure(from, end));
    from = end;
    starts.push_back(from);
  }
  out.text.clear();
  for (std::size_t i = 0; i < starts.size(); ++i) {
    std::size_t to = i + 1 < starts.size() ? starts[i + 1] : cps.size();
    if (i + 1 < starts.size())
      while (to > starts[i] && isBreakSpace(cps[to - 1])) --to;
    appendUtf8(std::u32string_view(cps).substr(starts[i], to - starts[i]), out.text);
    if (i + 1 < starts.size() && !IsLineBreak(cps[to > 0 ? to - 1 : 0])) appendUtf8(U"\u2028", out.text);
  }
  std::u32string wrapped;
  decodeUtf8(out.text, wrapped);
  out.lines = lineCount(wrapped);
  if (out.lines > maxLines) out.fits = false;
  // The lines of a right-to-left text end where the widest one's pen does, so a shorter line's ink
  // can reach past the ink of each line measured alone: the lines together decide.
  out.width = Width(out.text);
  if (out.width > maxWidth) out.fits = false;
  return out;
}

const std::vector<char32_t>& TextMeasure::Missing() const {
  return impl_->missing;
}

std::vector<std::string> TextMeasure::FaceFiles() const {
  return impl_->source->FaceFiles();
}

PreparedFace PrepareFace(const GdiFont& font, const std::vector<std::string>& texts, bool wrappable) {
  const std::unique_ptr<GlyphSource> source = OpenGlyphSource(font);
  PreparedFace prepared;
  prepared.metrics = source->Metrics();
  std::vector<std::u32string> all;
  for (const std::string& text : texts) {
    std::u32string cps;
    decodeUtf8(text, cps);
    if (wrappable && std::none_of(prepared.breaks.begin(), prepared.breaks.end(),
                                  [&](const auto& b) { return b.first == cps; })) {
      // The whole text first: its pieces are stored as runs of its glyphs where they shape alike.
      all.push_back(cps);
      std::vector<std::size_t> at = source->BreakOpportunities(cps);
      // The pieces Wrap measures and draws: as its lines are cut, a line that ends at a break
      // without the spaces before it, the last one with its own.
      std::vector<std::size_t> starts{0};
      starts.insert(starts.end(), at.begin(), at.end());
      for (const std::size_t from : starts) {
        for (const std::size_t to : at) {
          if (to <= from) continue;
          std::size_t end = to;
          while (end > from && isBreakSpace(cps[end - 1])) --end;
          all.push_back(cps.substr(from, end - from));
        }
        if (from > 0) all.push_back(cps.substr(from));
      }
      prepared.breaks.emplace_back(cps, std::move(at));
    }
    all.push_back(std::move(cps));
  }
  std::unordered_map<std::uint64_t, bool> seen;
  std::unordered_map<std::u32string, bool> known;
  for (const std::u32string& cps : all) {
    for (std::size_t start = 0;;) {
      std::size_t end = start;
      while (end < cps.size() && !IsLineBreak(cps[end])) ++end;
      std::u32string line = cps.substr(start, end - start);
      if (known.emplace(line, true).second) {
        ShapedLine shaped = source->Shape(line);
        for (const PlacedGlyph& p : shaped.glyphs)
          if (seen.emplace(p.id.key(), true).second)
            prepared.glyphs.emplace_back(p.id, source->Rasterise(p.id));
        prepared.lines.emplace_back(std::move(line), std::move(shaped));
      }
      if (end == cps.size()) break;
      start = end + (cps[end] == U'\r' && end + 1 < cps.size() && cps[end + 1] == U'\n' ? 2 : 1);
    }
  }
  return prepared;
}

namespace {

class PreparedSource : public GlyphSource {
 public:
  explicit PreparedSource(PreparedFace face) : face_(std::move(face)) {
    for (auto& [text, line] : face_.lines) lines_[text] = &line;
    for (auto& [id, image] : face_.glyphs) glyphs_[id.key()] = &image;
    for (auto& [text, at] : face_.breaks) breaks_[text] = &at;
  }
  FaceMetrics Metrics() const override { return face_.metrics; }
  ShapedLine Shape(std::u32string_view line) override {
    const auto it = lines_.find(std::u32string(line));
    return it == lines_.end() ? ShapedLine{} : *it->second;
  }
  GlyphImage Rasterise(GlyphId id) override {
    const auto it = glyphs_.find(id.key());
    return it == glyphs_.end() ? GlyphImage{} : *it->second;
  }
  // Those the exporter kept for the text; a text it did not keep has none.
  std::vector<std::size_t> BreakOpportunities(std::u32string_view text) override {
    const auto it = breaks_.find(std::u32string(text));
    return it == breaks_.end() ? std::vector<std::size_t>{} : *it->second;
  }
  std::vector<std::string> FaceFiles() const override { return {}; }

 private:
  PreparedFace face_;
  std::unordered_map<std::u32string, const ShapedLine*> lines_;
  std::unordered_map<std::uint64_t, const GlyphImage*> glyphs_;
  std::unordered_map<std::u32string, const std::vector<std::size_t>*> breaks_;
};

}  // namespace

std::unique_ptr<GlyphSource> PreparedGlyphSource(PreparedFace face) {
  return std::make_unique<PreparedSource>(std::move(face));
}

}  // namespace d3dx
