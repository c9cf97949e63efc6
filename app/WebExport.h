// Sending the greeting as a web page: a folder that any static web server can serve, holding the
// page, the scene compiled to WebAssembly, and what the browser cannot make itself, made here by the
// desktop's own code: decoded textures with their mip chains, the parsed model, the glyphs of the
// texts, and the tune rendered through the synthesizer and reverb the video uses.
#pragma once

#include <iosfwd>
#include <string>

#include "app/Card.h"

namespace app {

// The file that marks a folder as an export of the greeting, relative to the folder.
constexpr const char* kWebManifest = "greeting/manifest.json";
// The card's texts (WriteCardTexts) in the page's application folder.
constexpr const char* kWebCardTexts = "card.txt";

// Writes the page for `card` into `dir`: its media prepared, its texts with the places they were
// resolved to, and the glyphs they need (fallback faces' included). `runtimeDir` holds the built page, its
// script and the WebAssembly runtime. A folder that exists must be empty or hold an earlier export, which is
// then replaced whole. Everything is written into a temporary folder beside `dir` and renamed into place at
// the end: a failure, or an interrupt, leaves no half-written folder. Progress goes to `progress`. Throws
// std::runtime_error (or platform::Error) with a message for the user.
void ExportWebPage(const Card& card, const std::string& dir, const std::string& runtimeDir,
                   std::ostream& progress);

}  // namespace app
