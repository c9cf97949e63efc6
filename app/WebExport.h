// Sending the greeting as a web page: a folder that any static web server can serve, holding the
// page, the scene compiled to WebAssembly, and what the browser cannot make itself, made here by the
// desktop's own code: decoded textures with their mip chains, the parsed model, the glyphs of the
// texts, and the tune rendered through the synthesizer and reverb the video uses.
#pragma once

#include <iosfwd>
#include <iterator>
#include <string>

#include "app/Card.h"

namespace app {

// The file that marks a folder as an export of the greeting, relative to the folder.
constexpr const char* kWebManifest = "greeting/manifest.json";
// The card's texts (WriteCardTexts) in the page's application folder.
constexpr const char* kWebCardTexts = "card.txt";

// The text sizes the page's faces are prepared at, as em heights in pixels. The browser has no
// rasteriser, so a frame of another shape cannot have its face made at Framing::textPixels exactly:
// it draws at the next prepared size up (WebTextPixels), which keeps the greeting's capitals at
// least 2.5 % of the frame's height and never more than about a fifth over it (the sizes are about
// 20 % apart). The picture's own 24 is one of them. The page fetches only the face its canvas needs.
inline constexpr int kWebTextPixels[] = {12, 14, 17, 20, 24, 29, 35, 42, 50, 60, 72, 86};
// The page keeps its canvas at most this tall, so that the largest prepared size covers its text:
// ceil(0.037 x 2320) = 86.
constexpr int kWebMaxCanvasHeight = 2320;

// The prepared size a frame whose text wants `textPixels` draws at: the smallest not below it, or
// the largest.
constexpr int WebTextPixels(int textPixels) {
  for (const int px : kWebTextPixels)
    if (px >= textPixels) return px;
  return kWebTextPixels[std::size(kWebTextPixels) - 1];
}

// Writes the page for `card` into `dir`: its media prepared, its texts with the places they were
// resolved to, and the glyphs they need (fallback faces' included). `runtimeDir` holds the built page, its
// script and the WebAssembly runtime. A folder that exists must be empty or hold an earlier export, which is
// then replaced whole. Everything is written into a temporary folder beside `dir` and renamed into place at
// the end: a failure, or an interrupt, leaves no half-written folder. Progress goes to `progress`. Throws
// std::runtime_error (or platform::Error) with a message for the user.
void ExportWebPage(const Card& card, const std::string& dir, const std::string& runtimeDir,
                   std::ostream& progress);

}  // namespace app
