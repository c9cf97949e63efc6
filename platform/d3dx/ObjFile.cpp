#include "platform/d3dx/ObjFile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <set>
#include <string_view>
#include <system_error>
#include <unordered_map>

#include "platform/base/Error.h"
#include "platform/d3dx/ModelUri.h"
#include "platform/d3dx/Texture.h"

namespace d3dx {

namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();
// How many earlier vertices at one position a corner is compared with before it gets a vertex of
// its own: a position shared by many texture coordinates then costs a few duplicates, never time
// that grows with the square of the file.
constexpr int kMaxSharedCompares = 16;

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// A name or word for a message, cut short when a hostile file makes it long.
std::string Quote(std::string_view s) {
  constexpr std::size_t kShown = 100;
  return "\"" + std::string(s.substr(0, kShown)) + (s.size() > kShown ? "...\"" : "\"");
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

// The next whitespace-separated word of `rest`, which is advanced past it; empty at the end.
std::string_view NextWord(std::string_view& rest) {
  rest = Trim(rest);
  std::size_t n = 0;
  while (n < rest.size() && !IsSpace(rest[n])) ++n;
  const std::string_view word = rest.substr(0, n);
  rest.remove_prefix(n);
  return word;
}

// One text file read line by line: '#' starts a comment, '\r' is white space. The whole file is
// checked first, so that nothing is built from a file that turns out not to be text.
class Lines {
 public:
  Lines(const std::uint8_t* data, std::size_t size, const std::string& file, const std::string& call,
        std::size_t maxSize)
      : text_(reinterpret_cast<const char*>(data), size), file_(file), call_(call) {
    if (size > maxSize)
      throw platform::Error(call, "the file is larger than " + std::to_string(maxSize >> 20) + " MB", file);
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);
    std::size_t line = 1, start = 0;
    for (std::size_t i = 0; i < text_.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text_[i]);
      if (c == '\n') {
        ++line;
        start = i + 1;
      } else if (c < 0x20 && c != '\t' && c != '\r' && c != '\v' && c != '\f') {
        throw platform::Error(
            call, "line " + std::to_string(line) + ": the file is not text (byte " + std::to_string(c) + ")",
            file);
      } else if (i - start >= kMaxObjLine) {
        throw platform::Error(
            call,
            "line " + std::to_string(line) + " is longer than " + std::to_string(kMaxObjLine) + " bytes",
            file);
      }
    }
  }

  // The next line without its comment; false at the end of the file.
  bool Next(std::string_view& line) {
    if (pos_ > text_.size()) return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(pos_, end - pos_);
    const std::size_t hash = line.find('#');
    if (hash != std::string_view::npos) line = line.substr(0, hash);
    pos_ = end + 1;
    ++number_;
    return true;
  }

  void Rewind() { pos_ = 0, number_ = 0; }

  [[noreturn]] void Fail(const std::string& cause) const {
    throw platform::Error(call_, "line " + std::to_string(number_) + ": " + cause, file_);
  }

  // A number as a float: finite and within a float's range; a value too small for one becomes 0.
  float Float(std::string_view word) const {
    const std::string_view written = word;
    if (word.size() > 1 && word[0] == '+' && word[1] != '-') word.remove_prefix(1);
    float f = 0.0f;
    const char* end = word.data() + word.size();
    auto [p, ec] = std::from_chars(word.data(), end, f);
    if (ec == std::errc::result_out_of_range) {
      // Too large, or too small: only the written exponent tells which without a second parse.
      double d = 0.0;
      auto [pd, ecd] = std::from_chars(word.data(), end, d);
      if (ecd == std::errc() && std::abs(d) <= std::numeric_limits<float>::max()) {
        f = static_cast<float>(d), p = pd, ec = std::errc();
      } else {
        const std::size_t e = word.find_first_of("eE");
        const bool tiny = e != std::string_view::npos && e + 1 < word.size() && word[e + 1] == '-';
        if (!tiny) Fail("the number " + Quote(written) + " is too large");
        f = 0.0f, p = end, ec = std::errc();
      }
    }
    if (ec != std::errc() || p != end) Fail(Quote(written) + " is not a number");
    if (!std::isfinite(f)) Fail("the number " + Quote(written) + " is not finite");
    return f;
  }

