// The example fir tree that mediagen writes as glTF, GLB and OBJ, read back as a strict reader
// would read it but without the program's own readers: GLB chunks, buffer views and accessors that
// stay inside their buffer, indices in range, faces turned outwards, the same triangles in every
// file, and a tree standing upright on y = 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/Files.h"

namespace {

const std::string kDir = std::string(WG_APP_DIR) + "/examples-models/";

// A JSON value, parsed strictly: no trailing commas, no bare words.
struct Json {
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> members;
  bool Has(const std::string& key) const { return members.count(key) > 0; }
  const Json& operator[](const std::string& key) const {
    if (!Has(key)) throw std::runtime_error("no member \"" + key + "\"");
    return members.at(key);
  }
  const Json& operator[](std::size_t i) const { return items.at(i); }
  std::size_t Size() const {
    if (number < 0 || number != std::floor(number)) throw std::runtime_error("not a count");
    return static_cast<std::size_t>(number);
  }
};

struct JsonParser {
  const std::string& s;
  std::size_t at = 0;
  [[noreturn]] void Fail() const { throw std::runtime_error("bad JSON at byte " + std::to_string(at)); }
  char Peek() {
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n')) ++at;
    return at < s.size() ? s[at] : '\0';
  }
  void Expect(char c) {
    if (Peek() != c) Fail();
    ++at;
  }
  Json Value() {
    Json v;
    const char c = Peek();
    if (c == '{' || c == '[') {
      ++at;
      const char close = c == '{' ? '}' : ']';
      if (Peek() == close) {
        ++at;
        return v;
      }
      do {
        if (c == '{') {
          if (Peek() != '"') Fail();
          const std::string key = Value().text;
          Expect(':');
          v.members[key] = Value();
        } else {
          v.items.push_back(Value());
        }
      } while (Peek() == ',' && ++at);
      Expect(close);
    } else if (c == '"') {
      for (++at; at < s.size() && s[at] != '"'; ++at) v.text += s[at] == '\\' ? s[++at] : s[at];
      Expect('"');
    } else if (s.compare(at, 4, "true") == 0 || s.compare(at, 5, "false") == 0) {
      v.number = s[at] == 't';
      at += s[at] == 't' ? 4 : 5;
    } else {
      char* end = nullptr;
      v.number = std::strtod(s.c_str() + at, &end);
      if (end == s.c_str() + at || !(c == '-' || std::isdigit(static_cast<unsigned char>(c)))) Fail();
      at = static_cast<std::size_t>(end - s.c_str());
    }
    return v;
  }
};

Json ParseJson(const std::string& text) {
  JsonParser p{text};
  Json v = p.Value();
  p.Peek();
  if (p.at != text.size()) p.Fail();
  return v;
}

std::uint32_t U32(const std::string& b, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(b.at(at + i));
  return v;
}

std::string Base64(const std::string& in) {
  static const std::string kDigits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::uint32_t acc = 0;
  int bits = 0;
  for (char c : in) {
    if (c == '=') break;
    const auto d = kDigits.find(c);
    if (d == std::string::npos) throw std::runtime_error("not base64");
    acc = acc << 6 | static_cast<std::uint32_t>(d);
    if ((bits += 6) >= 8) out += static_cast<char>(acc >> (bits -= 8));
  }
  return out;
}

struct Gltf {
  Json json;
  std::string bin;  // buffer 0
};

// A GLB's header and chunks as the format lays them out; the buffer is the BIN chunk.
Gltf LoadGlb(const std::string& path) {
  const std::string b = wgtest::Slurp(path);
  EXPECT_EQ(U32(b, 0), 0x46546C67u);  // "glTF"
  EXPECT_EQ(U32(b, 4), 2u);
  EXPECT_EQ(U32(b, 8), b.size());
  const std::uint32_t jsonLength = U32(b, 12);
  EXPECT_EQ(U32(b, 16), 0x4E4F534Au);  // "JSON"
  EXPECT_EQ(jsonLength % 4, 0u);
  const std::size_t binAt = 20 + jsonLength;
  const std::uint32_t binLength = U32(b, binAt);
  EXPECT_EQ(U32(b, binAt + 4), 0x004E4942u);  // "BIN\0"
  EXPECT_EQ(binLength % 4, 0u);
  EXPECT_EQ(binAt + 8 + binLength, b.size());
  Gltf g{ParseJson(b.substr(20, jsonLength)), b.substr(binAt + 8, binLength)};
  const std::size_t byteLength = g.json["buffers"][0]["byteLength"].Size();
  EXPECT_FALSE(g.json["buffers"][0].Has("uri"));
  EXPECT_LE(byteLength, binLength);
  EXPECT_GT(byteLength + 4, binLength);  // padded by 3 bytes at most
  g.bin.resize(byteLength);
  return g;
}

std::string Resource(const std::string& uri) {
  const std::string base64 = ";base64,";
  if (uri.rfind("data:", 0) == 0) return Base64(uri.substr(uri.find(base64) + base64.size()));
  return wgtest::Slurp(kDir + uri);
}

Gltf LoadGltf(const std::string& path) {
  Gltf g{ParseJson(wgtest::Slurp(path)), ""};
  g.bin = Resource(g.json["buffers"][0]["uri"].text);
  EXPECT_EQ(g.bin.size(), g.json["buffers"][0]["byteLength"].Size());
  return g;
}

std::size_t Components(const std::string& type) {
  return type == "SCALAR" ? 1 : type == "VEC2" ? 2 : type == "VEC3" ? 3 : type == "VEC4" ? 4 : 0;
}

// Every view inside the buffer and every accessor inside its view, aligned to its component, a
// vertex attribute's elements to 4 bytes; index views unstrided.
void ExpectLayoutConsistent(const Gltf& g) {
  EXPECT_EQ(g.json["asset"]["version"].text, "2.0");
  for (const Json& v : g.json["bufferViews"].items) {
    EXPECT_EQ(v["buffer"].Size(), 0u);
    EXPECT_LE(v["byteOffset"].Size() + v["byteLength"].Size(), g.bin.size());
    if (v.Has("byteStride")) {
      EXPECT_EQ(v["byteStride"].Size() % 4, 0u);
      EXPECT_GE(v["byteStride"].Size(), 4u);
      EXPECT_LE(v["byteStride"].Size(), 252u);
    }
  }
  std::set<std::size_t> attributes, indices;
  for (const Json& p : g.json["meshes"][0]["primitives"].items) {
    for (const auto& [name, a] : p["attributes"].members) attributes.insert(a.Size());
    indices.insert(p["indices"].Size());
  }
  for (std::size_t i = 0; i < g.json["accessors"].items.size(); ++i) {
    SCOPED_TRACE("accessor " + std::to_string(i));
    const Json& a = g.json["accessors"][i];
    const Json& view = g.json["bufferViews"][a["bufferView"].Size()];
    const std::size_t type = a["componentType"].Size();
    const std::size_t size = type == 5126 ? 4 : type == 5123 ? 2 : 1;
    const std::size_t element = size * Components(a["type"].text);
    const std::size_t stride = view.Has("byteStride") ? view["byteStride"].Size() : element;
    const std::size_t offset = a["byteOffset"].Size();
    ASSERT_GT(a["count"].Size(), 0u);
    EXPECT_GE(stride, element);
    EXPECT_EQ(offset % size, 0u);
    EXPECT_LE(offset + stride * (a["count"].Size() - 1) + element, view["byteLength"].Size());
    if (attributes.count(i)) {
      EXPECT_EQ((view["byteOffset"].Size() + offset) % 4, 0u);
    }
    if (indices.count(i)) {
      EXPECT_FALSE(view.Has("byteStride"));
      EXPECT_EQ(view["target"].Size(), 34963u);
      EXPECT_EQ(type, 5123u);
    }
  }
}

using Vec = std::array<double, 3>;

// One value of an accessor: floats as they are, unsigned bytes and shorts as integers.
std::vector<double> Element(const Gltf& g, std::size_t accessor, std::size_t i) {
  const Json& a = g.json["accessors"][accessor];
  const Json& view = g.json["bufferViews"][a["bufferView"].Size()];
  const std::size_t type = a["componentType"].Size(), size = type == 5126 ? 4 : type == 5123 ? 2 : 1;
  const std::size_t n = Components(a["type"].text);
  const std::size_t stride = view.Has("byteStride") ? view["byteStride"].Size() : size * n;
  std::size_t at = view["byteOffset"].Size() + a["byteOffset"].Size() + stride * i;
  std::vector<double> out;
  for (std::size_t k = 0; k < n; ++k, at += size) {
    if (type == 5126) {
      float f;
      std::memcpy(&f, g.bin.data() + at, 4);
      out.push_back(f);
    } else {
      out.push_back(
          size == 2 ? (static_cast<std::uint8_t>(g.bin[at + 1]) << 8 | static_cast<std::uint8_t>(g.bin[at]))
                    : static_cast<std::uint8_t>(g.bin[at]));
    }
  }
  return out;
}

Vec Cross(const Vec& a, const Vec& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec Minus(const Vec& a, const Vec& b) {
  return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}
double Dot(const Vec& a, const Vec& b) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// A triangle's corner as every file holds it: position, normal (zero when none), uv with v down.
struct Corner {
  Vec position, normal;
  std::array<double, 2> uv;
};
using Triangles = std::vector<std::array<Corner, 3>>;

// Each face turned outwards: counter-clockwise seen from the side its vertex normals point to.
void ExpectOutwards(const Triangles& tris) {
  for (std::size_t t = 0; t < tris.size(); ++t) {
    const auto& c = tris[t];
    const Vec n = Cross(Minus(c[1].position, c[0].position), Minus(c[2].position, c[0].position));
    const Vec sum = {c[0].normal[0] + c[1].normal[0] + c[2].normal[0],
                     c[0].normal[1] + c[1].normal[1] + c[2].normal[1],
                     c[0].normal[2] + c[1].normal[2] + c[2].normal[2]};
    ASSERT_GT(Dot(n, sum), 0) << "triangle " << t;
  }
}

// Every primitive's triangles in order, checking its indices and POSITION's min and max.
Triangles GltfTriangles(const Gltf& g) {
  Triangles out;
  for (const Json& p : g.json["meshes"][0]["primitives"].items) {
    const Json& attr = p["attributes"];
    const std::size_t count = g.json["accessors"][attr["POSITION"].Size()]["count"].Size();
    for (const auto& [name, a] : attr.members)
      EXPECT_EQ(g.json["accessors"][a.Size()]["count"].Size(), count) << name;
    const Json& pos = g.json["accessors"][attr["POSITION"].Size()];
    std::vector<double> lo(3, INFINITY), hi(3, -INFINITY);
    for (std::size_t i = 0; i < count; ++i)
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], Element(g, attr["POSITION"].Size(), i)[k]);
        hi[k] = std::max(hi[k], Element(g, attr["POSITION"].Size(), i)[k]);
      }
    for (int k = 0; k < 3; ++k) {
      // The extremes themselves, as floats: the JSON's decimals read back as the data's values.
      EXPECT_EQ(static_cast<float>(pos["min"][k].number), lo[k]);
      EXPECT_EQ(static_cast<float>(pos["max"][k].number), hi[k]);
    }
    const std::size_t indices = g.json["accessors"][p["indices"].Size()]["count"].Size();
    EXPECT_EQ(indices % 3, 0u);
    for (std::size_t t = 0; t + 2 < indices; t += 3) {
      std::array<Corner, 3> tri{};
      for (std::size_t k = 0; k < 3; ++k) {
        const std::size_t i = static_cast<std::size_t>(Element(g, p["indices"].Size(), t + k)[0]);
        if (i >= count) throw std::runtime_error("index out of range");
        const auto v = Element(g, attr["POSITION"].Size(), i);
        const auto uv = Element(g, attr["TEXCOORD_0"].Size(), i);
        tri[k].position = {v[0], v[1], v[2]};
        tri[k].uv = {uv[0], uv[1]};
        if (attr.Has("NORMAL")) {
          const auto n = Element(g, attr["NORMAL"].Size(), i);
          tri[k].normal = {n[0], n[1], n[2]};
          EXPECT_NEAR(Dot(tri[k].normal, tri[k].normal), 1.0, 1e-5);
        }
      }
      out.push_back(tri);
    }
  }
  return out;
}

