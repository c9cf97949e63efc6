// Text drawn by the browser's own text stack: the page's text helper (text.js, handed to the runtime
// as its `text` option) shapes and rasterises each line with Canvas 2D, in whatever faces the browser
// has for its characters, so a greeting written on a phone draws as the phone wrote it.
#pragma once

#include <memory>

#include "platform/d3dx/Font.h"

namespace web {

// A GlyphSource whose lines come from the page's text helper at the em height `font` asks for. Its
// line metrics are those of the face prepared for the same description (it must be in the runtime's
// file system), so its lines sit where the prepared face's do. A line comes back as one image cut
// into tiles narrow enough for the glyph atlas: its text coverage (drawn in the text's colour) and
// its colour glyphs (emoji, in their own colours) as separate glyphs at the same pen position. Throws
// naming D3DXCreateFont when the page gave the runtime no text helper.
std::unique_ptr<d3dx::GlyphSource> OpenBrowserText(const d3dx::GdiFont& font);

}  // namespace web
