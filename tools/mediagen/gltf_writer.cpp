// glTF 2.0 written by hand. One buffer holds, each view on a 4-byte boundary: every part's vertices
// interleaved (position, normal, uv), the vertex colours of the parts that have them, the 16-bit
// indices and, in a GLB, the crown's PNG. Each part is one primitive whose accessors start at its
// first vertex, so its indices count from 0.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <stdexcept>

#include "tools/mediagen/example_model.h"

namespace mediagen {

namespace {

constexpr int kUnsignedByte = 5121, kUnsignedShort = 5123, kFloat = 5126;
constexpr int kArrayBuffer = 34962, kElementArrayBuffer = 34963;

// The shortest decimal that reads back as the same float, so that POSITION's min and max are
// exactly the extremes of the binary data.
std::string Num(float v) {
  char buf[32];
  for (int digits = 6; digits <= 9; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(v));
    if (std::strtof(buf, nullptr) == v) break;
  }
  return buf;
}

template <std::size_t N>
std::string Array(const std::array<float, N>& v) {
  std::string s = "[";
  for (std::size_t i = 0; i < N; ++i) s += (i ? ", " : "") + Num(v[i]);
  return s + "]";
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void PutF32(std::vector<std::uint8_t>& out, float v) {
  PutU32(out, std::bit_cast<std::uint32_t>(v));
}
void Pad(std::vector<std::uint8_t>& out) {
  while (out.size() % 4) out.push_back(0);
}

std::string View(std::size_t offset, std::size_t length, int stride, int target) {
  std::string s = "{\"buffer\": 0, \"byteOffset\": " + std::to_string(offset) +
                  ", \"byteLength\": " + std::to_string(length);
  if (stride) s += ", \"byteStride\": " + std::to_string(stride);
  if (target) s += ", \"target\": " + std::to_string(target);
  return s + "}";
}

std::string Accessor(int view, std::size_t offset, int componentType, std::size_t count, const char* type) {
  return "{\"bufferView\": " + std::to_string(view) + ", \"byteOffset\": " + std::to_string(offset) +
         ", \"componentType\": " + std::to_string(componentType) +
         (componentType == kUnsignedByte ? ", \"normalized\": true" : "") +
         ", \"count\": " + std::to_string(count) + ", \"type\": \"" + type + "\"";
}

std::string Join(const std::vector<std::string>& items, const char* indent) {
  std::string s;
  for (std::size_t i = 0; i < items.size(); ++i)
    s += indent + items[i] + (i + 1 < items.size() ? ",\n" : "\n");
  return s;
}

std::string MaterialJson(const ModelMaterial& m) {
  std::string s =
      "{\"name\": \"" + m.name + "\", \"pbrMetallicRoughness\": {\"baseColorFactor\": " + Array(m.color);
  if (m.textured) s += ", \"baseColorTexture\": {\"index\": 0}";
  s += ", \"metallicFactor\": " + Num(m.metallic) + ", \"roughnessFactor\": " + Num(m.roughness) + "}";
  if (m.blend) s += ", \"alphaMode\": \"BLEND\"";
  return s + "}";
}

}  // namespace

GltfWriter::GltfWriter(const ExampleModel& model, bool normals, const std::vector<std::uint8_t>* pngInBuffer)
    : imageInBuffer_(pngInBuffer != nullptr) {
  for (const ModelMaterial& m : model.materials) materials_.push_back(MaterialJson(m));
  const int stride = normals ? 32 : 20;
  for (const ModelPart& part : model.parts)
    for (const ModelVertex& v : part.vertices) {
      for (float c : v.position) PutF32(bin_, c);
      if (normals)
        for (float c : v.normal) PutF32(bin_, c);
      for (float c : v.uv) PutF32(bin_, c);
    }
  views_.push_back(View(0, bin_.size(), stride, kArrayBuffer));

  const std::size_t colourStart = bin_.size();
  for (const ModelPart& part : model.parts)
    if (part.vertexColors)
      for (const ModelVertex& v : part.vertices) bin_.insert(bin_.end(), v.rgba.begin(), v.rgba.end());
  const int colourView = bin_.size() > colourStart ? static_cast<int>(views_.size()) : -1;
  if (colourView >= 0) views_.push_back(View(colourStart, bin_.size() - colourStart, 4, kArrayBuffer));

  const std::size_t indexStart = bin_.size();
  for (const ModelPart& part : model.parts)
    for (std::uint16_t i : part.indices) {
      bin_.push_back(static_cast<std::uint8_t>(i));
      bin_.push_back(static_cast<std::uint8_t>(i >> 8));
    }
  const int indexView = static_cast<int>(views_.size());
  views_.push_back(View(indexStart, bin_.size() - indexStart, 0, kElementArrayBuffer));
  Pad(bin_);

  if (pngInBuffer) {
    views_.push_back(View(bin_.size(), pngInBuffer->size(), 0, 0));
    bin_.insert(bin_.end(), pngInBuffer->begin(), pngInBuffer->end());
  }

  std::size_t vertex = 0, colour = 0, index = 0;
  for (const ModelPart& part : model.parts) {
    const std::size_t n = part.vertices.size();
    std::array<float, 3> lo{}, hi{};
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::numeric_limits<float>::max();
      hi[k] = std::numeric_limits<float>::lowest();
      for (const ModelVertex& v : part.vertices) {
        lo[k] = std::min(lo[k], v.position[k]);
        hi[k] = std::max(hi[k], v.position[k]);
      }
    }
    const auto next = [this] { return std::to_string(accessors_.size()); };
    std::string attributes = "\"POSITION\": " + next();
    accessors_.push_back(Accessor(0, vertex * stride, kFloat, n, "VEC3") + ", \"min\": " + Array(lo) +
                         ", \"max\": " + Array(hi) + "}");
    if (normals) {
      attributes += ", \"NORMAL\": " + next();
      accessors_.push_back(Accessor(0, vertex * stride + 12, kFloat, n, "VEC3") + "}");
    }
    attributes += ", \"TEXCOORD_0\": " + next();
    accessors_.push_back(Accessor(0, vertex * stride + stride - 8, kFloat, n, "VEC2") + "}");
    if (part.vertexColors) {
      attributes += ", \"COLOR_0\": " + next();
      accessors_.push_back(Accessor(colourView, colour * 4, kUnsignedByte, n, "VEC4") + "}");
      colour += n;
    }
    primitives_.push_back("{\"attributes\": {" + attributes + "}, \"indices\": " + next() +
                          ", \"material\": " + std::to_string(part.material) + ", \"mode\": 4}");
    accessors_.push_back(Accessor(indexView, index * 2, kUnsignedShort, part.indices.size(), "SCALAR") + "}");
    vertex += n;
    index += part.indices.size();
  }
}