TEST(ExampleModels, GlbHoldsItsImageAndEveryAccessorInsideItsBuffer) {
  const Gltf g = LoadGlb(kDir + "tree.glb");
  ExpectLayoutConsistent(g);
  const Json& image = g.json["images"][0];
  EXPECT_EQ(image["mimeType"].text, "image/png");
  const Json& view = g.json["bufferViews"][image["bufferView"].Size()];
  EXPECT_FALSE(view.Has("byteStride"));
  EXPECT_EQ(view["byteOffset"].Size() % 4, 0u);
  EXPECT_EQ(g.bin.substr(view["byteOffset"].Size(), view["byteLength"].Size()),
            wgtest::Slurp(kDir + "crown.png"));
  EXPECT_EQ(wgtest::Slurp(kDir + "crown.png").substr(0, 8), "\x89PNG\r\n\x1a\n");
}

TEST(ExampleModels, TreeStandsUprightWithItsFacesOutwards) {
  const Triangles tris = GltfTriangles(LoadGlb(kDir + "tree.glb"));
  ExpectOutwards(tris);
  Vec lo{INFINITY, INFINITY, INFINITY}, hi{-INFINITY, -INFINITY, -INFINITY};
  for (const auto& tri : tris)
    for (const Corner& c : tri)
      for (int k = 0; k < 3; ++k) {
        lo[k] = std::min(lo[k], c.position[k]);
        hi[k] = std::max(hi[k], c.position[k]);
      }
  EXPECT_EQ(lo[1], 0.0);
  EXPECT_NEAR(hi[1], 1.8, 1e-6);
  EXPECT_NEAR(lo[0] + hi[0], 0.0, 1e-6);
  EXPECT_NEAR(lo[2] + hi[2], 0.0, 1e-6);
  EXPECT_NEAR(hi[0] - lo[0], 1.24, 1e-6);  // the lowest tier's rim
}

