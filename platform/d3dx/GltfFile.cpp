#include "platform/d3dx/GltfFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <deque>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3dx/ModelUri.h"
#include "platform/d3dx/Texture.h"

namespace d3dx {

namespace {

using Json = nlohmann::json;
// Column-major 4x4, as glTF writes its matrices.
using Matrix = std::array<double, 16>;

constexpr Matrix kIdentity{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

// GLB's header and chunk tags, little-endian.
constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kChunkJson = 0x4E4F534A;
constexpr std::uint32_t kChunkBin = 0x004E4942;

// Accessor component types.
constexpr int kByte = 5120, kUnsignedByte = 5121, kShort = 5122, kUnsignedShort = 5123, kUnsignedInt = 5125,
              kFloat = 5126;

// Primitive modes.
constexpr std::uint64_t kTriangles = 4, kTriangleStrip = 5, kTriangleFan = 6;

std::uint32_t Le32(const std::uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::string Str(std::uint64_t n) {
  return std::to_string(n);
}

std::string Path(const std::string& array, std::size_t i) {
  return array + "[" + Str(i) + "]";
}

// The member `key` of `o`, or null when `o` is no object or has no such member.
const Json* Find(const Json& o, const char* key) {
  if (!o.is_object()) return nullptr;
  const auto it = o.find(key);
  return it == o.end() ? nullptr : &*it;
}

// A JSON number that is a whole number from 0 to 2^53 (every such number a double holds exactly).
std::optional<std::uint64_t> WholeNumber(const Json& v) {
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (d >= 0.0 && d <= 9007199254740992.0 && d == std::floor(d)) return static_cast<std::uint64_t>(d);
  }
  return std::nullopt;
}

// A run of bytes inside a buffer the reader holds.
struct Span {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// How an accessor's elements are laid out; `data` is null when it has no bufferView (all zeros).
struct Accessor {
  const std::uint8_t* data = nullptr;
  std::size_t count = 0, stride = 0;
  int componentType = 0, components = 0;
  bool normalized = false;
  std::string where;
};

// What an attribute or index list may hold: how many components, and whether floats, normalized
// unsigned bytes and shorts, or plain unsigned integers.
struct Rule {
  const char* use;
  int minComponents, maxComponents;
  bool floats, normalizedUnsigned, plainUnsigned;
  // Without a bufferView an accessor is all zeros: positions and indices must have data, so that what
  // the model draws is paid for by bytes in the file.
  bool needsData;
};

constexpr Rule kPositionRule{"POSITION", 3, 3, true, false, false, true};
constexpr Rule kNormalRule{"NORMAL", 3, 3, true, false, false, false};
constexpr Rule kTexCoordRule{"TEXCOORD_0", 2, 2, true, true, false, false};
constexpr Rule kColorRule{"COLOR_0", 3, 4, true, true, false, false};
constexpr Rule kIndexRule{"indices", 1, 1, false, false, true, true};

int ComponentSize(int type) {
  switch (type) {
    case kByte:
    case kUnsignedByte:
      return 1;
    case kShort:
    case kUnsignedShort:
      return 2;
    case kUnsignedInt:
    case kFloat:
      return 4;
    default:
      return 0;
  }
}

// Component `c` of element `i` as a float: normalized integers scaled to [0, 1] or [-1, 1].
float Component(const Accessor& a, std::size_t i, int c) {
  if (a.data == nullptr) return 0.0f;
  const std::uint8_t* p =
      a.data + i * a.stride + static_cast<std::size_t>(c * ComponentSize(a.componentType));
  switch (a.componentType) {
    case kFloat: {
      float f;
      std::memcpy(&f, p, 4);
      return f;
    }
    case kUnsignedByte:
      return a.normalized ? p[0] / 255.0f : p[0];
    case kUnsignedShort: {
      std::uint16_t v;
      std::memcpy(&v, p, 2);
      return a.normalized ? v / 65535.0f : v;
    }
    case kUnsignedInt: {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return static_cast<float>(v);
    }
    default:
      return 0.0f;
  }
}

std::uint32_t IndexAt(const Accessor& a, std::size_t i) {
  if (a.data == nullptr) return 0;
  const std::uint8_t* p = a.data + i * a.stride;
  switch (a.componentType) {
    case kUnsignedByte:
      return p[0];
    case kUnsignedShort: {
      std::uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    default: {
      std::uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

// One colour component as 8 bits: unsigned bytes as stored, the others scaled and rounded.
std::uint32_t ColorByte(const Accessor& a, std::size_t i, int c) {
  if (a.data == nullptr) return 0;
  if (a.componentType == kUnsignedByte) return a.data[i * a.stride + static_cast<std::size_t>(c)];
  double v;
  if (a.componentType == kUnsignedShort) {
    std::uint16_t s;
    std::memcpy(&s, a.data + i * a.stride + static_cast<std::size_t>(c) * 2, 2);
    v = s / 65535.0;
  } else {
    v = Component(a, i, c);
  }
  if (!(v > 0.0)) return 0;  // NaN too
  return v >= 1.0 ? 255u : static_cast<std::uint32_t>(std::nearbyint(v * 255.0));
}

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int col = 0; col < 4; ++col)
    for (int row = 0; row < 4; ++row) {
      double s = 0.0;
      for (int k = 0; k < 4; ++k) s += a[k * 4 + row] * b[col * 4 + k];
      r[col * 4 + row] = s;
    }
  return r;
}

// The translation, rotation (a quaternion x, y, z, w) and scale as one matrix T * R * S.
Matrix Compose(const std::array<double, 3>& t, std::array<double, 4> q, const std::array<double, 3>& s) {
  const double len = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (len > 0.0)
    for (double& v : q) v /= len;
  const double x = q[0], y = q[1], z = q[2], w = q[3];
  const std::array<double, 9> r{1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),
                                2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),
                                2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y)};
  Matrix m = kIdentity;
  for (int col = 0; col < 3; ++col)
    for (int row = 0; row < 3; ++row) m[col * 4 + row] = r[col * 3 + row] * s[col];
  m[12] = t[0];
  m[13] = t[1];
  m[14] = t[2];
  return m;
}

double Determinant3(const Matrix& m) {
  return m[0] * (m[5] * m[10] - m[9] * m[6]) - m[4] * (m[1] * m[10] - m[9] * m[2]) +
         m[8] * (m[1] * m[6] - m[5] * m[2]);
}

// The upper 3x3's inverse transpose up to a positive factor (its cofactors, sign-corrected), which
// carries normals; they are normalised afterwards.
std::array<double, 9> NormalMatrix(const Matrix& m) {
  const double sign = Determinant3(m) < 0.0 ? -1.0 : 1.0;
  auto e = [&](int row, int col) { return m[col * 4 + row]; };
  std::array<double, 9> c{};  // row-major cofactors
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) {
      const int r0 = (row + 1) % 3, r1 = (row + 2) % 3, c0 = (col + 1) % 3, c1 = (col + 2) % 3;
      c[row * 3 + col] = sign * (e(r0, c0) * e(r1, c1) - e(r0, c1) * e(r1, c0));
    }
  return c;
}

bool IsDataUri(const std::string& uri) {
  static constexpr char kScheme[] = "data:";
  if (uri.size() < 5) return false;
  for (std::size_t i = 0; i < 5; ++i)
    if (std::tolower(static_cast<unsigned char>(uri[i])) != kScheme[i]) return false;
  return true;
}

std::string BaseName(const std::string& file) {
  const auto slash = file.find_last_of("/\\");
  return slash == std::string::npos ? file : file.substr(slash + 1);
}

int Base64Digit(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

struct Draw {
  std::size_t mesh;
  Matrix world;
};

class Reader {
 public:
  Reader(const std::string& file, const std::string& folder, const std::string& call)
      : file_(file), folder_(folder), call_(call) {}

  XModel Read(const std::uint8_t* data, std::size_t size);

 private:
  [[noreturn]] void Fail(const std::string& cause) const { throw platform::Error(call_, cause, file_); }

  void ReadGlb(const std::uint8_t* data, std::size_t size, Span& json);
  void CheckJsonShape(const std::uint8_t* text, std::size_t size) const;
  void CheckAssetAndExtensions() const;

  const Json& Top(const char* key) const;
  const Json& Element(const char* array, std::size_t i) const;
  std::uint64_t Whole(const Json& o, const char* key, const std::string& where,
                      std::optional<std::uint64_t> fallback) const;
  std::size_t Index(const Json& o, const char* key, const std::string& where, const char* array) const;
  template <std::size_t N>
  std::array<double, N> Numbers(const Json* o, const char* key, const std::string& where,
                                const std::array<double, N>& fallback) const;
  const std::string& String(const Json& v, const std::string& where) const;

  std::vector<std::uint8_t> DecodeDataUri(const std::string& uri, const std::string& where,
                                          std::size_t cap) const;
  std::vector<std::uint8_t> ReadBeside(const std::string& uri, const std::string& where,
                                       std::size_t cap) const;
  std::string CheckedName(const std::string& uri, const std::string& where) const;

  void LoadBuffers();
  Span BufferView(std::size_t index, std::size_t* stride) const;
  Accessor Access(std::size_t index, const Rule& rule) const;

  std::vector<Draw> Draws() const;
  // The triangles and vertices the draws add up to.
  std::pair<std::size_t, std::size_t> CheckSize(const std::vector<Draw>& draws) const;
  XMaterial Material(const Json& m, const std::string& where);
  void LoadImage(std::size_t index, XMaterial& out);
  void AddPrimitive(const Json& primitive, const std::string& where, const Matrix& world,
                    std::uint32_t material, XModel& model) const;

  const std::string& file_;
  const std::string& folder_;
  const std::string& call_;
  Json doc_;
  bool glb_ = false;
  Span bin_;
  bool hasBin_ = false;
  std::deque<std::vector<std::uint8_t>> owned_;  // buffers decoded or read beside the model
  std::vector<Span> buffers_;
  std::size_t imageBytes_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The container: GLB chunks, the JSON text's shape, the asset and its required extensions.

void Reader::ReadGlb(const std::uint8_t* data, std::size_t size, Span& json) {
  if (size < 12) Fail("the GLB header is cut short (" + Str(size) + " bytes)");
  const std::uint32_t version = Le32(data + 4), length = Le32(data + 8);
  if (version != 2) Fail("the GLB is version " + Str(version) + "; this reader reads version 2");
  if (length > size) Fail("the GLB header claims " + Str(length) + " bytes, but the file holds " + Str(size));
  if (length % 4 != 0) Fail("the GLB length " + Str(length) + " is not a multiple of 4");
  if (length < 20) Fail("the GLB has no JSON chunk");
  const std::uint32_t jsonLength = Le32(data + 12), jsonType = Le32(data + 16);
  if (jsonType != kChunkJson) Fail("the GLB's first chunk is not its JSON chunk");
  if (jsonLength % 4 != 0) Fail("the GLB's JSON chunk length " + Str(jsonLength) + " is not a multiple of 4");
  if (jsonLength > length - 20)
    Fail("the GLB's JSON chunk claims " + Str(jsonLength) + " bytes, past the end of the file (" +
         Str(length) + " bytes)");
  json = {data + 20, jsonLength};
  const std::size_t at = 20 + static_cast<std::size_t>(jsonLength);
  if (length - at < 8) return;
  const std::uint32_t binLength = Le32(data + at), binType = Le32(data + at + 4);
  if (binType != kChunkBin) return;  // chunks of other types are skipped
  if (binLength % 4 != 0) Fail("the GLB's binary chunk length " + Str(binLength) + " is not a multiple of 4");
  if (binLength > length - at - 8)
    Fail("the GLB's binary chunk claims " + Str(binLength) + " bytes, past the end of the file (" +
         Str(length) + " bytes)");
  bin_ = {data + at + 8, binLength};
  hasBin_ = true;
}

void Reader::CheckJsonShape(const std::uint8_t* text, std::size_t size) const {
  int depth = 0;
  std::size_t values = 0;
  bool inString = false;
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
      continue;
    }
    if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxGltfNesting)
        Fail("its JSON nests arrays and objects more than " + Str(kMaxGltfNesting) + " deep");
      ++values;
    } else if (c == ']' || c == '}') {
      depth = std::max(depth - 1, 0);
    } else if (c == ',') {
      ++values;
    }
  }
  if (values > kMaxGltfJsonValues)
    Fail("its JSON holds more than " + Str(kMaxGltfJsonValues) + " values, more than a model may have");
}

