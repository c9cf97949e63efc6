// The example fir tree that senders' tools would make, and the writers that put it into the files
// those tools write: glTF 2.0 (JSON with its buffer beside it or inside it, or binary GLB) and
// Wavefront OBJ with its MTL. Coordinates are the files' own: right-handed, +y up, metres.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace mediagen {

struct ModelVertex {
  std::array<float, 3> position;
  std::array<float, 3> normal;  // unit length, pointing out of the surface
  std::array<float, 2> uv;      // (0,0) at the image's top-left, as glTF has it
  std::array<std::uint8_t, 4> rgba{255, 255, 255, 255};
};

struct ModelMaterial {
  std::string name;
  std::array<float, 4> color;  // base colour, alpha last
  float metallic = 0, roughness = 1;
  bool textured = false;  // the crown's image multiplies the colour
  bool blend = false;     // drawn blended by its alpha (glass)
};

// One material's triangles: a glTF primitive, an OBJ `usemtl` group.
struct ModelPart {
  int material = 0;
  bool vertexColors = false;  // the vertices' rgba are written (glTF COLOR_0)
  std::vector<ModelVertex> vertices;
  std::vector<std::uint16_t> indices;  // three per triangle, counter-clockwise seen from outside
};

struct ExampleModel {
  std::vector<ModelMaterial> materials;
  std::vector<ModelPart> parts;
};

// About 1.8 m tall, its base on y = 0, its axis on x = z = 0.
ExampleModel BuildExampleTree();

// The model as glTF: the binary buffer is laid out once; the JSON then names it by a URI (a file
// beside it or a data URI) or, with no URI, as a GLB's own BIN chunk.
class GltfWriter {
 public:
  // `pngInBuffer`, when given, puts the crown's image into the buffer (GLB); otherwise Json() names
  // it by URI. Without `normals` no primitive has a NORMAL attribute.
  GltfWriter(const ExampleModel& model, bool normals, const std::vector<std::uint8_t>* pngInBuffer);
  const std::vector<std::uint8_t>& Bin() const { return bin_; }
  // An empty `bufferUri` makes the buffer the GLB's BIN chunk; `imageUri` is unused when the image
  // is in the buffer.
  std::string Json(const std::string& bufferUri, const std::string& imageUri) const;

 private:
  bool imageInBuffer_;
  std::vector<std::uint8_t> bin_;
  std::vector<std::string> views_, accessors_, primitives_, materials_;
};

// A binary glTF: the 12-byte header, the JSON chunk padded with spaces and the BIN chunk padded with
// zeros, each to a multiple of 4 bytes.
std::vector<std::uint8_t> Glb(const std::string& json, const std::vector<std::uint8_t>& bin);

// `bytes` as an RFC 2397 data URI in base64.
std::string DataUri(const std::string& mediaType, const std::vector<std::uint8_t>& bytes);

// The model as OBJ text naming `mtlFile`, and that MTL naming `textureFile` for the textured
// material. OBJ's vt v counts from the image's bottom, so each uv's v is written as 1 - v.
struct ObjFiles {
  std::string obj, mtl;
};
ObjFiles MakeObj(const ExampleModel& model, const std::string& mtlFile, const std::string& textureFile);

}  // namespace mediagen