TEST(ExampleModels, MaterialsAreTrunkTexturedCrownAndBaubles) {
  const Gltf g = LoadGlb(kDir + "tree.glb");
  const Json& materials = g.json["materials"];
  ASSERT_EQ(materials.items.size(), 6u);
  std::vector<std::string> blended, textured;
  for (const Json& m : materials.items) {
    if (m.Has("alphaMode")) blended.push_back(m["name"].text);
    if (m["pbrMetallicRoughness"].Has("baseColorTexture")) textured.push_back(m["name"].text);
  }
  EXPECT_EQ(blended, std::vector<std::string>{"BaubleGlass"});
  EXPECT_EQ(textured, std::vector<std::string>{"Crown"});
  EXPECT_EQ(materials[4]["alphaMode"].text, "BLEND");
  EXPECT_EQ(static_cast<float>(materials[4]["pbrMetallicRoughness"]["baseColorFactor"][3].number), 0.6f);
  EXPECT_EQ(g.json["textures"][0]["source"].Size(), 0u);
  // The striped baubles' colours: normalized bytes, red and white bands.
  std::size_t coloured = 0;
  for (const Json& p : g.json["meshes"][0]["primitives"].items) {
    if (!p["attributes"].Has("COLOR_0")) continue;
    ++coloured;
    const std::size_t a = p["attributes"]["COLOR_0"].Size();
    EXPECT_EQ(g.json["accessors"][a]["componentType"].Size(), 5121u);
    EXPECT_EQ(g.json["accessors"][a]["normalized"].number, 1.0);
    EXPECT_EQ(materials[p["material"].Size()]["name"].text, "BaubleStriped");
    std::set<std::vector<double>> colours;
    for (std::size_t i = 0; i < g.json["accessors"][a]["count"].Size(); ++i) colours.insert(Element(g, a, i));
    EXPECT_EQ(colours, (std::set<std::vector<double>>{{200, 16, 24, 255}, {255, 255, 255, 255}}));
  }
  EXPECT_EQ(coloured, 1u);
}

