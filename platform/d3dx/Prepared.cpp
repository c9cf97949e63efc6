#include "platform/d3dx/Prepared.h"

#include <cstring>
#include <optional>
#include <type_traits>

#include "platform/base/Error.h"

namespace d3dx {

namespace {

constexpr char kTextureSignature[8] = {'W', 'G', 'T', 'E', 'X', 'L', 'V', '1'};
// Version 2 carries each material's alpha mode, cut-off and sides, which glTF and OBJ models have.
constexpr char kModelSignature[8] = {'W', 'G', 'X', 'M', 'O', 'D', 'L', '2'};
constexpr char kFaceSignature[8] = {'W', 'G', 'G', 'L', 'Y', 'P', 'H', '3'};

class Writer {
 public:
  explicit Writer(const char (&signature)[8]) { bytes(signature, 8); }
  void u32(std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  void f32(float v) {
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    u32(bits);
  }
  void bytes(const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), p, p + n);
  }
  void count(std::size_t n) {
    if (n > 0xFFFFFFFFu) throw platform::Error("WritePrepared", "more than 2^32 entries");
    u32(static_cast<std::uint32_t>(n));
  }
  void text(const std::string& s) {
    count(s.size());
    bytes(s.data(), s.size());
  }
  std::vector<std::uint8_t> take() { return std::move(out_); }

 private:
  std::vector<std::uint8_t> out_;
};

class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size, const char (&signature)[8], const std::string& what,
         const std::string& file, const std::string& call)
      : data_(data), size_(size), file_(file), call_(call) {
    if (size_ < 8 || std::memcmp(data_, signature, 8) != 0) fail("not a prepared " + what);
    at_ = 8;
  }
  std::uint32_t u32() {
    need(4);
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
      v |= static_cast<std::uint32_t>(data_[at_ + static_cast<std::size_t>(i)]) << (8 * i);
    at_ += 4;
    return v;
  }
  std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
  float f32() {
    const std::uint32_t bits = u32();
    float v = 0;
    std::memcpy(&v, &bits, 4);
    return v;
  }
  // A count of records that take at least `recordBytes` bytes each: it must fit in what remains.
  std::size_t count(std::size_t recordBytes) {
    const std::size_t n = u32();
    if (recordBytes > 0 && n > (size_ - at_) / recordBytes) fail("a count runs past the end of the data");
    return n;
  }
  // Fails unless `n` bytes remain: checked before anything is sized by `n`.
  void expect(std::size_t n) { need(n); }
  void bytes(void* dst, std::size_t n) {
    need(n);
    if (n == 0) return;  // an empty glyph's buffer may be null
    std::memcpy(dst, data_ + at_, n);
    at_ += n;
  }
  std::string text() {
    std::string s(count(1), '\0');
    bytes(s.data(), s.size());
    return s;
  }
  void end() {
    if (at_ != size_) fail("data after the end");
  }
  [[noreturn]] void fail(const std::string& why) const { throw platform::Error(call_, why, file_); }

 private:
  void need(std::size_t n) {
    if (n > size_ - at_) fail("the data ends early");
  }
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  const std::string& file_;
  const std::string& call_;
};

constexpr int kMaxSide = 16384;

void writeColor(Writer& w, const d3d::D3DCOLORVALUE& c) {
  for (float v : {c.r, c.g, c.b, c.a}) w.f32(v);
}
d3d::D3DCOLORVALUE readColor(Reader& r) {
  d3d::D3DCOLORVALUE c{};
  c.r = r.f32();
  c.g = r.f32();
  c.b = r.f32();
  c.a = r.f32();
  return c;
}

}  // namespace

std::vector<std::uint8_t> WritePreparedTexture(const std::vector<d3d::Texture::Level>& levels) {
  Writer w(kTextureSignature);
  w.count(levels.size());
  for (const auto& l : levels) {
    w.i32(l.width);
    w.i32(l.height);
    w.bytes(l.rgba.data(), l.rgba.size());
  }
  return w.take();
}