void Reader::CheckAssetAndExtensions() const {
  if (!doc_.is_object()) Fail("its JSON is not an object");
  const Json* asset = Find(doc_, "asset");
  const Json* version = asset ? Find(*asset, "version") : nullptr;
  if (version == nullptr || !version->is_string()) Fail("it has no asset.version: it is not a glTF file");
  const std::string& v = version->get_ref<const std::string&>();
  if (v.size() < 2 || v[0] != '2' || v[1] != '.')
    Fail("it is glTF version \"" + v + "\"; this reader reads glTF 2.0");
  if (const Json* required = Find(doc_, "extensionsRequired")) {
    if (!required->is_array()) Fail("extensionsRequired is not an array");
    for (const Json& name : *required) {
      const std::string& ext = String(name, "extensionsRequired");
      // The commands that turn such a model into one this reader reads (gltf-transform 4.5).
      std::string how = "re-export the model without compression (Blender: glTF 2.0 with Compression off)";
      if (ext == "KHR_draco_mesh_compression")
        how = "re-export the model without compression: gltf-transform copy IN.glb OUT.glb, or Blender's glTF "
              "exporter with Compression off";
      else if (ext == "EXT_meshopt_compression" || ext == "KHR_mesh_quantization")
        how = "re-export the model without compression: gltf-transform dequantize IN.glb OUT.glb";
      else if (ext == "KHR_texture_basisu")
        how = "re-export the model without compression, its textures as PNG or JPEG";
      Fail("the model needs the glTF extension " + ext + ", which this reader does not read: " + how);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// JSON values, each checked for its type and range, errors naming where in the file they are.

const Json& Reader::Top(const char* key) const {
  static const Json kNone = Json::array();
  const Json* v = Find(doc_, key);
  if (v == nullptr) return kNone;
  if (!v->is_array()) Fail(std::string(key) + " is not an array");
  return *v;
}

const Json& Reader::Element(const char* array, std::size_t i) const {
  const Json& list = Top(array);
  if (i >= list.size()) Fail(Path(array, i) + " does not exist");
  const Json& o = list[i];
  if (!o.is_object()) Fail(Path(array, i) + " is not an object");
  return o;
}

std::uint64_t Reader::Whole(const Json& o, const char* key, const std::string& where,
                            std::optional<std::uint64_t> fallback) const {
  const Json* v = Find(o, key);
  if (v == nullptr) {
    if (!fallback) Fail(where + " has no " + key);
    return *fallback;
  }
  const auto n = WholeNumber(*v);
  if (!n) Fail(where + "." + key + " is not a whole number from 0 up");
  return *n;
}

std::size_t Reader::Index(const Json& o, const char* key, const std::string& where, const char* array) const {
  const std::uint64_t i = Whole(o, key, where, std::nullopt);
  if (i >= Top(array).size()) Fail(where + "." + key + " names " + Path(array, i) + ", which does not exist");
  return static_cast<std::size_t>(i);
}

template <std::size_t N>
std::array<double, N> Reader::Numbers(const Json* o, const char* key, const std::string& where,
                                      const std::array<double, N>& fallback) const {
  const Json* v = o ? Find(*o, key) : nullptr;
  if (v == nullptr) return fallback;
  if (!v->is_array() || v->size() != N)
    Fail(where + "." + key + " is not an array of " + Str(N) + " numbers");
  std::array<double, N> out{};
  for (std::size_t i = 0; i < N; ++i) {
    const Json& e = (*v)[i];
    if (!e.is_number() || !std::isfinite(e.get<double>()))
      Fail(where + "." + key + " holds a value that is no number");
    out[i] = e.get<double>();
  }
  return out;
}

const std::string& Reader::String(const Json& v, const std::string& where) const {
  if (!v.is_string()) Fail(where + " is not a string");
  return v.get_ref<const std::string&>();
}

// ---------------------------------------------------------------------------------------------
// Buffers, buffer views and accessors.

std::vector<std::uint8_t> Reader::DecodeDataUri(const std::string& uri, const std::string& where,
                                                std::size_t cap) const {
  const std::size_t comma = uri.find(',');
  if (comma == std::string::npos) Fail(where + " holds a data URI without ','");
  const std::string_view header(uri.data() + 5, comma - 5);
  if (header.size() < 7 || header.substr(header.size() - 7) != ";base64")
    Fail(where + " holds a data URI that is not base64");
  const std::size_t digits = uri.size() - comma - 1;
  // Checked before decoding: the bytes the digits stand for.
  if (digits / 4 * 3 > cap)
    Fail(where + " holds a data URI of about " + Str(digits / 4 * 3) + " bytes, more than the " +
         Str(cap >> 20) + " MB it may have");
  std::vector<std::uint8_t> out;
  out.reserve(digits / 4 * 3 + 3);
  std::uint32_t bits = 0;
  int held = 0;
  std::size_t i = comma + 1;
  for (; i < uri.size() && uri[i] != '='; ++i) {
    const int d = Base64Digit(static_cast<unsigned char>(uri[i]));
    if (d < 0) Fail(where + " holds a data URI with a character that is not base64");
    bits = (bits << 6) | static_cast<std::uint32_t>(d);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(static_cast<std::uint8_t>(bits >> held));
    }
  }
  for (; i < uri.size(); ++i)
    if (uri[i] != '=') Fail(where + " holds a data URI with base64 digits after its padding");
  return out;
}

std::string Reader::CheckedName(const std::string& uri, const std::string& where) const {
  if (folder_.empty())
    Fail(where + " names the file \"" + uri + "\", and a model read on its own may not name other files");
  const std::string name = DecodeUriPath(uri, file_, call_);
  if (name.find('\0') != std::string::npos) Fail(where + " names \"" + uri + "\", a name holding NUL");
  ModelFilePath(folder_, name, file_, call_);
  return name;
}

std::vector<std::uint8_t> Reader::ReadBeside(const std::string& uri, const std::string& where,
                                             std::size_t cap) const {
  const std::string path = ModelFilePath(folder_, CheckedName(uri, where), file_, call_);
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) Fail(where + " names \"" + uri + "\", which cannot be read: " + error.message());
  if (size > cap)
    Fail(where + " names \"" + uri + "\", a file of " + Str(size) + " bytes, more than the " +
         Str(cap >> 20) + " MB it may have");
  return ReadFile(call_, path);
}

void Reader::LoadBuffers() {
  const Json& list = Top("buffers");
  std::size_t total = 0;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string where = Path("buffers", i);
    const Json& b = Element("buffers", i);
    const std::uint64_t length = Whole(b, "byteLength", where, std::nullopt);
    if (length > kMaxGltfBuffers - total)
      Fail(where + " claims " + Str(length) + " bytes; a model's buffers may hold " +
           Str(kMaxGltfBuffers >> 20) + " MB together");
    total += static_cast<std::size_t>(length);
    const Json* uri = Find(b, "uri");
    if (uri == nullptr) {
      if (i != 0 || !hasBin_) Fail(where + " has no uri, and the file has no binary chunk it could mean");
      if (length > bin_.size)
        Fail(where + " claims " + Str(length) + " bytes, but the binary chunk holds " + Str(bin_.size));
      buffers_.push_back({bin_.data, static_cast<std::size_t>(length)});
      continue;
    }
    const std::string& u = String(*uri, where + ".uri");
    owned_.push_back(IsDataUri(u) ? DecodeDataUri(u, where + ".uri", kMaxGltfBuffers)
                                  : ReadBeside(u, where + ".uri", kMaxGltfBuffers));
    if (owned_.back().size() < length)
      Fail(where + " claims " + Str(length) + " bytes, but its data holds " + Str(owned_.back().size()));
    buffers_.push_back({owned_.back().data(), static_cast<std::size_t>(length)});
  }
}

