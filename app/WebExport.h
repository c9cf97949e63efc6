// Sending the greeting as a web page: a folder that any static web server can serve, holding the
// page, the scene compiled to WebAssembly, and what the browser cannot make itself, made here by the
// desktop's own code: decoded textures with their mip chains, the parsed model, the glyphs of the
// texts, and the tune rendered through the synthesizer and reverb the video uses.
#pragma once

#include <iosfwd>
#include <iterator>
#include <string>
#include <vector>

#include "app/Card.h"
#include "render/Framing.h"

namespace app {

// The file that marks a folder as an export of the greeting, relative to the folder.
constexpr const char* kWebManifest = "greeting/manifest.json";
// The card's texts (WriteCardTexts) in the page's application folder.
constexpr const char* kWebCardTexts = "card.txt";
// The files the first frame of the page's own card needs, in one file the page fetches at once.
constexpr const char* kWebStartPack = "greeting/start.pack";
// How the chosen tree is drawn (WriteTreeFit), in the page's application folder.
constexpr const char* kWebTreeFit = "models/tree-fit.txt";

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

// The framing of a `w` x `h` canvas of the page, its text at the prepared size; the picture's framing
// for a size no frame may have.
inline render::Framing WebCanvasFraming(int w, int h) {
  const auto side = [](int v) { return v % 2 == 0 && v >= render::kMinFrameSide && v <= render::kMaxFrameSide; };
  if (!side(w) || !side(h)) return render::Framing{};
  render::Framing f = render::FrameFor(w, h);
  if (!f.IsPicture()) f.textPixels = WebTextPixels(f.textPixels);
  return f;
}

// What an export writes: the card, where to, and what its links may choose.
struct WebExport {
  Card card;                         // the page's own card (the one a link without texts shows)
  std::string target;                // a folder, or a file ending in .html for the single file
  std::string appPath;               // the application folder: its web/ runtime and its media
  std::vector<std::string> bundles;  // --bundle folders whose media the page offers too
  std::string pageUrl;               // where the page will be published (absolute preview URLs); may be empty
  std::string lang;                  // the greeting's language; empty: told from its letters
};

// Whether `target` names the single-file page (a name ending in .html) rather than a folder.
bool IsSingleFileExport(const std::string& target);

// Writes the page for `w.card` into the folder `w.target`: its media prepared (each choice of tune,
// ground and tree under greeting/choices/), its texts with the places they were resolved to, the
// glyphs they need (fallback faces' included), the preview image and icons, and the built page with
// its script and the WebAssembly runtime from `w.appPath`/web. A folder that exists must be empty or
// hold an earlier export, which is then replaced whole. Everything is written into a temporary folder
// beside it and renamed into place at the end: a failure, or an interrupt, leaves no half-written
// folder. A target ending in .html gets the same page as one self-contained file, written whole or
// not at all. Progress goes to `progress`. Throws std::runtime_error (or platform::Error) with a
// message for the user.
void ExportWebPage(const WebExport& w, std::ostream& progress);

}  // namespace app
