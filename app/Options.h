// The command line. Without arguments the program is the fullscreen demo; the options add headless
// rendering and a window for development.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace app {

struct Options {
  bool help = false;
  bool headless = false;
  bool windowed = false;
  std::int64_t frames = -1;  // headless: frames to render (default 1)
  std::string screenshot;    // headless: PNG of the last frame
  std::string record;        // capture: the video file to write (.mp4, .mkv, .webm)
  std::string framesDir;     // capture: the folder for numbered PNG frames
  std::string exportWeb;     // the folder to write the web page into
  double seconds = 30;       // capture length
  int fps = 30;              // capture frame rate
  bool mute = false;         // live: no audio device; the scene runs silently
  // The frame's shape: 0 x 0 is the picture's own 1024 x 768. Headless, --record and --frames-dir.
  int width = 0, height = 0;
  bool fill = false;            // live: the scene drawn at the screen's shape rather than 4:3 with bars
  std::int64_t maxBytes = 0;    // --record: the largest file the video may be, in bytes (0: no limit)
  std::string poster;           // a JPEG of the frame the card is best seen at

  // The greeting made one's own; ResolveCard turns these into the Card every output takes.
  std::string card;                     // a folder laid out like the application folder
  std::optional<std::string> greeting;  // the greeting line
  std::vector<std::string> credits;     // the credit lines, in order, instead of the built-in ones
  bool noCredits = false;               // no credit line at all
  double modelHeight = 0;  // --model-height; 0: as tall as the application's own tree
  std::string tune, model, ground;      // single media files; with --share-link, choices' names

  // Greetings sent as links to a page published once (--export-web writes it).
  std::vector<std::string> bundles;  // --bundle DIR: a further card's media the page offers
  std::string shareLink;             // --share-link URL: print the link for a page published at URL
  std::string recipients;            // --recipients FILE.csv: one link per row, {column} filled in
  std::string lang;                  // --lang TAG: the greeting's language, carried by the link
  std::string pageUrl;               // --page-url URL: where the exported page will be published

  bool Capture() const { return !record.empty() || !framesDir.empty() || !poster.empty(); }
  bool Sized() const { return width > 0; }
};

// A command line that parses but names something unusable (a card folder that is not there, a
// greeting line wider than the picture): reported like a bad command line, with exit code 2.
struct CommandLineError : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// "1080x1920" (or "1080X1920"): both sides even, from kMinFrameSide to kMaxFrameSide. Throws
// std::invalid_argument naming `option`.
void ParseFrameSize(const std::string& option, const std::string& value, int& width, int& height);
// "16M", "800K", "1.5G", "2000000B": a size in bytes, decimal units (K = 1000). Throws
// std::invalid_argument naming `option`; a number without a unit is refused.
std::int64_t ParseByteSize(const std::string& option, const std::string& value);

// An absolute http(s) address with a host, printable ASCII with no quote, angle bracket or
// backslash, at most 2000 characters: what --share-link and --page-url take.
bool IsPageUrl(const std::string& url);
// A language tag as links carry it: 2 or 3 letters, then up to three '-' parts of 1 to 8 letters or
// digits (ru, en-GB, pt-BR, zh-Hant-TW).
bool IsLanguageTag(const std::string& tag);

// Throws std::invalid_argument with a message for the user on a bad command line.
Options ParseOptions(int argc, char** argv);
std::string UsageText(const std::string& program);

// The main of each program: parses the command line, answers --help with `usage`, then runs. A bad
// command line prints its message and the usage and returns 2; a CommandLineError from `run` prints
// its message and returns 2; any other failure prints its message, prefixed with the program's
// `name`, and returns 1.
int RunProgram(int argc, char** argv, const std::string& name,
               const std::function<std::string(const std::string& program)>& usage,
               const std::function<int(const Options&)>& run);

}  // namespace app