Span Reader::BufferView(std::size_t index, std::size_t* stride) const {
  const std::string where = Path("bufferViews", index);
  const Json& v = Element("bufferViews", index);
  const Span& buffer = buffers_[Index(v, "buffer", where, "buffers")];
  const std::uint64_t offset = Whole(v, "byteOffset", where, 0),
                      length = Whole(v, "byteLength", where, std::nullopt);
  if (offset > buffer.size || length > buffer.size - offset)
    Fail(where + " (bytes " + Str(offset) + " to " + Str(offset + length) + ") lies outside its buffer of " +
         Str(buffer.size) + " bytes");
  if (stride != nullptr) {
    const std::uint64_t s = Whole(v, "byteStride", where, 0);
    if (s != 0 && (s < 4 || s > 252 || s % 4 != 0))
      Fail(where + ".byteStride " + Str(s) + " is not a multiple of 4 from 4 to 252");
    *stride = static_cast<std::size_t>(s);
  }
  return {buffer.data + offset, static_cast<std::size_t>(length)};
}

Accessor Reader::Access(std::size_t index, const Rule& rule) const {
  Accessor a;
  a.where = Path("accessors", index);
  const Json& o = Element("accessors", index);
  if (Find(o, "sparse")) Fail(a.where + " is sparse, which this reader does not read");
  const Json* typeName = Find(o, "type");
  if (typeName == nullptr) Fail(a.where + " has no type");
  const std::string& type = String(*typeName, a.where + ".type");
  static const std::array<const char*, 4> kTypes{"SCALAR", "VEC2", "VEC3", "VEC4"};
  for (int n = 0; n < 4; ++n)
    if (type == kTypes[static_cast<std::size_t>(n)]) a.components = n + 1;
  const std::uint64_t componentType = Whole(o, "componentType", a.where, std::nullopt);
  a.componentType = componentType <= kFloat ? static_cast<int>(componentType) : 0;
  if (const Json* n = Find(o, "normalized")) {
    if (!n->is_boolean()) Fail(a.where + ".normalized is not true or false");
    a.normalized = n->get<bool>();
  }
  const bool unsignedSmall = a.componentType == kUnsignedByte || a.componentType == kUnsignedShort;
  const bool fits =
      a.components >= rule.minComponents && a.components <= rule.maxComponents &&
      ((rule.floats && a.componentType == kFloat) ||
       (rule.normalizedUnsigned && unsignedSmall && a.normalized) ||
       (rule.plainUnsigned && (unsignedSmall || a.componentType == kUnsignedInt) && !a.normalized));
  if (!fits)
    Fail(a.where + " holds " + type + " of component type " + Str(componentType) +
         (a.normalized ? " (normalized)" : "") + ", which " + rule.use + " cannot be");
  const std::size_t element = static_cast<std::size_t>(a.components * ComponentSize(a.componentType));
  const std::uint64_t count = Whole(o, "count", a.where, std::nullopt);
  a.count = static_cast<std::size_t>(count);
  a.stride = element;
  if (!Find(o, "bufferView")) {
    if (rule.needsData) Fail(a.where + " has no bufferView, which " + rule.use + " must have");
    return a;
  }
  std::size_t stride = 0;
  const Span view = BufferView(Index(o, "bufferView", a.where, "bufferViews"), &stride);
  if (stride != 0) {
    if (stride < element)
      Fail(a.where + " has elements of " + Str(element) + " bytes, longer than their stride");
    a.stride = stride;
  }
  const std::uint64_t offset = Whole(o, "byteOffset", a.where, 0);
  // Both below 2^53 and the stride below 256: no overflow.
  const std::uint64_t end = count == 0 ? offset : offset + (count - 1) * a.stride + element;
  if (end > view.size)
    Fail(a.where + " needs " + Str(end) + " bytes of its bufferView, which holds " + Str(view.size));
  a.data = view.data + offset;
  return a;
}

