// The media a web page offers its links to choose from: tunes, grounds and trees, each under a short
// name that a link carries. The built-in card's media come first, then the example cards' that lie
// in the application folder's cards/, then those of each folder the sender bundles (--bundle DIR).
#pragma once

#include <string>
#include <vector>

namespace app {

struct MediaChoice {
  std::string name;   // [a-z0-9-]{1,40}, as a link names it
  std::string label;  // what the page's maker shows
  std::string path;   // the file: a MIDI file, a ground texture or a model
};

struct MediaChoices {
  std::vector<MediaChoice> tunes, grounds, trees;
};

// Whether `name` is a choice's name a link may carry: 1 to 40 of a-z, 0-9 and '-'.
bool IsChoiceName(const std::string& name);

// The name a bundled folder's media go by: its last component lower-cased, every character outside
// a-z and 0-9 turned into '-', runs of '-' merged and trimmed, at most 40 characters.
std::string ChoiceNameOf(const std::string& folder);

// The built-in media ("forest", "snow", "fir"), those of the example cards, then each of
// `bundleDirs`' (music/main.mid, tex/snow.jpg, a models/tree file, whichever it has). Throws
// CommandLineError naming --bundle for a folder that is not there, has none of the three, or whose
// name another choice of the same kind already has.
MediaChoices BundledMedia(const std::string& appFolder, const std::vector<std::string>& bundleDirs);

// The choice of `kind` named `name`, or null.
const MediaChoice* FindChoice(const std::vector<MediaChoice>& kind, const std::string& name);

}  // namespace app