std::vector<d3d::Texture::Level> ReadPreparedTexture(const std::uint8_t* data, std::size_t size,
                                                     const std::string& file, const std::string& call) {
  Reader r(data, size, kTextureSignature, "texture", file, call);
  std::vector<d3d::Texture::Level> levels(r.count(12));
  if (levels.empty()) r.fail("a texture without levels");
  for (auto& l : levels) {
    l.width = r.i32();
    l.height = r.i32();
    if (l.width < 1 || l.height < 1 || l.width > kMaxSide || l.height > kMaxSide)
      r.fail("a level of " + std::to_string(l.width) + "x" + std::to_string(l.height) + " texels");
    const std::size_t n = static_cast<std::size_t>(l.width) * static_cast<std::size_t>(l.height) * 4;
    r.expect(n);
    l.rgba.resize(n);
    r.bytes(l.rgba.data(), l.rgba.size());
  }
  r.end();
  return levels;
}

std::vector<std::uint8_t> WritePreparedModel(const XModel& m) {
  Writer w(kModelSignature);
  w.u32((m.hasNormals ? 1u : 0u) | (m.hasColors ? 2u : 0u) | (m.hasTexCoords ? 4u : 0u));
  w.count(m.vertices.size());
  for (const XVertex& v : m.vertices) {
    for (float f : {v.position.x, v.position.y, v.position.z, v.normal.x, v.normal.y, v.normal.z}) w.f32(f);
    w.u32(v.color);
    w.f32(v.tu);
    w.f32(v.tv);
  }
  w.count(m.indices.size());
  for (std::uint32_t i : m.indices) w.u32(i);
  w.count(m.attributes.size());
  for (std::uint32_t a : m.attributes) w.u32(a);
  w.count(m.materials.size());
  for (const XMaterial& x : m.materials) {
    const d3d::D3DMATERIAL8& mat = x.material;
    for (const auto& c : {mat.Diffuse, mat.Ambient, mat.Specular, mat.Emissive}) writeColor(w, c);
    w.f32(mat.Power);
    w.text(x.textureFilename);
    w.u32(static_cast<std::uint32_t>(x.alphaMode));
    w.f32(x.alphaCutoff);
    w.u32(x.doubleSided ? 1u : 0u);
  }
  return w.take();
}

XModel ReadPreparedModel(const std::uint8_t* data, std::size_t size, const std::string& file,
                         const std::string& call) {
  Reader r(data, size, kModelSignature, "model", file, call);
  XModel m;
  const std::uint32_t flags = r.u32();
  m.hasNormals = (flags & 1) != 0;
  m.hasColors = (flags & 2) != 0;
  m.hasTexCoords = (flags & 4) != 0;
  m.vertices.resize(r.count(36));
  for (XVertex& v : m.vertices) {
    v.position = {r.f32(), r.f32(), r.f32()};
    v.normal = {r.f32(), r.f32(), r.f32()};
    v.color = r.u32();
    v.tu = r.f32();
    v.tv = r.f32();
  }
  m.indices.resize(r.count(4));
  for (std::uint32_t& i : m.indices) {
    i = r.u32();
    if (i >= m.vertices.size()) r.fail("vertex index " + std::to_string(i) + " out of range");
  }
  m.attributes.resize(r.count(4));
  for (std::uint32_t& a : m.attributes) a = r.u32();
  if (m.indices.size() != 3 * m.attributes.size()) r.fail("index count is not three per face");
  m.materials.resize(r.count(68 + 4 + 12));
  for (XMaterial& x : m.materials) {
    x.material.Diffuse = readColor(r);
    x.material.Ambient = readColor(r);
    x.material.Specular = readColor(r);
    x.material.Emissive = readColor(r);
    x.material.Power = r.f32();
    x.textureFilename = r.text();
    const std::uint32_t mode = r.u32();
    if (mode > static_cast<std::uint32_t>(AlphaMode::Blend)) r.fail("alpha mode " + std::to_string(mode));
    x.alphaMode = static_cast<AlphaMode>(mode);
    x.alphaCutoff = r.f32();
    if (!(x.alphaCutoff >= 0.0f && x.alphaCutoff <= 1.0f)) r.fail("an alpha cut-off outside 0..1");
    const std::uint32_t sides = r.u32();
    if (sides > 1) r.fail("sides " + std::to_string(sides));
    x.doubleSided = sides == 1;
  }
  r.end();
  return m;
}