// ---------------------------------------------------------------------------------------------
// The node tree, flattened into one draw per node that has a mesh.

std::vector<Draw> Reader::Draws() const {
  const Json& nodes = Top("nodes");
  if (nodes.size() > kMaxGltfNodes)
    Fail("it has " + Str(nodes.size()) + " nodes, more than the " + Str(kMaxGltfNodes) + " a model may have");
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::vector<std::size_t> parent(nodes.size(), kNone);
  for (std::size_t n = 0; n < nodes.size(); ++n) {
    const std::string where = Path("nodes", n);
    const Json* children = Find(Element("nodes", n), "children");
    if (children == nullptr) continue;
    if (!children->is_array()) Fail(where + ".children is not an array");
    for (std::size_t k = 0; k < children->size(); ++k) {
      const auto c = WholeNumber((*children)[k]);
      if (!c || *c >= nodes.size()) Fail(where + ".children[" + Str(k) + "] names no node");
      if (parent[*c] != kNone)
        Fail(Path("nodes", *c) + " is the child of both " + Path("nodes", parent[*c]) + " and " + where);
      parent[*c] = n;
    }
  }

  std::vector<std::size_t> roots;
  const Json* sceneIndex = Find(doc_, "scene");
  const Json& scenes = Top("scenes");
  if (sceneIndex != nullptr || !scenes.empty()) {
    const std::size_t s = sceneIndex ? Index(doc_, "scene", "the model", "scenes") : 0;
    const std::string where = Path("scenes", s);
    const Json* list = Find(Element("scenes", s), "nodes");
    if (list != nullptr && !list->is_array()) Fail(where + ".nodes is not an array");
    if (list != nullptr)
      for (std::size_t k = 0; k < list->size(); ++k) {
        const auto n = WholeNumber((*list)[k]);
        if (!n || *n >= nodes.size()) Fail(where + ".nodes[" + Str(k) + "] names no node");
        if (parent[*n] != kNone)
          Fail(where + " names " + Path("nodes", *n) + ", which is the child of " +
               Path("nodes", parent[*n]));
        roots.push_back(static_cast<std::size_t>(*n));
      }
  } else {
    for (std::size_t n = 0; n < nodes.size(); ++n)
      if (parent[n] == kNone) roots.push_back(n);
  }

  // Every node reached from a root without a parent, and a node whose parents lead round in a circle
  // is never reached that way: refused, whether the scene draws it or not.
  std::vector<char> reached(nodes.size(), 0);
  std::vector<std::size_t> stack;
  for (std::size_t n = 0; n < nodes.size(); ++n)
    if (parent[n] == kNone) stack.push_back(n);
  while (!stack.empty()) {
    const std::size_t n = stack.back();
    stack.pop_back();
    reached[n] = 1;
    if (const Json* children = Find(nodes[n], "children"))
      for (const Json& c : *children) stack.push_back(c.get<std::size_t>());
  }
  for (std::size_t n = 0; n < nodes.size(); ++n)
    if (!reached[n]) Fail(Path("nodes", n) + " is part of a cycle of nodes, each the child of the next");

  std::vector<Draw> draws;
  std::vector<char> drawn(nodes.size(), 0);
  std::vector<std::pair<std::size_t, Matrix>> pending;
  for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.emplace_back(*it, kIdentity);
  while (!pending.empty()) {
    const auto [n, parentWorld] = pending.back();
    pending.pop_back();
    const std::string where = Path("nodes", n);
    if (drawn[n]) Fail(where + " is named twice by the scene");
    drawn[n] = 1;
    const Json& node = nodes[n];
    Matrix local;
    if (Find(node, "matrix")) {
      local = Numbers<16>(&node, "matrix", where, kIdentity);
    } else {
      local = Compose(Numbers<3>(&node, "translation", where, {0, 0, 0}),
                      Numbers<4>(&node, "rotation", where, {0, 0, 0, 1}),
                      Numbers<3>(&node, "scale", where, {1, 1, 1}));
    }
    const Matrix world = Multiply(parentWorld, local);
    if (Find(node, "mesh")) {
      if (draws.size() == kMaxGltfDraws)
        Fail("it draws meshes at more than " + Str(kMaxGltfDraws) + " nodes, more than a model may");
      draws.push_back({Index(node, "mesh", where, "meshes"), world});
    }
    if (const Json* children = Find(node, "children"))
      for (auto c = children->rbegin(); c != children->rend(); ++c)
        pending.emplace_back(c->get<std::size_t>(), world);
  }
  return draws;
}