  std::size_t number() const { return number_; }

 private:
  std::string_view text_;
  const std::string& file_;
  const std::string& call_;
  std::size_t pos_ = 0, number_ = 0;
};

float Clamp01(float v) {
  return std::clamp(v, 0.0f, 1.0f);
}

d3d::D3DCOLOR ColorOf(const float rgb[3]) {
  std::uint32_t c = 0xFF000000u;
  for (int i = 0; i < 3; ++i)
    c |= static_cast<std::uint32_t>(std::nearbyint(Clamp01(rgb[i]) * 255.0f)) << (16 - 8 * i);
  return c;
}

// ---------------------------------------------------------------------------------------------
// Material libraries.

struct MtlMaterial {
  float kd[3] = {1.0f, 1.0f, 1.0f};
  float ke[3] = {0.0f, 0.0f, 0.0f};
  float d = 1.0f, tr = 0.0f;
  bool hasD = false, hasTr = false;
  std::string map;
};

using Library = std::unordered_map<std::string, MtlMaterial>;

// How many values an option of map_Kd takes: a fixed count ("-clamp on", "-mm 0 1"), or 0 for one to
// three numbers ("-s 2 2", "-o 0.5"), so that a name after them is not taken for a value.
int OptionValues(std::string_view option) {
  static const std::pair<std::string_view, int> kFixed[] = {
      {"-blendu", 1}, {"-blendv", 1}, {"-boost", 1},   {"-mm", 2},   {"-texres", 1},
      {"-clamp", 1},  {"-bm", 1},     {"-imfchan", 1}, {"-type", 1}, {"-cc", 1}};
  for (const auto& [name, count] : kFixed)
    if (option == name) return count;
  return 0;
}

bool LooksNumeric(std::string_view w) {
  if (!w.empty() && (w[0] == '-' || w[0] == '+')) w.remove_prefix(1);
  return !w.empty() && (std::isdigit(static_cast<unsigned char>(w[0])) || w[0] == '.');
}

// The file name of a map_Kd line: its options skipped, then the rest of the line (spaces kept).
std::string_view MapName(std::string_view rest) {
  for (;;) {
    rest = Trim(rest);
    if (rest.empty() || rest[0] != '-') return rest;
    const std::string_view option = NextWord(rest);
    const int fixed = OptionValues(option);
    for (int i = 0; i < (fixed > 0 ? fixed : 3); ++i) {
      std::string_view probe = rest;
      if (fixed == 0 && !LooksNumeric(NextWord(probe))) break;
      NextWord(rest);
    }
  }
}

void ReadColor(Lines& lines, std::string_view rest, float out[3]) {
  std::string_view first = NextWord(rest);
  if (first == "spectral" || first == "xyz") return;  // other colour models: the default stays
  out[0] = Clamp01(lines.Float(first));
  const std::string_view g = NextWord(rest);
  if (g.empty()) {
    out[1] = out[2] = out[0];
    return;
  }
  out[1] = Clamp01(lines.Float(g));
  out[2] = Clamp01(lines.Float(NextWord(rest)));
}

// Reads the materials named in `wanted` that `library` lacks; the others are skipped unkept, so a
// library of a million materials costs only its reading.
void ReadLibrary(const std::uint8_t* data, std::size_t size, const std::string& path, const std::string& call,
                 const std::unordered_map<std::string_view, std::uint32_t>& wanted, Library& library) {
  Lines lines(data, size, path, call, kMaxMtlFile);
  MtlMaterial* current = nullptr;
  Library read;
  std::string_view line;
  while (lines.Next(line)) {
    std::string_view rest = line;
    const std::string_view key = NextWord(rest);
    if (key == "newmtl") {
      const std::string name(Trim(rest));
      // A name given twice keeps its first definition, as the first library read keeps its own.
      const bool fresh = wanted.count(name) && !read.count(name) && !library.count(name);
      current = fresh ? &read[name] : nullptr;
      continue;
    }
    if (current == nullptr) continue;
    if (key == "Kd") {
      ReadColor(lines, rest, current->kd);
    } else if (key == "Ke") {
      ReadColor(lines, rest, current->ke);
    } else if (key == "d") {
      std::string_view value = NextWord(rest);
      if (value == "-halo") value = NextWord(rest);
      current->d = Clamp01(lines.Float(value)), current->hasD = true;
    } else if (key == "Tr") {
      current->tr = Clamp01(lines.Float(NextWord(rest))), current->hasTr = true;
    } else if (key == "map_Kd") {
      current->map = std::string(MapName(rest));
    }
  }
  library.merge(read);
}