namespace {

// A line stored as a run of an earlier line's glyphs: the pieces of a wrappable text are mostly its
// words shaped as they are in the whole text, and storing each in full would make a long line's
// face grow with the square of its words.
struct LineSlice {
  std::size_t base = 0, at = 0, glyph = 0;  // the earlier line, where its text holds this one, its run
  std::int32_t dx = 0;                      // how far the run moves right
};

// Line `i` of `face` as such a run, where an earlier line's text holds its text and a run of that
// line's glyphs has its glyphs at the same distances (then it draws exactly the same).
std::optional<LineSlice> findSlice(const PreparedFace& face, std::size_t i) {
  const auto& [text, line] = face.lines[i];
  if (line.glyphs.empty() || !line.missing.empty()) return std::nullopt;
  for (std::size_t j = 0; j < i; ++j) {
    const auto& [baseText, base] = face.lines[j];
    const std::size_t at = baseText.find(text);
    if (at == std::u32string::npos) continue;
    for (std::size_t g = 0; g + line.glyphs.size() <= base.glyphs.size(); ++g) {
      const std::int32_t dx = line.glyphs[0].x - base.glyphs[g].x;
      bool same = true;
      for (std::size_t k = 0; k < line.glyphs.size() && same; ++k) {
        const PlacedGlyph &a = line.glyphs[k], &b = base.glyphs[g + k];
        same = a.id == b.id && a.x == b.x + dx && a.y == b.y;
      }
      if (same) return LineSlice{j, at, g, dx};
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::uint8_t> WritePreparedFace(const PreparedFace& face) {
  Writer w(kFaceSignature);
  const FaceMetrics& m = face.metrics;
  for (int v : {m.ascent, m.descent, m.underlinePosition, m.underlineThickness}) w.i32(v);
  w.count(face.lines.size());
  for (std::size_t i = 0; i < face.lines.size(); ++i) {
    const auto& [text, line] = face.lines[i];
    // 1: a run of an earlier line's glyphs; 0: the line in full.
    const std::optional<LineSlice> slice = findSlice(face, i);
    w.u32(slice ? 1 : 0);
    if (slice) {
      for (const std::size_t v : {slice->base, slice->at, text.size(), slice->glyph, line.glyphs.size()})
        w.count(v);
      w.i32(slice->dx);
      w.i32(line.advance);
      w.u32(line.rightToLeft ? 1 : 0);
      continue;
    }
    w.count(text.size());
    for (const char32_t c : text) w.u32(static_cast<std::uint32_t>(c));
    w.u32(line.rightToLeft ? 1 : 0);
    w.i32(line.advance);
    w.count(line.missing.size());
    for (const char32_t c : line.missing) w.u32(static_cast<std::uint32_t>(c));
    w.count(line.glyphs.size());
    for (const PlacedGlyph& g : line.glyphs) {
      w.u32(g.id.face);
      w.u32(g.id.index);
      w.i32(g.x);
      w.i32(g.y);
    }
  }
  w.count(face.glyphs.size());
  for (const auto& [id, g] : face.glyphs) {
    w.u32(id.face);
    w.u32(id.index);
    for (int v : {g.left, g.top, g.width, g.height}) w.i32(v);
    w.u32(g.colour ? 1 : 0);
    w.bytes(g.coverage.data(), g.coverage.size());
  }
  w.count(face.breaks.size());
  for (const auto& [text, at] : face.breaks) {
    w.count(text.size());
    for (const char32_t c : text) w.u32(static_cast<std::uint32_t>(c));
    w.count(at.size());
    for (const std::size_t i : at) w.count(i);
  }
  return w.take();
}

PreparedFace ReadPreparedFace(const std::uint8_t* data, std::size_t size, const std::string& file,
                              const std::string& call) {
  Reader r(data, size, kFaceSignature, "face", file, call);
  PreparedFace face;
  FaceMetrics& m = face.metrics;
  m.ascent = r.i32();
  m.descent = r.i32();
  m.underlinePosition = r.i32();
  m.underlineThickness = r.i32();
  auto codePoint = [&r] {
    const std::uint32_t c = r.u32();
    if (c > 0x10FFFF) r.fail("a character beyond U+10FFFF");
    return static_cast<char32_t>(c);
  };
  face.lines.resize(r.count(24));
  for (std::size_t i = 0; i < face.lines.size(); ++i) {
    auto& [text, line] = face.lines[i];
    if (r.u32() != 0) {
      std::size_t v[5];
      for (std::size_t& x : v) x = r.u32();
      const auto& [baseText, base] = face.lines[v[0] < i ? v[0] : 0];
      if (v[0] >= i || v[1] > baseText.size() || v[2] > baseText.size() - v[1] || v[3] > base.glyphs.size() ||
          v[4] > base.glyphs.size() - v[3])
        r.fail("a line that is a run of another runs outside it");
      const std::int32_t dx = r.i32();
      text = baseText.substr(v[1], v[2]);
      line.glyphs.assign(base.glyphs.begin() + static_cast<std::ptrdiff_t>(v[3]),
                         base.glyphs.begin() + static_cast<std::ptrdiff_t>(v[3] + v[4]));
      for (PlacedGlyph& g : line.glyphs) g.x = static_cast<std::int32_t>(static_cast<std::int64_t>(g.x) + dx);
      line.advance = r.i32();
      line.rightToLeft = r.u32() != 0;
      continue;
    }
    text.resize(r.count(4));
    for (char32_t& c : text) c = codePoint();
    line.rightToLeft = r.u32() != 0;
    line.advance = r.i32();
    line.missing.resize(r.count(4));
    for (char32_t& c : line.missing) c = codePoint();
    line.glyphs.resize(r.count(16));
    for (PlacedGlyph& g : line.glyphs) {
      g.id.face = r.u32();
      g.id.index = r.u32();
      g.x = r.i32();
      g.y = r.i32();
    }
  }
  face.glyphs.resize(r.count(28));
  for (auto& [id, g] : face.glyphs) {
    id.face = r.u32();
    id.index = r.u32();
    g.left = r.i32();
    g.top = r.i32();
    g.width = r.i32();
    g.height = r.i32();
    g.colour = r.u32() != 0;
    if (g.width < 0 || g.height < 0 || g.width > kMaxSide || g.height > kMaxSide)
      r.fail("a glyph of " + std::to_string(g.width) + "x" + std::to_string(g.height) + " pixels");
    const std::size_t n =
        static_cast<std::size_t>(g.width) * static_cast<std::size_t>(g.height) * (g.colour ? 4 : 1);
    r.expect(n);
    g.coverage.resize(n);
    r.bytes(g.coverage.data(), g.coverage.size());
  }
  face.breaks.resize(r.count(8));
  for (auto& [text, at] : face.breaks) {
    text.resize(r.count(4));
    for (char32_t& c : text) c = codePoint();
    at.resize(r.count(4));
    std::size_t last = 0;
    for (std::size_t& i : at) {
      i = r.u32();
      // Where a new line may start: ascending, inside the text, never at its start.
      if (i <= last || i >= text.size()) r.fail("a line's break positions are out of order or out of it");
      last = i;
    }
  }
  r.end();
  return face;
}

}  // namespace d3dx
