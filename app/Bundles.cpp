#include "app/Bundles.h"

#include <filesystem>

#include "app/Card.h"
#include "app/Options.h"

namespace app {

namespace {

namespace fs = std::filesystem;

// The example cards that lie in the application folder, with the words their media go by.
struct ExampleCard {
  const char* folder;
  const char* tune;
  const char* ground;
};
constexpr ExampleCard kExampleCards[] = {{"jingle-bells", "Jingle Bells", "Snow at dusk"}};

bool isFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(path, ec);
}

// Adds the media `folder` has under `name`; false when it has none.
bool addCard(MediaChoices& m, const std::string& folder, const std::string& name, const std::string& tuneLabel,
             const std::string& groundLabel, const std::string& treeLabel, const std::string& option) {
  bool any = false;
  const auto add = [&](std::vector<MediaChoice>& kind, const std::string& relative, const std::string& label) {
    const std::string path = folder + "/" + relative;
    if (!isFile(path)) return false;
    if (FindChoice(kind, name))
      throw CommandLineError(option + " " + folder + ": another choice is already named \"" + name +
                             "\"; rename the folder");
    kind.push_back({name, label, path});
    any = true;
    return true;
  };
  add(m.tunes, "music/main.mid", tuneLabel);
  add(m.grounds, "tex/snow.jpg", groundLabel);
  // The card's tree in the first format it has, as the card itself is read.
  for (const char* tree : kCardTreeFiles)
    if (add(m.trees, tree, treeLabel)) break;
  return any;
}

}  // namespace

bool IsChoiceName(const std::string& name) {
  if (name.empty() || name.size() > 40) return false;
  for (const char c : name)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  return true;
}

std::string ChoiceNameOf(const std::string& folder) {
  fs::path p = fs::path(folder).lexically_normal();
  if (p.filename().empty()) p = p.parent_path();
  std::string name;
  for (const char c : p.filename().string()) {
    const char lower = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    const bool kept = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9');
    if (kept)
      name += lower;
    else if (!name.empty() && name.back() != '-')
      name += '-';
  }
  while (!name.empty() && name.back() == '-') name.pop_back();
  if (name.size() > 40) name.resize(40);
  while (!name.empty() && name.back() == '-') name.pop_back();
  return name;
}

MediaChoices BundledMedia(const std::string& appFolder, const std::vector<std::string>& bundleDirs) {
  MediaChoices m;
  m.tunes.push_back({"forest", "В лесу родилась ёлочка", appFolder + "/music/main.mid"});
  m.grounds.push_back({"snow", "Snow", appFolder + "/tex/snow.jpg"});
  m.trees.push_back({"fir", "Fir tree", appFolder + "/models/tree.x"});
  for (const ExampleCard& c : kExampleCards)
    addCard(m, appFolder + "/cards/" + c.folder, c.folder, c.tune, c.ground, c.folder, "the example card");
  for (const std::string& dir : bundleDirs) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) throw CommandLineError("--bundle " + dir + ": no such folder");
    const std::string name = ChoiceNameOf(dir);
    if (name.empty())
      throw CommandLineError("--bundle " + dir + ": the folder's name has no letter or digit to name its media by");
    if (!addCard(m, dir, name, name, name, name, "--bundle"))
      throw CommandLineError("--bundle " + dir +
                             ": the folder holds none of music/main.mid, tex/snow.jpg and a models/tree "
                             "(.x, .glb, .gltf or .obj)");
  }
  return m;
}

const MediaChoice* FindChoice(const std::vector<MediaChoice>& kind, const std::string& name) {
  for (const MediaChoice& c : kind)
    if (c.name == name) return &c;
  return nullptr;
}

}  // namespace app