XMaterial WhiteMaterial() {
  XMaterial m;
  m.material.Diffuse = {1.0f, 1.0f, 1.0f, 1.0f};
  m.material.Ambient = m.material.Diffuse;
  m.material.Emissive = {0.0f, 0.0f, 0.0f, 1.0f};
  return m;
}

XMaterial MaterialOf(const MtlMaterial& mtl) {
  XMaterial m = WhiteMaterial();
  const float alpha = mtl.hasD ? mtl.d : mtl.hasTr ? 1.0f - mtl.tr : 1.0f;
  m.material.Diffuse = {mtl.kd[0], mtl.kd[1], mtl.kd[2], alpha};
  m.material.Ambient = m.material.Diffuse;
  m.material.Emissive = {mtl.ke[0], mtl.ke[1], mtl.ke[2], 1.0f};
  m.alphaMode = alpha < 1.0f ? AlphaMode::Blend : AlphaMode::Opaque;
  return m;
}

// ---------------------------------------------------------------------------------------------
// The OBJ.

struct Counts {
  std::size_t v = 0, vt = 0, vn = 0, corners = 0, triangles = 0;
};

class ObjReader {
 public:
  ObjReader(const std::uint8_t* data, std::size_t size, const std::string& file, const std::string& folder,
            const std::string& call)
      : lines_(data, size, file, call, kMaxObjFile), file_(file), folder_(folder), call_(call), size_(size) {}

  ObjModel Read() {
    Reserve(Counted());
    lines_.Rewind();
    std::string_view line;
    while (lines_.Next(line)) {
      std::string_view rest = line;
      const std::string_view key = NextWord(rest);
      if (key == "v") {
        Position(rest);
      } else if (key == "vt") {
        TexCoord(rest);
      } else if (key == "vn") {
        Normal(rest);
      } else if (key == "f") {
        Face(rest);
      } else if (key == "usemtl") {
        group_ = Trim(rest);
        groupMaterial_ = kNone;
      } else if (key == "mtllib") {
        libraryNames_.emplace_back(Trim(rest));
      }
    }
    if (out_.model.indices.empty()) throw platform::Error(call_, "the model has no faces", file_);
    out_.model.format = ModelFormat::Obj;
    out_.model.hasColors = !colors_.empty();
    Materials();
    return std::move(out_);
  }

 private:
  Counts Counted() {
    std::string_view line;
    Counts n;
    while (lines_.Next(line)) {
      std::string_view rest = line;
      const std::string_view key = NextWord(rest);
      if (key == "v") {
        ++n.v;
      } else if (key == "vt") {
        ++n.vt;
      } else if (key == "vn") {
        ++n.vn;
      } else if (key == "f") {
        std::size_t corners = 0;
        while (!NextWord(rest).empty()) ++corners;
        if (corners < 3)
          lines_.Fail("a face has " + std::to_string(corners) + " corners; it needs at least 3");
        n.corners += corners;
        n.triangles += corners - 2;
        if (n.triangles > kMaxModelTriangles)
          lines_.Fail("the model has more than " + std::to_string(kMaxModelTriangles) + " triangles");
      }
    }
    if (std::max({n.v, n.vt, n.vn}) > kMaxModelVertices)
      throw platform::Error(
          call_, "the model lists more than " + std::to_string(kMaxModelVertices) + " v, vt or vn", file_);
    return n;
  }

