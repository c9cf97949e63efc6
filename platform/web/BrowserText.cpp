#include "platform/web/BrowserText.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3dx/Utf8.h"

// The page's text helper (text.js). A line's image comes back in memory the runtime frees: `header`
// gets advance, right-to-left, left, top, width, height and whether a colour part follows; the block
// holds width x height coverage bytes, then width x height RGBA texels when it does.
EM_JS(int, wg_text_available, (), { return Module.text && Module.text.line ? 1 : 0; });
EM_JS(unsigned char*, wg_text_line, (const char* text, int pixels, int bold, int* header), {
  const r = Module.text.line(UTF8ToString(text), pixels, bold != 0);
  const n = r.width * r.height;
  const block = _malloc(Math.max(1, n * (r.colour ? 5 : 1)));
  HEAPU8.set(r.coverage, block);
  if (r.colour) HEAPU8.set(r.colour, block + n);
  HEAP32.set([ r.advance, r.rtl ? 1 : 0, r.left, r.top, r.width, r.height, r.colour ? 1 : 0 ], header >> 2);
  return block;
});
// The code-point positions where a new line may start: a count, then the positions.
EM_JS(int*, wg_text_breaks, (const char* text), {
  const at = Module.text.breaks(UTF8ToString(text));
  const block = _malloc(4 * (at.length + 1));
  HEAP32.set([at.length].concat(at), block >> 2);
  return block;
});

namespace web {

namespace {

// Tiles of a line's image are at most this wide: the glyph atlas is 512 texels wide.
constexpr int kTileWidth = 256;
// The face ids of a line's two parts.
constexpr std::uint32_t kCoverageFace = 0, kColourFace = 1;

class BrowserTextSource : public d3dx::GlyphSource {
 public:
  BrowserTextSource(const d3dx::GdiFont& font, d3dx::FaceMetrics metrics) : font_(font), metrics_(metrics) {}

  d3dx::FaceMetrics Metrics() const override { return metrics_; }

  d3dx::ShapedLine Shape(std::u32string_view line) override {
    const std::u32string key(line);
    if (const auto it = lines_.find(key); it != lines_.end()) return it->second;
    d3dx::ShapedLine shaped;
    if (!line.empty()) shaped = Make(line);
    return lines_.emplace(key, std::move(shaped)).first->second;
  }

  d3dx::GlyphImage Rasterise(d3dx::GlyphId id) override {
    const auto it = images_.find(id.key());
    if (it == images_.end())
      throw platform::Error("DrawText", "glyph " + std::to_string(id.index) + " was never made", font_.file);
    return it->second;
  }

  std::vector<std::size_t> BreakOpportunities(std::u32string_view text) override {
    int* block = wg_text_breaks(Utf8(text).c_str());
    std::vector<std::size_t> at;
    for (int i = 0; i < block[0]; ++i)
      if (block[i + 1] > 0 && static_cast<std::size_t>(block[i + 1]) < text.size())
        at.push_back(static_cast<std::size_t>(block[i + 1]));
    std::free(block);
    std::sort(at.begin(), at.end());
    at.erase(std::unique(at.begin(), at.end()), at.end());
    return at;
  }

  std::vector<std::string> FaceFiles() const override { return {font_.file}; }

 private:
  static std::string Utf8(std::u32string_view text) {
    std::string out;
    for (const char32_t c : text) d3dx::AppendUtf8(c, out);
    return out;
  }

  d3dx::ShapedLine Make(std::u32string_view line) {
    int header[7] = {};
    unsigned char* block = wg_text_line(Utf8(line).c_str(), font_.pixelHeight, font_.bold ? 1 : 0, header);
    const int left = header[2], top = header[3], width = header[4], height = header[5];
    d3dx::ShapedLine shaped;
    shaped.advance = header[0];
    shaped.rightToLeft = header[1] != 0;
    const std::size_t texels = static_cast<std::size_t>(std::max(0, width)) * std::max(0, height);
    for (int x0 = 0; x0 < width; x0 += kTileWidth) {
      const int x1 = std::min(width, x0 + kTileWidth);
      AddTile(shaped, block, width, height, x0, x1, left, top, false);
      if (header[6]) AddTile(shaped, block + texels, width, height, x0, x1, left, top, true);
    }
    std::free(block);
    return shaped;
  }

  // The inked part of columns [x0, x1) of the line's image (coverage bytes, or RGBA texels for the
  // colour part) as a glyph of its own, when any of it is inked.
  void AddTile(d3dx::ShapedLine& shaped, const unsigned char* pixels, int width, int height, int x0, int x1,
               int left, int top, bool colour) {
    const int step = colour ? 4 : 1, alpha = colour ? 3 : 0;
    auto inked = [&](int x, int y) {
      return pixels[(static_cast<std::size_t>(y) * width + x) * step + alpha] != 0;
    };
    int bx0 = x1, bx1 = x0, by0 = height, by1 = 0;
    for (int y = 0; y < height; ++y)
      for (int x = x0; x < x1; ++x)
        if (inked(x, y)) {
          bx0 = std::min(bx0, x);
          bx1 = std::max(bx1, x + 1);
          by0 = std::min(by0, y);
          by1 = std::max(by1, y + 1);
        }
    if (bx0 >= bx1) return;
    d3dx::GlyphImage image;
    image.left = left + bx0;
    image.top = top - by0;
    image.width = bx1 - bx0;
    image.height = by1 - by0;
    image.colour = colour;
    for (int y = by0; y < by1; ++y) {
      const unsigned char* row = pixels + (static_cast<std::size_t>(y) * width + bx0) * step;
      image.coverage.insert(image.coverage.end(), row, row + static_cast<std::ptrdiff_t>(image.width) * step);
    }
    const d3dx::GlyphId id{colour ? kColourFace : kCoverageFace, ++made_};
    images_.emplace(id.key(), std::move(image));
    shaped.glyphs.push_back(d3dx::PlacedGlyph{id, 0, 0});
  }

  d3dx::GdiFont font_;
  d3dx::FaceMetrics metrics_;
  std::map<std::u32string, d3dx::ShapedLine> lines_;
  std::map<std::uint64_t, d3dx::GlyphImage> images_;
  std::uint32_t made_ = 0;
};

}  // namespace

std::unique_ptr<d3dx::GlyphSource> OpenBrowserText(const d3dx::GdiFont& font) {
  if (!wg_text_available())
    throw platform::Error("D3DXCreateFont", "the page gave the runtime no text helper (text.js)", font.file);
  return std::make_unique<BrowserTextSource>(font, d3dx::OpenGlyphSource(font)->Metrics());
}

}  // namespace web
