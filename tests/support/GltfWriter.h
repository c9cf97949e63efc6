// Small glTF files made in tests: a binary buffer built value by value, a GLB container around a
// JSON text and that buffer, and base64 for data URIs.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace wgtest {

// A glTF buffer: each run of values starts 4-byte aligned, and its offset is returned.
struct GltfBin {
  std::vector<std::uint8_t> bytes;

  template <typename T>
  std::size_t Add(std::initializer_list<T> values) {
    while (bytes.size() % 4 != 0) bytes.push_back(0);
    const std::size_t at = bytes.size();
    for (const T v : values) {
      std::uint8_t b[sizeof(T)];
      std::memcpy(b, &v, sizeof(T));
      bytes.insert(bytes.end(), b, b + sizeof(T));
    }
    return at;
  }
};

inline void PutLe32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

// A GLB file: the JSON chunk padded with spaces, the binary chunk (when `bin` is not empty) with zeros.
inline std::vector<std::uint8_t> Glb(std::string json, std::vector<std::uint8_t> bin) {
  while (json.size() % 4 != 0) json += ' ';
  while (bin.size() % 4 != 0) bin.push_back(0);
  std::vector<std::uint8_t> out;
  const std::size_t length = 12 + 8 + json.size() + (bin.empty() ? 0 : 8 + bin.size());
  PutLe32(out, 0x46546C67);
  PutLe32(out, 2);
  PutLe32(out, static_cast<std::uint32_t>(length));
  PutLe32(out, static_cast<std::uint32_t>(json.size()));
  PutLe32(out, 0x4E4F534A);
  out.insert(out.end(), json.begin(), json.end());
  if (!bin.empty()) {
    PutLe32(out, static_cast<std::uint32_t>(bin.size()));
    PutLe32(out, 0x004E4942);
    out.insert(out.end(), bin.begin(), bin.end());
  }
  return out;
}

inline std::string Base64(const std::vector<std::uint8_t>& in) {
  static const char* kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < in.size(); i += 3) {
    const std::uint32_t n =
        (in[i] << 16) | (i + 1 < in.size() ? in[i + 1] << 8 : 0) | (i + 2 < in.size() ? in[i + 2] : 0);
    out += kDigits[(n >> 18) & 63];
    out += kDigits[(n >> 12) & 63];
    out += i + 1 < in.size() ? kDigits[(n >> 6) & 63] : '=';
    out += i + 2 < in.size() ? kDigits[n & 63] : '=';
  }
  return out;
}

inline std::vector<std::uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

inline std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

// A glTF document assembled part by part: values added to the binary buffer come back as accessor
// numbers; meshes, nodes and materials are JSON texts; `top` holds further top-level members.
struct GltfDoc {
  GltfBin bin;
  std::vector<std::string> bufferViews, accessors, meshes, nodes, materials, textures, images;
  std::string top;
  std::string bufferUri;  // buffer 0's uri; empty: the GLB's binary chunk

  std::size_t View(std::size_t offset, std::size_t length) {
    bufferViews.push_back(R"({"buffer":0,"byteOffset":)" + std::to_string(offset) + R"(,"byteLength":)" +
                          std::to_string(length) + "}");
    return bufferViews.size() - 1;
  }
  template <typename T>
  std::size_t Data(std::initializer_list<T> values, int componentType, const char* type,
                   bool normalized = false) {
    const std::size_t at = bin.Add<T>(values);
    const std::size_t view = View(at, values.size() * sizeof(T));
    const std::size_t components = type[0] == 'S' ? 1 : static_cast<std::size_t>(type[3] - '0');
    accessors.push_back(R"({"bufferView":)" + std::to_string(view) + R"(,"componentType":)" +
                        std::to_string(componentType) + (normalized ? R"(,"normalized":true)" : "") +
                        R"(,"count":)" + std::to_string(values.size() / components) + R"(,"type":")" + type +
                        "\"}");
    return accessors.size() - 1;
  }
  std::string Json() const {
    std::string buffer = R"({"byteLength":)" + std::to_string(bin.bytes.size()) +
                         (bufferUri.empty() ? "" : R"(,"uri":")" + bufferUri + "\"") + "}";
    return R"({"asset":{"version":"2.0"},"buffers":[)" + buffer + R"(],"bufferViews":[)" + Join(bufferViews) +
           R"(],"accessors":[)" + Join(accessors) + R"(],"meshes":[)" + Join(meshes) + R"(],"nodes":[)" +
           Join(nodes) + R"(],"materials":[)" + Join(materials) + R"(],"textures":[)" + Join(textures) +
           R"(],"images":[)" + Join(images) + "]" + top + "}";
  }
  std::vector<std::uint8_t> GlbFile() const { return Glb(Json(), bin.bytes); }
};

}  // namespace wgtest