  // Sizes every list once from the counts, so that the memory the model takes is known before it is
  // filled and no list is copied while growing.
  void Reserve(const Counts& n) {
    const std::size_t vertexCost = sizeof(XVertex) + sizeof(Corner);
    const std::size_t fixed =
        size_ + n.v * (sizeof(d3d::D3DVECTOR) + sizeof(d3d::D3DCOLOR) + sizeof(std::uint32_t)) +
        n.vt * 2 * sizeof(float) + n.vn * sizeof(d3d::D3DVECTOR) + n.triangles * 4 * sizeof(std::uint32_t);
    if (fixed > kMaxObjMemory)
      throw platform::Error(call_, "the model needs more than " + std::to_string(kMaxObjMemory >> 20) + " MB",
                            file_);
    maxVertices_ = std::min({n.corners, kMaxModelVertices, (kMaxObjMemory - fixed) / vertexCost});
    positions_.reserve(n.v);
    texCoords_.reserve(n.vt);
    normals_.reserve(n.vn);
    heads_.reserve(n.v);
    out_.model.indices.reserve(n.triangles * 3);
    out_.model.attributes.reserve(n.triangles);
    out_.model.vertices.reserve(maxVertices_);
    corners_.reserve(maxVertices_);
    vPerLine_ = n.v;
  }

  void Position(std::string_view rest) {
    float f[7];
    int count = 0;
    for (std::string_view w = NextWord(rest); !w.empty(); w = NextWord(rest)) {
      if (count == 7) lines_.Fail("v has more than 6 numbers");
      f[count++] = lines_.Float(w);
    }
    if (count != 3 && count != 4 && count != 6)
      lines_.Fail("v has " + std::to_string(count) + " numbers; it takes x y z, x y z w or x y z r g b");
    positions_.push_back({f[0], f[1], -f[2]});
    heads_.push_back(kNone);
    if (count == 6) {
      // Positions read before the first coloured one are white.
      if (colors_.empty()) colors_.assign(positions_.size() - 1, 0xFFFFFFFFu), colors_.reserve(vPerLine_);
      colors_.push_back(ColorOf(f + 3));
    } else if (!colors_.empty()) {
      colors_.push_back(0xFFFFFFFFu);
    }
  }

  void TexCoord(std::string_view rest) {
    const std::string_view u = NextWord(rest), v = NextWord(rest), w = NextWord(rest);
    if (u.empty() || !NextWord(rest).empty()) lines_.Fail("vt takes u, u v or u v w");
    const float fu = lines_.Float(u), fv = v.empty() ? 0.0f : lines_.Float(v);
    if (!w.empty()) lines_.Float(w);
    texCoords_.push_back({fu, 1.0f - fv});
  }

  void Normal(std::string_view rest) {
    float f[3];
    for (float& x : f) {
      const std::string_view w = NextWord(rest);
      if (w.empty()) lines_.Fail("vn takes x y z");
      x = lines_.Float(w);
    }
    if (!NextWord(rest).empty()) lines_.Fail("vn takes x y z");
    normals_.push_back({f[0], f[1], -f[2]});
  }

  // An index as written (1 is the first, -1 the latest) made 0-based against the `count` read so far.
  std::uint32_t Index(std::string_view word, std::size_t count, const char* what) {
    long long i = 0;
    auto [p, ec] = std::from_chars(word.data(), word.data() + word.size(), i);
    if (ec == std::errc::result_out_of_range ||
        (ec == std::errc() && p == word.data() + word.size() &&
         (i == 0 || i > static_cast<long long>(count) || i < -static_cast<long long>(count))))
      lines_.Fail(std::string("the ") + what + " index " + Quote(word) + " is out of range: " +
                  std::to_string(count) + " " + what + (count == 1 ? "" : "s") + " read so far");
    if (ec != std::errc() || p != word.data() + word.size())
      lines_.Fail("a face's corner " + Quote(word) + " is not an index");
    return static_cast<std::uint32_t>(i > 0 ? i - 1 : static_cast<long long>(count) + i);
  }

  struct Corner {
    std::uint32_t vt = kNone, vn = kNone, next = kNone;
  };