TEST(ExampleModels, EveryGltfFormHoldsTheSameTriangles) {
  const Triangles glb = GltfTriangles(LoadGlb(kDir + "tree.glb"));
  const Gltf apart = LoadGltf(kDir + "tree.gltf");
  const Gltf embedded = LoadGltf(kDir + "tree-embedded.gltf");
  const Gltf bare = LoadGlb(kDir + "tree-no-normals.glb");
  for (const Gltf* g : {&apart, &embedded, &bare}) ExpectLayoutConsistent(*g);
  EXPECT_EQ(apart.json["images"][0]["uri"].text, "crown.png");
  EXPECT_EQ(apart.json["buffers"][0]["uri"].text, "tree.bin");
  EXPECT_EQ(embedded.bin, apart.bin);
  EXPECT_EQ(Resource(embedded.json["images"][0]["uri"].text), wgtest::Slurp(kDir + "crown.png"));
  for (const Json& p : bare.json["meshes"][0]["primitives"].items)
    EXPECT_FALSE(p["attributes"].Has("NORMAL"));

  const auto same = [&](const Triangles& other, bool normals) {
    ASSERT_EQ(other.size(), glb.size());
    for (std::size_t t = 0; t < glb.size(); ++t)
      for (std::size_t k = 0; k < 3; ++k) {
        ASSERT_EQ(other[t][k].position, glb[t][k].position) << t;
        ASSERT_EQ(other[t][k].uv, glb[t][k].uv) << t;
        if (normals) {
          ASSERT_EQ(other[t][k].normal, glb[t][k].normal) << t;
        }
      }
  };
  same(GltfTriangles(apart), true);
  same(GltfTriangles(embedded), true);
  same(GltfTriangles(bare), false);
}

