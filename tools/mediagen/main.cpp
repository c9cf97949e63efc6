// mediagen OUT: writes every media file the programs read into the application folder OUT, and the
// generated media of the example cards into OUT/cards.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "tools/mediagen/mediagen.h"

namespace mediagen {

void MakeFolder(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec) throw std::runtime_error("cannot create folder " + path + ": " + ec.message());
}

}  // namespace mediagen

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: mediagen OUTPUT_FOLDER\n");
    return 2;
  }
  try {
    const std::string out = argv[1];
    mediagen::WriteSnowTexture(out);
    mediagen::WriteSnowSprite(out);
    mediagen::WriteTreeModel(out);
    mediagen::WriteMusic(out);
    mediagen::WriteTerrain(out);
    mediagen::WriteJingleBellsCard(out);
    mediagen::WriteExampleModels(out);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mediagen: %s\n", e.what());
    return 1;
  }
  return 0;
}