// The model's size from the accessors' counts, refused before anything is sized by them; then the
// positions and indices those counts claim are checked to lie inside their buffers.
std::pair<std::size_t, std::size_t> Reader::CheckSize(const std::vector<Draw>& draws) const {
  std::uint64_t triangles = 0, vertices = 0;
  for (const Draw& d : draws) {
    const std::string mesh = Path("meshes", d.mesh);
    const Json* primitives = Find(Element("meshes", d.mesh), "primitives");
    if (primitives == nullptr || !primitives->is_array()) Fail(mesh + " has no primitives array");
    for (std::size_t p = 0; p < primitives->size(); ++p) {
      const std::string where = mesh + ".primitives[" + Str(p) + "]";
      const Json& primitive = (*primitives)[p];
      if (!primitive.is_object()) Fail(where + " is not an object");
      const std::uint64_t mode = Whole(primitive, "mode", where, kTriangles);
      if (mode < kTriangles || mode > kTriangleFan) continue;
      const Json* attributes = Find(primitive, "attributes");
      if (attributes == nullptr || !Find(*attributes, "POSITION")) Fail(where + " has no POSITION");
      const std::size_t positions = Index(*attributes, "POSITION", where + ".attributes", "accessors");
      const std::uint64_t count =
          Whole(Element("accessors", positions), "count", "its POSITION accessor", std::nullopt);
      std::uint64_t corners = count;
      const bool indexed = Find(primitive, "indices") != nullptr;
      if (indexed)
        corners = Whole(Element("accessors", Index(primitive, "indices", where, "accessors")), "count",
                        "its indices accessor", std::nullopt);
      const std::uint64_t t = mode == kTriangles ? corners / 3 : (corners >= 3 ? corners - 2 : 0);
      if (t > kMaxModelTriangles - triangles)
        Fail("the model has more than " + Str(kMaxModelTriangles) + " triangles, all its meshes drawn");
      if (count > kMaxModelVertices - vertices)
        Fail("the model has more than " + Str(kMaxModelVertices) + " vertices, all its meshes drawn");
      triangles += t;
      vertices += count;
      // Within the limits: now the bytes those counts need must be there.
      Access(positions, kPositionRule);
      if (indexed) Access(Index(primitive, "indices", where, "accessors"), kIndexRule);
    }
  }
  return {static_cast<std::size_t>(triangles), static_cast<std::size_t>(vertices)};
}

