// The glTF 2.0 reader: a binary .glb or a .gltf JSON file becomes one XModel as D3DX would hold it.
// The scene's node tree is flattened (each node that draws a mesh adds a transformed copy of it),
// points and lines are skipped, strips and fans become triangle lists, and every triangle carries its
// primitive's material. glTF is right-handed: z is negated and each triangle's winding reversed so
// that front faces stay front faces in the left-handed scene.
// The file comes from anyone: every index, count, offset and length is checked against what exists
// before it is used or anything is sized by it; external files are read only from the model's own
// folder (ModelFilePath); a file that breaks a rule is an error naming it and what is wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/d3dx/XFile.h"

namespace d3dx {

// The largest JSON text a model may have (a .gltf file, or a GLB's JSON chunk), how deeply its
// arrays and objects may nest, and how many values it may hold: checked before it is parsed, so
// that neither the parser's memory nor anything walking the tree grows without bound.
constexpr std::size_t kMaxGltfJson = 64u << 20;
constexpr int kMaxGltfNesting = 64;
constexpr std::size_t kMaxGltfJsonValues = 1u << 21;
// The most nodes a model may have, and how many of them may draw a mesh (each drawing a copy).
constexpr std::size_t kMaxGltfNodes = 1u << 18;
constexpr std::size_t kMaxGltfDraws = 1u << 16;
// The most bytes all of a model's buffers may hold together, and all the embedded images its
// materials carry (each material its own copy).
constexpr std::size_t kMaxGltfBuffers = 64u << 20;
constexpr std::size_t kMaxGltfImages = 64u << 20;

// Parses a GLB (magic "glTF", version 2) or a .gltf JSON text held in memory. `folder` is where the
// files the model names (buffers, images) are looked up; when it is empty every such name is
// refused. Throws platform::Error naming `call` and `file`.
XModel ParseGltf(const std::uint8_t* data, std::size_t size, const std::string& file,
                 const std::string& folder, const std::string& call = "D3DXLoadMeshFromX");

// Whether the bytes look like glTF: the GLB magic, or JSON whose first non-blank character is '{'
// with an "asset" key near the start. Reads at most the first 256 KB.
bool LooksLikeGltf(const std::uint8_t* data, std::size_t size);

}  // namespace d3dx
