// Sending the greeting as a web page: a folder that any static web server can serve, holding the
// page, the scene compiled to WebAssembly, and what the browser cannot make itself, made here by the
// desktop's own code: decoded textures with their mip chains, the parsed model, the glyphs of the
// texts, and the tune rendered through the synthesizer and reverb the video uses.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace app {

// What the page shows and plays.
struct GreetingContent {
  std::string appFolder;      // where the tune is played from (its music\main.mid)
  std::string groundTexture;  // tex\snow.jpg
  std::string snowTexture;    // tex\snow.png
  std::string model;          // models\tree.x
  std::string modelFolder;    // where the model's textures are looked up
  std::string greeting;
  std::vector<std::string> creditLines;  // in the order they appear
};

// The greeting as the program shows it without options: the application folder's media and the
// built-in texts.
GreetingContent DefaultGreetingContent(const std::string& appFolder);

// The file that marks a folder as an export of the greeting, relative to the folder.
constexpr const char* kWebManifest = "greeting/manifest.json";

// Writes the page for `content` into `dir`. `runtimeDir` holds the built page, its script and the
// WebAssembly runtime. A folder that exists must be empty or hold an earlier export, which is then
// replaced whole. Everything is written into a temporary folder beside `dir` and renamed into place
// at the end: a failure, or an interrupt, leaves no half-written folder. Progress goes to `progress`.
// Throws std::runtime_error (or platform::Error) with a message for the user.
void ExportWebPage(const GreetingContent& content, const std::string& dir, const std::string& runtimeDir,
                   std::ostream& progress);

}  // namespace app