// ---------------------------------------------------------------------------------------------
// Materials and the images their base colour textures name.

void Reader::LoadImage(std::size_t index, XMaterial& out) {
  const std::string where = Path("images", index);
  const Json& image = Element("images", index);
  std::vector<std::uint8_t> bytes;
  if (const Json* uri = Find(image, "uri")) {
    const std::string& u = String(*uri, where + ".uri");
    if (!IsDataUri(u)) {
      out.textureFilename = CheckedName(u, where + ".uri");
      return;
    }
    bytes = DecodeDataUri(u, where + ".uri", kMaxGltfImages);
  } else if (Find(image, "bufferView")) {
    const Span view = BufferView(Index(image, "bufferView", where, "bufferViews"), nullptr);
    if (view.size > kMaxGltfImages)
      Fail(where + " has more than the " + Str(kMaxGltfImages >> 20) + " MB it may have");
    bytes.assign(view.data, view.data + view.size);
  } else {
    Fail(where + " has neither a uri nor a bufferView");
  }
  if (bytes.size() > kMaxGltfImages - imageBytes_)
    Fail("its materials carry more than " + Str(kMaxGltfImages >> 20) + " MB of images");
  imageBytes_ += bytes.size();
  out.textureFilename = BaseName(file_) + "#image" + Str(index);
  out.textureData = std::move(bytes);
}