// The OBJ's groups and faces, numbers as written, vt's v turned back to count from the top.
TEST(ExampleModels, ObjHoldsTheSameTrianglesWithItsMaterials) {
  std::vector<Vec> v, vn;
  std::vector<std::array<double, 2>> vt;
  std::vector<std::string> used;
  Triangles tris;
  std::istringstream obj(wgtest::Slurp(kDir + "tree.obj"));
  std::string line, mtllib;
  while (std::getline(obj, line)) {
    std::istringstream in(line);
    std::string key;
    in >> key;
    Vec a{};
    if (key == "v" && in >> a[0] >> a[1] >> a[2]) v.push_back(a);
    if (key == "vn" && in >> a[0] >> a[1] >> a[2]) vn.push_back(a);
    if (key == "vt" && in >> a[0] >> a[1]) vt.push_back({a[0], 1 - a[1]});
    if (key == "mtllib") in >> mtllib;
    if (key == "usemtl") used.emplace_back(), in >> used.back();
    if (key != "f") continue;
    std::array<Corner, 3> tri{};
    for (Corner& c : tri) {
      std::size_t p = 0, t = 0, n = 0;
      char slash1 = 0, slash2 = 0;
      ASSERT_TRUE(in >> p >> slash1 >> t >> slash2 >> n && slash1 == '/' && slash2 == '/') << line;
      ASSERT_TRUE(p >= 1 && p <= v.size() && t >= 1 && t <= vt.size() && n >= 1 && n <= vn.size()) << line;
      c = {v[p - 1], vn[n - 1], vt[t - 1]};
    }
    std::string more;
    EXPECT_FALSE(in >> more) << "not a triangle: " << line;
    tris.push_back(tri);
  }
  ExpectOutwards(tris);
  const Triangles glb = GltfTriangles(LoadGlb(kDir + "tree.glb"));
  ASSERT_EQ(tris.size(), glb.size());
  for (std::size_t t = 0; t < glb.size(); ++t)
    for (std::size_t k = 0; k < 3; ++k)
      for (int i = 0; i < 3; ++i) {
        ASSERT_NEAR(tris[t][k].position[i], glb[t][k].position[i], 1e-6) << t;
        ASSERT_NEAR(tris[t][k].normal[i], glb[t][k].normal[i], 1e-6) << t;
        if (i < 2) {
          ASSERT_NEAR(tris[t][k].uv[i], glb[t][k].uv[i], 1e-6) << t;
        }
      }

  EXPECT_EQ(mtllib, "tree.mtl");
  const std::string mtl = wgtest::Slurp(kDir + mtllib);
  for (const std::string& name : used)
    EXPECT_NE(mtl.find("newmtl " + name + "\n"), std::string::npos) << name;
  EXPECT_EQ(used.size(), 6u);
  EXPECT_NE(mtl.find("newmtl BaubleGlass\nKa 0.200000 0.400000 1.000000\nKd 0.200000 0.400000 1.000000\n"
                     "Ks 0.000000 0.000000 0.000000\nNs 0\nd 0.600000\n"),
            std::string::npos);
  EXPECT_NE(mtl.find("map_Kd crown.jpg\n"), std::string::npos);
  EXPECT_EQ(wgtest::Slurp(kDir + "crown.jpg").substr(0, 3), "\xFF\xD8\xFF");
}

// Two more runs write every example file byte for byte as the build did.
TEST(ExampleModels, EveryRunWritesTheSameBytes) {
  for (const char* run : {"/example-models-a", "/example-models-b"}) {
    const std::string out = std::string(WG_TEST_TMP) + run;
    std::filesystem::remove_all(out);
    ASSERT_EQ(std::system(("'" + std::string(WG_MEDIAGEN) + "' '" + out + "' >/dev/null").c_str()), 0);
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(kDir)) {
      ++files;
      EXPECT_EQ(wgtest::Slurp(out + "/examples-models/" + e.path().filename().string()),
                wgtest::Slurp(e.path()))
          << e.path();
    }
    EXPECT_EQ(files, 9u);
    std::filesystem::remove_all(out);
  }
}

}  // namespace