  std::uint32_t Vertex(std::string_view word) {
    const std::size_t slash1 = word.find('/');
    const std::string_view v = word.substr(0, slash1);
    std::string_view vt, vn;
    if (slash1 != std::string_view::npos) {
      const std::string_view after = word.substr(slash1 + 1);
      const std::size_t slash2 = after.find('/');
      vt = after.substr(0, slash2);
      if (slash2 != std::string_view::npos) {
        vn = after.substr(slash2 + 1);
        if (vn.find('/') != std::string_view::npos)
          lines_.Fail("a face's corner " + Quote(word) + " has more than v/vt/vn");
      }
    }
    Corner key;
    const std::uint32_t vi = Index(v, positions_.size(), "position");
    if (!vt.empty()) key.vt = Index(vt, texCoords_.size(), "texture coordinate");
    if (!vn.empty()) key.vn = Index(vn, normals_.size(), "normal");
    std::uint32_t at = heads_[vi];
    for (int i = 0; i < kMaxSharedCompares && at != kNone; ++i, at = corners_[at].next)
      if (corners_[at].vt == key.vt && corners_[at].vn == key.vn) return at;

    auto& vertices = out_.model.vertices;
    if (vertices.size() == maxVertices_)
      lines_.Fail(maxVertices_ == kMaxModelVertices
                      ? "the model has more than " + std::to_string(kMaxModelVertices) + " vertices"
                      : "the model needs more than " + std::to_string(kMaxObjMemory >> 20) + " MB");
    XVertex x;
    x.position = positions_[vi];
    if (!colors_.empty()) x.color = colors_[vi];
    if (key.vt != kNone) {
      x.tu = texCoords_[key.vt][0], x.tv = texCoords_[key.vt][1];
      out_.model.hasTexCoords = true;
    }
    if (key.vn != kNone) {
      x.normal = normals_[key.vn];
      out_.model.hasNormals = true;
    }
    key.next = heads_[vi];
    const auto id = static_cast<std::uint32_t>(vertices.size());
    heads_[vi] = id;
    vertices.push_back(x);
    corners_.push_back(key);
    return id;
  }

  void Face(std::string_view rest) {
    if (groupMaterial_ == kNone) groupMaterial_ = MaterialNumber(group_);
    const std::uint32_t first = Vertex(NextWord(rest));
    std::uint32_t previous = Vertex(NextWord(rest));
    auto& model = out_.model;
    for (std::string_view w = NextWord(rest); !w.empty(); w = NextWord(rest)) {
      const std::uint32_t current = Vertex(w);
      // Reversed, so that the face seen from the same side turns clockwise in the mirrored system.
      model.indices.insert(model.indices.end(), {first, current, previous});
      model.attributes.push_back(groupMaterial_);
      previous = current;
    }
  }

  std::uint32_t MaterialNumber(std::string_view name) {
    const auto [it, added] =
        materialNumbers_.try_emplace(name, static_cast<std::uint32_t>(usedNames_.size()));
    if (added) {
      if (usedNames_.size() == kMaxObjMaterials)
        lines_.Fail("the faces use more than " + std::to_string(kMaxObjMaterials) + " materials");
      usedNames_.push_back(name);
    }
    return it->second;
  }

  // Each warning is one line for the sender; a file that would make thousands gets the first few.
  void Warn(const std::string& why) {
    if (out_.warnings.size() < kMaxObjWarnings) {
      // A message quoting a name of a million bytes is cut.
      out_.warnings.push_back(why.size() > 1000 ? why.substr(0, 1000) + "..." : why);
    } else if (out_.warnings.size() == kMaxObjWarnings) {
      out_.warnings.push_back("more warnings were left out");
    }
  }

  // The path of the library `name`, or why there is none. Each call may list the folder, so the
  // calls are counted: a file naming a million libraries is not looked up a million times.
  bool LookUp(std::string_view name, std::string& path, std::string& why) {
    if (++lookUps_ > 2 * kMaxObjLibraries) {
      why = "the model names more than " + std::to_string(kMaxObjLibraries) + " material libraries";
      return false;
    }
    try {
      path = ModelFilePath(folder_, std::string(name), file_, call_);
      return true;
    } catch (const platform::Error& e) {
      why = e.what();
      return false;
    }
  }