XMaterial Reader::Material(const Json& m, const std::string& where) {
  XMaterial out;
  const Json* pbr = Find(m, "pbrMetallicRoughness");
  const auto base = Numbers<4>(pbr, "baseColorFactor", where + ".pbrMetallicRoughness", {1, 1, 1, 1});
  const auto emissive = Numbers<3>(&m, "emissiveFactor", where, {0, 0, 0});
  auto& d = out.material;
  d.Diffuse = {static_cast<float>(base[0]), static_cast<float>(base[1]), static_cast<float>(base[2]),
               static_cast<float>(base[3])};
  d.Ambient = d.Diffuse;
  d.Specular = {0.0f, 0.0f, 0.0f, 0.0f};
  d.Emissive = {static_cast<float>(emissive[0]), static_cast<float>(emissive[1]),
                static_cast<float>(emissive[2]), 1.0f};
  d.Power = 0.0f;
  if (const Json* mode = Find(m, "alphaMode")) {
    const std::string& s = String(*mode, where + ".alphaMode");
    if (s == "OPAQUE")
      out.alphaMode = AlphaMode::Opaque;
    else if (s == "MASK")
      out.alphaMode = AlphaMode::Mask;
    else if (s == "BLEND")
      out.alphaMode = AlphaMode::Blend;
    else
      Fail(where + ".alphaMode \"" + s + "\" is none of OPAQUE, MASK, BLEND");
  }
  if (const Json* cutoff = Find(m, "alphaCutoff")) {
    if (!cutoff->is_number() || !(cutoff->get<double>() >= 0.0))
      Fail(where + ".alphaCutoff is not a number from 0 up");
    out.alphaCutoff = cutoff->get<float>();
  }
  if (const Json* sides = Find(m, "doubleSided")) {
    if (!sides->is_boolean()) Fail(where + ".doubleSided is not true or false");
    out.doubleSided = sides->get<bool>();
  }
  const Json* texture = pbr ? Find(*pbr, "baseColorTexture") : nullptr;
  if (texture != nullptr) {
    const std::string at = where + ".pbrMetallicRoughness.baseColorTexture";
    const std::size_t t = Index(*texture, "index", at, "textures");
    // Only the first texture coordinates are read: a texture on other ones is left out.
    if (Whole(*texture, "texCoord", at, 0) == 0 && Find(Element("textures", t), "source"))
      LoadImage(Index(Element("textures", t), "source", Path("textures", t), "images"), out);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Primitives: vertices moved into the scene's left-handed space, triangles listed three indices each.

void Reader::AddPrimitive(const Json& primitive, const std::string& where, const Matrix& world,
                          std::uint32_t material, XModel& model) const {
  const std::uint64_t mode = Whole(primitive, "mode", where, kTriangles);
  const Json& attributes = *Find(primitive, "attributes");
  const std::string at = where + ".attributes";
  const Accessor position = Access(Index(attributes, "POSITION", at, "accessors"), kPositionRule);
  std::optional<Accessor> normal, texCoord, color;
  if (Find(attributes, "NORMAL")) normal = Access(Index(attributes, "NORMAL", at, "accessors"), kNormalRule);
  if (Find(attributes, "TEXCOORD_0"))
    texCoord = Access(Index(attributes, "TEXCOORD_0", at, "accessors"), kTexCoordRule);
  if (Find(attributes, "COLOR_0")) color = Access(Index(attributes, "COLOR_0", at, "accessors"), kColorRule);
  for (const auto* a : {&normal, &texCoord, &color})
    if (*a && (*a)->count != position.count)
      Fail((*a)->where + " has " + Str((*a)->count) + " elements, but POSITION has " + Str(position.count));

  const std::size_t base = model.vertices.size();
  const auto nm = NormalMatrix(world);
  model.vertices.resize(base + position.count);
  for (std::size_t i = 0; i < position.count; ++i) {
    XVertex& v = model.vertices[base + i];
    float p[3];  // positions are floats
    std::memcpy(p, position.data + i * position.stride, sizeof p);
    const double x = p[0], y = p[1], z = p[2];
    const double px = world[0] * x + world[4] * y + world[8] * z + world[12];
    const double py = world[1] * x + world[5] * y + world[9] * z + world[13];
    const double pz = world[2] * x + world[6] * y + world[10] * z + world[14];
    if (!std::isfinite(px) || !std::isfinite(py) || !std::isfinite(pz))
      Fail(position.where + " places vertex " + Str(i) + " at no finite point");
    v.position = {static_cast<float>(px), static_cast<float>(py), static_cast<float>(-pz)};
    if (normal) {
      const double a = Component(*normal, i, 0), b = Component(*normal, i, 1), c = Component(*normal, i, 2);
      double nx = nm[0] * a + nm[1] * b + nm[2] * c, ny = nm[3] * a + nm[4] * b + nm[5] * c,
             nz = nm[6] * a + nm[7] * b + nm[8] * c;
      const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
      if (len > 0.0 && std::isfinite(len)) {
        nx /= len, ny /= len, nz /= len;
      } else {
        nx = ny = nz = 0.0;
      }
      v.normal = {static_cast<float>(nx), static_cast<float>(ny), static_cast<float>(-nz)};
    }
    if (texCoord) {
      v.tu = Component(*texCoord, i, 0);
      v.tv = Component(*texCoord, i, 1);
    }
    if (color) {
      const std::uint32_t alpha = color->components == 4 ? ColorByte(*color, i, 3) : 255u;
      v.color = (alpha << 24) | (ColorByte(*color, i, 0) << 16) | (ColorByte(*color, i, 1) << 8) |
                ColorByte(*color, i, 2);
    }
  }
  model.hasNormals |= normal.has_value();
  model.hasTexCoords |= texCoord.has_value();
  model.hasColors |= color.has_value();

  std::optional<Accessor> indices;
  if (Find(primitive, "indices"))
    indices = Access(Index(primitive, "indices", where, "accessors"), kIndexRule);
  // The corners in order, each checked to name a vertex, then turned into the mode's triangles.
  std::vector<std::uint32_t> corners(indices ? indices->count : position.count);
  for (std::size_t k = 0; k < corners.size(); ++k) {
    const std::uint32_t i = indices ? IndexAt(*indices, k) : static_cast<std::uint32_t>(k);
    if (i >= position.count)
      Fail((indices ? indices->where : position.where) + " names vertex " + Str(i) + ", but POSITION has " +
           Str(position.count));
    corners[k] = static_cast<std::uint32_t>(base) + i;
  }
  // Reversing each triangle keeps front faces front in the left-handed scene; a mirroring node
  // matrix reverses them once more.
  const bool mirrored = Determinant3(world) < 0.0;
  auto triangle = [&](std::size_t a, std::size_t b, std::size_t c) {
    model.indices.push_back(corners[a]);
    model.indices.push_back(corners[mirrored ? b : c]);
    model.indices.push_back(corners[mirrored ? c : b]);
    model.attributes.push_back(material);
  };
  const std::size_t n = corners.size();
  if (mode == kTriangles) {
    for (std::size_t k = 0; k + 3 <= n; k += 3) triangle(k, k + 1, k + 2);
  } else if (mode == kTriangleStrip) {
    for (std::size_t k = 0; k + 3 <= n; ++k) triangle(k, k + 1 + k % 2, k + 2 - k % 2);
  } else {
    for (std::size_t k = 1; k + 2 <= n; ++k) triangle(k, k + 1, 0);
  }
}

XModel Reader::Read(const std::uint8_t* data, std::size_t size) {
  if (size == 0) Fail("it is empty");
  Span json{data, size};
  glb_ = size >= 4 && Le32(data) == kGlbMagic;
  if (glb_) ReadGlb(data, size, json);
  if (json.size > kMaxGltfJson)
    Fail("its JSON text has " + Str(json.size) + " bytes, more than the " + Str(kMaxGltfJson >> 20) +
         " MB a model may have");
  // Some writers pad the JSON chunk with NULs rather than spaces.
  while (json.size > 0 && (json.data[json.size - 1] == 0 || json.data[json.size - 1] == ' ')) --json.size;
  CheckJsonShape(json.data, json.size);
  try {
    doc_ = Json::parse(json.data, json.data + json.size);
  } catch (const Json::exception& e) {
    Fail(std::string("its JSON cannot be read: ") + e.what());
  }
  CheckAssetAndExtensions();

  const std::vector<Draw> draws = Draws();
  LoadBuffers();
  const auto [triangles, vertices] = CheckSize(draws);

  XModel model;
  model.vertices.reserve(vertices);
  model.indices.reserve(triangles * 3);
  model.attributes.reserve(triangles);
  model.format = glb_ ? ModelFormat::Glb : ModelFormat::Gltf;
  model.binary = glb_;
  const Json& materials = Top("materials");
  for (std::size_t m = 0; m < materials.size(); ++m)
    model.materials.push_back(Material(Element("materials", m), Path("materials", m)));
  std::optional<std::uint32_t> fallback;  // glTF's default material, added when a primitive names none
  for (const Draw& d : draws) {
    const Json& primitives = *Find(Element("meshes", d.mesh), "primitives");
    for (std::size_t p = 0; p < primitives.size(); ++p) {
      const std::string where = Path("meshes", d.mesh) + ".primitives[" + Str(p) + "]";
      const std::uint64_t mode = Whole(primitives[p], "mode", where, kTriangles);
      if (mode < kTriangles || mode > kTriangleFan) continue;  // points and lines draw nothing here
      std::uint32_t material;
      if (Find(primitives[p], "material")) {
        material = static_cast<std::uint32_t>(Index(primitives[p], "material", where, "materials"));
      } else {
        if (!fallback) {
          fallback = static_cast<std::uint32_t>(model.materials.size());
          model.materials.push_back(Material(Json::object(), "the default material"));
        }
        material = *fallback;
      }
      AddPrimitive(primitives[p], where, d.world, material, model);
    }
  }
  return model;
}

}  // namespace

XModel ParseGltf(const std::uint8_t* data, std::size_t size, const std::string& file,
                 const std::string& folder, const std::string& call) {
  return Reader(file, folder, call).Read(data, size);
}

bool LooksLikeGltf(const std::uint8_t* data, std::size_t size) {
  if (size >= 4 && Le32(data) == kGlbMagic) return true;
  const std::string_view text(reinterpret_cast<const char*>(data), std::min<std::size_t>(size, 256u << 10));
  std::size_t i = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\r' || text[i] == '\n')) ++i;
  return i < text.size() && text[i] == '{' && text.find("\"asset\"", i) != std::string_view::npos;
}

}  // namespace d3dx