std::string GltfWriter::Json(const std::string& bufferUri, const std::string& imageUri) const {
  const std::string image = imageInBuffer_ ? "\"bufferView\": " + std::to_string(views_.size() - 1) +
                                                 ", \"mimeType\": \"image/png\""
                                           : "\"uri\": \"" + imageUri + "\"";
  std::string buffer = "{\"byteLength\": " + std::to_string(bin_.size());
  if (!bufferUri.empty()) buffer += ", \"uri\": \"" + bufferUri + "\"";
  buffer += "}";
  return "{\n"
         "  \"asset\": {\"version\": \"2.0\", \"generator\": \"Winter Greeting mediagen\"},\n"
         "  \"scene\": 0,\n"
         "  \"scenes\": [{\"name\": \"Scene\", \"nodes\": [0]}],\n"
         "  \"nodes\": [{\"name\": \"FirTree\", \"mesh\": 0}],\n"
         "  \"meshes\": [{\"name\": \"FirTree\", \"primitives\": [\n" +
         Join(primitives_, "    ") +
         "  ]}],\n"
         "  \"materials\": [\n" +
         Join(materials_, "    ") +
         "  ],\n"
         "  \"textures\": [{\"sampler\": 0, \"source\": 0}],\n"
         "  \"samplers\": [{\"magFilter\": 9729, \"minFilter\": 9987, \"wrapS\": 10497, \"wrapT\": 10497}],\n"
         "  \"images\": [{\"name\": \"crown\", " +
         image +
         "}],\n"
         "  \"accessors\": [\n" +
         Join(accessors_, "    ") +
         "  ],\n"
         "  \"bufferViews\": [\n" +
         Join(views_, "    ") +
         "  ],\n"
         "  \"buffers\": [" +
         buffer + "]\n}\n";
}

std::vector<std::uint8_t> Glb(const std::string& json, const std::vector<std::uint8_t>& bin) {
  std::string text = json;
  while (text.size() % 4) text += ' ';
  std::vector<std::uint8_t> chunk = bin;
  Pad(chunk);
  const std::size_t total = 12 + 8 + text.size() + 8 + chunk.size();
  if (total > std::numeric_limits<std::uint32_t>::max()) throw std::runtime_error("a GLB file over 4 GiB");
  std::vector<std::uint8_t> out;
  out.reserve(total);
  PutU32(out, 0x46546C67);  // "glTF"
  PutU32(out, 2);
  PutU32(out, static_cast<std::uint32_t>(total));
  PutU32(out, static_cast<std::uint32_t>(text.size()));
  PutU32(out, 0x4E4F534A);  // "JSON"
  out.insert(out.end(), text.begin(), text.end());
  PutU32(out, static_cast<std::uint32_t>(chunk.size()));
  PutU32(out, 0x004E4942);  // "BIN\0"
  out.insert(out.end(), chunk.begin(), chunk.end());
  return out;
}

std::string DataUri(const std::string& mediaType, const std::vector<std::uint8_t>& bytes) {
  static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string s = "data:" + mediaType + ";base64,";
  s.reserve(s.size() + (bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
    if (n > 1) group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
    if (n > 2) group |= bytes[i + 2];
    for (std::size_t k = 0; k < 4; ++k) s += k <= n ? kDigits[(group >> (18 - 6 * k)) & 63] : '=';
  }
  return s;
}

}  // namespace mediagen
