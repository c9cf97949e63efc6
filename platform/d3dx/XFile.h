// The DirectX X file reader behind D3DXLoadMeshFromX: text, binary and MSZIP-compressed files with
// 32- or 64-bit floats. Every mesh of the file is merged into one model, each transformed by the
// frames around it, with its faces split into triangles and tagged with their material number.
// As in D3DX: type names match without regard to case; a reference `{ name }` means the first
// object of that name read completely before it, anywhere in the file (a mesh a frame refers to is
// drawn with that frame's transform, as well as where it stands); a mesh that names no material gets
// D3DX's default one.
// The reader trusts nothing in the file: every count is checked against the data that remains
// before anything is sized by it, and a file that breaks a rule is an error naming it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d/d3d8types.h"

namespace d3dx {

// The largest body, after decompression, that a file may have.
constexpr std::size_t kMaxXFileBody = 64u << 20;
// How deeply data objects may nest (frames in frames, materials in material lists, ...).
constexpr int kMaxXNesting = 64;
// How many data objects a file may hold in all, and how many frames and meshes it may draw once
// references are followed.
constexpr std::size_t kMaxXObjects = 1u << 20;
// The most triangles and vertices a model of any format may draw, all its meshes and their instances
// together. A file of a few megabytes may draw one mesh many times over (glTF nodes, X frames naming
// a mesh by reference), and each drawn triangle costs about 110 bytes from the file to the screen
// (the reader's model, the mesh's vertex and index batches): at this many the program stays under
// 512 MB and 2 s on two cores.
constexpr std::size_t kMaxModelTriangles = 1u << 21;
constexpr std::size_t kMaxModelVertices = 1u << 21;

// How a material's alpha is used: ignored, as a cut-out (texels below the cutoff are not drawn), or
// blended over what lies behind.
enum class AlphaMode { Opaque, Mask, Blend };

struct XMaterial {
  // Diffuse = faceColor, Power = power, Specular and Emissive from their RGB colours with alpha 1,
  // Ambient (0, 0, 0, 1): the format has no ambient colour. The default material: Diffuse and
  // Specular (0.5, 0.5, 0.5, 0), everything else 0, no texture.
  d3d::D3DMATERIAL8 material{};
  std::string textureFilename;  // exactly as stored; empty when the material has none
  // The texture's image file itself where the model carries it inside (a GLB buffer, a data URI);
  // `textureFilename` then names it for messages only.
  std::vector<std::uint8_t> textureData;
  // X files have neither: their materials are opaque, and ParseModel makes them two-sided.
  AlphaMode alphaMode = AlphaMode::Opaque;
  float alphaCutoff = 0.5f;
  bool doubleSided = false;
};

// The file formats models are read from.
enum class ModelFormat { X, Gltf, Glb, Obj };

struct XVertex {
  d3d::D3DVECTOR position{};
  d3d::D3DVECTOR normal{};
  d3d::D3DCOLOR color = 0xFFFFFFFFu;
  float tu = 0.0f, tv = 0.0f;
};

struct XModel {
  std::vector<XVertex> vertices;
  std::vector<std::uint32_t> indices;     // three per triangle, into `vertices`
  std::vector<std::uint32_t> attributes;  // the material number of each triangle
  std::vector<XMaterial> materials;
  // Which vertex fields some mesh of the file supplied; the others hold their defaults.
  bool hasNormals = false, hasColors = false, hasTexCoords = false;
  ModelFormat format = ModelFormat::X;
  // The file's form: text or binary, MSZIP-compressed or not, 32- or 64-bit floats.
  bool binary = false, compressed = false;
  int floatBits = 32;
};

// Parses a whole X file held in memory. Throws platform::Error naming `call` and `file`.
XModel ParseXFile(const std::uint8_t* data, std::size_t size, const std::string& file,
                  const std::string& call = "D3DXLoadMeshFromX");

// A model file of any format the program reads: glTF (GLB, or a .gltf JSON) and X by their content,
// Wavefront OBJ by its name (".obj"), its other files looked up beside it. Throws platform::Error
// naming `call` and `file`. (The web page's runtime reads the exporter's prepared model instead.)
XModel ParseModel(const std::uint8_t* data, std::size_t size, const std::string& file,
                  const std::string& call = "D3DXLoadMeshFromX");

// The body of a compressed file: `data` starts after the 16-byte header with the total size (header
// included), then blocks of {uncompressed size, compressed size, "CK", raw deflate}, each block
// inflated with the previous block's output as its dictionary.
std::vector<std::uint8_t> InflateMszip(const std::uint8_t* data, std::size_t size, const std::string& file,
                                       const std::string& call = "D3DXLoadMeshFromX");

}  // namespace d3dx
