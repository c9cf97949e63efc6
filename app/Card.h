// A greeting made one's own: the media it shows and plays and the two text lines it draws. The command
// line resolves into one Card when the program starts; the live scene, the headless pictures, the
// video and the web page all take that value, and none of them reads the options again. Without any
// option it holds the application folder's media and the built-in texts: the greeting as it always was.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "render/Credits.h"
#include "render/Framing.h"

namespace d3dx {
class TextMeasure;
}

namespace app {

struct Options;

// The text lines and their places are the frame's own; a card only chooses their words and x.
using render::kCreditX;
using render::kCreditY;
using render::kGreetingX;
using render::kGreetingY;
using render::TextLine;

using render::kPictureHeight;
using render::kPictureWidth;
// A text line wider than the picture is wrapped onto at most this many lines.
constexpr int kMaxWrappedLines = 3;
constexpr std::size_t kMaxCreditLines = 100;

// The application's own tree's height in its model's units, which a tree someone chose is fitted to.
constexpr float kTreeHeight = 2.385f;
constexpr const char* kTreeHeightText = "2.385";
// A tree someone chose is drawn with at most this many triangles in the 1024x768 picture, simplified
// where it has more (the page's tree too). The tree stands about 100 pixels tall there and covers
// some 6 000 pixels: more triangles than this are smaller than the pixels they fall on and only cost
// drawing time, a phone's or a software renderer's.
constexpr std::size_t kMaxTreeTriangles = 8192;
// The budget for a frame `frameHeight` pixels tall: the tree's height on screen follows the frame's,
// its area the square of that (a 1920-pixel-tall video's tree may have 6.25 times as many).
std::size_t TreeTriangleBudget(int frameHeight);
// Where a card folder keeps its tree, in every format the program reads, the X file first.
constexpr const char* kCardTreeFiles[] = {"models/tree.x", "models/tree.glb", "models/tree.gltf",
                                          "models/tree.obj"};

struct Card {
  // Paths of this file system.
  std::string ground;  // the ground plane's texture, also the device-level GroundTexture (tex/snow.jpg)
  std::string flake;   // the snowflake sprite with alpha (tex/snow.png)
  std::string model;   // the tree (models/tree.x); the textures it names are looked up beside it
  std::string tune;    // the standard MIDI file played once (music/main.mid)
  TextLine greeting;   // drawn in red at (x, kGreetingY)
  std::vector<TextLine> credits;  // shown one at a time at (x, kCreditY)
  // The tree is not the application's own: a model that fails to load is reported, not only left out.
  bool ownModel = false;
  // How tall such a tree stands, in the application's tree's model units (0: as tall as that tree).
  // The application's own tree is drawn as it is.
  float modelHeight = 0;
};

// The application folder's media and the built-in texts.
Card DefaultCard(const std::string& appFolder);

// The card the options ask for: each medium from --card DIR where DIR has it, else from the
// application folder, with the shortcuts (--greeting, --credit, --no-credits, --tune, --model,
// --ground) over both. Every file the user supplies is checked here, before anything starts; custom
// text lines are laid out in the greeting's face and moved left where they would run past the
// picture; one wider than the picture is wrapped (U+2028 marks the breaks) onto up to
// kMaxWrappedLines lines, and one that still does not fit, or would run below the picture, is
// refused. A bad option throws CommandLineError, a bad file std::runtime_error naming the file (and
// the line). A character that no installed face has is reported once on `warnings`; it draws as the
// face's missing-glyph box.
Card ResolveCard(const Options& o, const std::string& appFolder, std::ostream& warnings);

// A text line laid out for a frame: wrapped where it is wider than the frame allows, at its place in
// the frame (PlaceLine); or the reason it cannot be, for the user (`problem` not empty).
struct PlacedLine {
  TextLine line;
  float y = 0;
  std::string problem;
};
PlacedLine PlaceLineInFrame(d3dx::TextMeasure& measure, const std::string& text, float usualX, float usualY,
                            const render::Framing& f);

// The card's text lines as a frame draws them. In the picture's own 1024 x 768 they are the card's,
// as resolved; a frame of another shape lays each line out anew, as written, in its own face size
// (measured with `TextFontSource(f.TextPoints())`) at its own places. Throws CommandLineError naming
// --size and the line when one cannot fit.
struct FrameText {
  TextLine greeting;
  std::vector<TextLine> credits;
  float greetingY = kGreetingY, creditY = kCreditY;
};
FrameText PlaceCardText(const Card& card, const render::Framing& f);

// greeting.txt: UTF-8 text whose first line is the greeting and whose further non-empty lines are the
// credit lines. Throws std::runtime_error naming the file and the line for text that is not UTF-8,
// holds a control character, or has more than kMaxCreditLines credit lines.
struct GreetingText {
  std::string greeting;
  std::vector<std::string> credits;
  std::vector<int> creditLineNumbers;  // the line of the file each credit line is on
};
GreetingText ReadGreetingText(const std::string& file);

// The card as the web page carries it: its text lines with the x each was resolved to, one a line
// as "x<TAB>text", or "x<TAB>text<TAB>written" for a line wrapped for the picture (its `written`,
// which a frame of another width wraps anew), the greeting first, then the credit lines in order. The page
// keeps its media at the usual places of its own application folder, so they are not part of it.
std::string WriteCardTexts(const Card& card);
// The card of a page whose application folder is `appFolder`, from what WriteCardTexts wrote. Throws
// std::runtime_error naming `file` when `text` is no such list.
Card ReadCardTexts(const std::string& text, const std::string& appFolder, const std::string& file);

// How the page draws a tree it carries: as the application's own tree is drawn (height 0), or as a
// tree someone chose, fitted to `height` and lit (Card::ownModel, Card::modelHeight). The text is the
// height as a decimal number on one line. ReadTreeFit throws std::runtime_error naming `file` for
// anything else, or a height outside 0..kMaxModelHeight.
constexpr float kMaxModelHeight = 100.0f;
std::string WriteTreeFit(float height);
float ReadTreeFit(const std::string& text, const std::string& file);

// Why `text` cannot be a line of the picture (not UTF-8, or a control character, with the column),
// or empty when it can.
std::string TextLineProblem(const std::string& text);

}  // namespace app