  // The libraries the file names, each read once: "mtllib a b" names two unless "a b" is one file.
  Library Libraries(bool& allRead) {
    Library library;
    allRead = libraryNames_.empty();
    if (!libraryNames_.empty() && folder_.empty())
      Warn("the material libraries were not read: the model came without its folder");
    if (folder_.empty()) return library;
    std::set<std::string> seen;
    allRead = true;
    for (std::string_view line : libraryNames_) {
      std::string path, why;
      std::vector<std::string_view> names{line};
      if (!LookUp(line, path, why) && line.find_first_of(" \t") != std::string_view::npos) {
        names.clear();
        for (std::string_view rest = line, w = NextWord(rest); !w.empty(); w = NextWord(rest))
          names.push_back(w);
      }
      for (std::string_view name : names) {
        if (names.size() > 1) {
          why.clear();
          LookUp(name, path, why);
        }
        if (why.empty() && seen.insert(path).second) why = Read(path, library);
        if (!why.empty()) {
          Warn("the material library " + Quote(name) + " was not read: " + why);
          allRead = false;
        }
      }
    }
    return library;
  }

  // Reads one library into `library`; returns why it could not.
  std::string Read(const std::string& path, Library& library) {
    try {
      std::error_code ec;
      const auto bytes = std::filesystem::file_size(path, ec);
      if (!ec && bytes > kMaxMtlFile)
        throw platform::Error(call_, "the file is larger than " + std::to_string(kMaxMtlFile >> 20) + " MB",
                              path);
      const std::vector<std::uint8_t> data = ReadFile(call_, path);
      ReadLibrary(data.data(), data.size(), path, call_, materialNumbers_, library);
      return {};
    } catch (const platform::Error& e) {
      return e.what();
    }
  }

  void Materials() {
    bool allRead = true;
    const Library library = Libraries(allRead);
    std::unordered_map<std::string, bool> textureFound;
    for (std::string_view name : usedNames_) {
      const auto it = library.find(std::string(name));
      if (it == library.end()) {
        // Only worth telling when the libraries were read: otherwise their warning says it all.
        if (!name.empty() && allRead)
          Warn("the material " + Quote(name) + " is in no material library; drawn white");
        out_.model.materials.push_back(WhiteMaterial());
        continue;
      }
      XMaterial m = MaterialOf(it->second);
      const std::string& map = it->second.map;
      if (!map.empty()) {
        auto found = textureFound.find(map);
        if (found == textureFound.end()) {
          bool ok = false;
          if (textureFound.size() == kMaxObjTextures) {
            Warn("the texture " + Quote(map) + " was dropped: the model names more than " +
                 std::to_string(kMaxObjTextures) + " textures");
          } else {
            try {
              ModelFilePath(folder_, map, file_, call_);
              ok = true;
            } catch (const platform::Error& e) {
              Warn("the texture of material " + Quote(name) + " was dropped: " + e.what());
            }
          }
          found = textureFound.emplace(map, ok).first;
        }
        if (found->second) m.textureFilename = map;
      }
      out_.model.materials.push_back(std::move(m));
    }
  }

  Lines lines_;
  const std::string& file_;
  const std::string& folder_;
  const std::string& call_;
  std::size_t size_;
  std::size_t maxVertices_ = 0, vPerLine_ = 0, lookUps_ = 0;
  std::vector<d3d::D3DVECTOR> positions_, normals_;
  std::vector<d3d::D3DCOLOR> colors_;
  std::vector<std::array<float, 2>> texCoords_;
  std::vector<std::uint32_t> heads_;  // per position: its latest vertex, then Corner::next
  std::vector<Corner> corners_;       // per vertex: what made it
  std::string_view group_;            // the latest usemtl; empty before the first
  std::uint32_t groupMaterial_ = kNone;
  // The names the faces use, in the order of their first face (views into the file).
  std::unordered_map<std::string_view, std::uint32_t> materialNumbers_;
  std::vector<std::string_view> usedNames_;
  std::vector<std::string_view> libraryNames_;
  ObjModel out_;
};

}  // namespace

ObjModel ParseObjWithWarnings(const std::uint8_t* data, std::size_t size, const std::string& file,
                              const std::string& folder, const std::string& call) {
  return ObjReader(data, size, file, folder, call).Read();
}

XModel ParseObj(const std::uint8_t* data, std::size_t size, const std::string& file,
                const std::string& folder, const std::string& call) {
  return ParseObjWithWarnings(data, size, file, folder, call).model;
}

bool LooksLikeObj(const std::string& file) {
  if (file.size() < 4) return false;
  std::string ext = file.substr(file.size() - 4);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext == ".obj";
}

}  // namespace d3dx
