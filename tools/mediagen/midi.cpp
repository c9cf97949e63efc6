#include "tools/mediagen/midi.h"

#include <cstdio>
#include <filesystem>
#include <stdexcept>

#include "tools/mediagen/mediagen.h"

namespace mediagen {

std::vector<std::uint8_t> Tempo(double bpm) {
  const auto us = static_cast<std::uint32_t>(60'000'000.0 / bpm + 0.5);
  return {static_cast<std::uint8_t>(us >> 16), static_cast<std::uint8_t>(us >> 8),
          static_cast<std::uint8_t>(us)};
}

void WriteMidiFile(const std::string& path, int division, std::initializer_list<Track*> tracks) {
  std::vector<std::uint8_t> file{'M', 'T', 'h', 'd', 0, 0,
                                 0,   6,   0,   1,   0, static_cast<std::uint8_t>(tracks.size())};
  file.push_back(static_cast<std::uint8_t>(division >> 8));
  file.push_back(static_cast<std::uint8_t>(division & 0xFF));
  for (Track* track : tracks) {
    const std::vector<std::uint8_t> chunk = track->Chunk();
    file.insert(file.end(), chunk.begin(), chunk.end());
  }
  MakeFolder(std::filesystem::path(path).parent_path().string());
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + path);
  const bool ok = std::fwrite(file.data(), 1, file.size(), f) == file.size();
  if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

}  // namespace mediagen
