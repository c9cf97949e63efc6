// The media generator's pieces: each writes its files under the application folder `out`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/mediagen/noise.h"

namespace mediagen {

void WriteSnowTexture(const std::string& out);      // tex/snow.jpg
void WriteSnowSprite(const std::string& out);       // tex/snow.png
void WriteTreeModel(const std::string& out);        // models/tree.x and its textures
void WriteMusic(const std::string& out);            // music/main.mid
void WriteTerrain(const std::string& out);          // the example scene's height map, detail texture and sky
void WriteExampleModels(const std::string& out);    // examples-models/: a fir tree as glTF, GLB and OBJ
void WriteJingleBellsCard(const std::string& out);  // cards/jingle-bells: its tune, ground and GLB tree

// The example fir tree as a GLB file with its crown's texture inside (`path` names it in messages).
std::vector<std::uint8_t> ExampleTreeGlb(const std::string& path);

// The fir's needles, 256x256 RGB, tiling in both directions: the texture of both trees' crowns.
Image NeedleImage();

// Creates a folder and its parents; throws on failure.
void MakeFolder(const std::string& path);

}  // namespace mediagen
