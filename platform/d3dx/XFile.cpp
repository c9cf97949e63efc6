#include "platform/d3dx/XFile.h"

#include <zlib.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <unordered_map>

#include "platform/base/Error.h"
#include "platform/d3d/d3dxmath.h"

namespace d3dx {

namespace {

using d3d::D3DMATRIX;
using d3d::D3DVECTOR;

// ---------------------------------------------------------------------------------------------
// Tokens. Text and binary files both become this one stream; a binary integer or float list
// yields one Number per element.

enum class Tok { End, Name, String, Number, Guid, OBrace, CBrace, Punct, Template };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // Name and String
  double d = 0.0;    // Number: the value; exact for every 32-bit integer
  float f = 0.0f;    // Number: the value as a 32-bit float, rounded once from the file's form
};

class Lexer {
 public:
  virtual ~Lexer() = default;
  virtual Token Next() = 0;
};

class Fail {
 public:
  Fail(const std::string& call, const std::string& file) : call_(call), file_(file) {}
  [[noreturn]] void operator()(const std::string& cause) const { throw platform::Error(call_, cause, file_); }

 private:
  const std::string& call_;
  const std::string& file_;
};

bool IsDigit(std::uint8_t c) {
  return c >= '0' && c <= '9';
}

char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsIgnoringCase(const std::string& a, const char* b) {
  std::size_t i = 0;
  for (; i < a.size() && b[i]; ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return i == a.size() && !b[i];
}

class TextLexer : public Lexer {
 public:
  TextLexer(const std::uint8_t* p, std::size_t n, const Fail& fail)
      : begin_(p), p_(p), end_(p + n), fail_(fail) {}

  Token Next() override {
    skipSpace();
    Token t;
    if (p_ >= end_) return t;
    const char c = static_cast<char>(*p_);
    if (c == '{' || c == '}') {
      ++p_;
      t.kind = c == '{' ? Tok::OBrace : Tok::CBrace;
      return t;
    }
    if (isNumberStart()) {
      const std::uint8_t* start = p_;
      Token num = number();
      // Exporters write names such as "2Torso": a number run straight into a letter is a name.
      if (IsDigit(*start) && p_ < end_ && isNameStart(static_cast<char>(*p_))) return name(start);
      return num;
    }
    if (c == ';' || c == ',' || c == '(' || c == ')' || c == '[' || c == ']' || c == '.') {
      ++p_;
      t.kind = Tok::Punct;
      return t;
    }
    if (c == '<') return guid();
    if (c == '"') return string();
    if (isNameStart(c)) return name(p_);
    fail_("unexpected character " + std::to_string(static_cast<int>(static_cast<unsigned char>(c))) +
          " at byte " + std::to_string(offset()));
  }

 private:
  static bool isNameStart(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
  }
  static bool isNameChar(char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }
  static bool isDigit(std::uint8_t c) { return IsDigit(c); }
  std::size_t offset() const { return static_cast<std::size_t>(p_ - begin_); }

  // The name that starts at `s`; keywords are matched without regard to case, as D3DX's parser does.
  Token name(const std::uint8_t* s) {
    p_ = s;
    while (p_ < end_ && isNameChar(static_cast<char>(*p_))) ++p_;
    Token t;
    t.text.assign(reinterpret_cast<const char*>(s), static_cast<std::size_t>(p_ - s));
    t.kind = EqualsIgnoringCase(t.text, "template") ? Tok::Template : Tok::Name;
    return t;
  }

  void skipSpace() {
    while (p_ < end_) {
      const char c = static_cast<char>(*p_);
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v' || c == '\0') {
        ++p_;
      } else if (c == '#' || (c == '/' && p_ + 1 < end_ && p_[1] == '/')) {
        while (p_ < end_ && *p_ != '\n') ++p_;
      } else {
        return;
      }
    }
  }

  bool isNumberStart() const {
    const std::uint8_t* q = p_;
    if (*q == '-' || *q == '+') ++q;
    if (q < end_ && *q == '.') ++q;
    return q < end_ && isDigit(*q);
  }

  Token number() {
    const std::uint8_t* s = p_;
    if (*p_ == '-' || *p_ == '+') ++p_;
    while (p_ < end_ && isDigit(*p_)) ++p_;
    if (p_ < end_ && *p_ == '.') {
      ++p_;
      while (p_ < end_ && isDigit(*p_)) ++p_;
    }
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      const std::uint8_t* q = p_ + 1;
      if (q < end_ && (*q == '-' || *q == '+')) ++q;
      if (q < end_ && isDigit(*q)) {
        p_ = q;
        while (p_ < end_ && isDigit(*p_)) ++p_;
      }
    }
    const char* first = reinterpret_cast<const char*>(s);
    const char* last = reinterpret_cast<const char*>(p_);
    if (*first == '+') ++first;
    Token t;
    t.kind = Tok::Number;
    const auto rd = std::from_chars(first, last, t.d);
    if (rd.ec != std::errc() || rd.ptr != last) fail_("malformed or out-of-range number");
    const auto rf = std::from_chars(first, last, t.f);
    if (rf.ec == std::errc::result_out_of_range && std::fabs(t.d) < 1.0) {
      t.f = static_cast<float>(t.d);  // below the smallest float: it underflows towards zero
    } else if (rf.ec != std::errc() || rf.ptr != last) {
      fail_("number beyond the range of a float");
    }
    return t;
  }

  Token guid() {
    const std::uint8_t* s = p_;
    while (p_ < end_ && *p_ != '>' && p_ - s < 64) ++p_;
    if (p_ >= end_ || *p_ != '>') fail_("unterminated GUID");
    ++p_;
    Token t;
    t.kind = Tok::Guid;
    return t;
  }

  // Inside quotes every byte stands for itself except that "\\" is one backslash.
  Token string() {
    ++p_;
    Token t;
    t.kind = Tok::String;
    while (true) {
      if (p_ >= end_) fail_("unterminated string");
      const char c = static_cast<char>(*p_++);
      if (c == '"') break;
      if (c == '\\' && p_ < end_ && *p_ == '\\') ++p_;
      t.text.push_back(c);
    }
    return t;
  }

  const std::uint8_t* begin_;
  const std::uint8_t* p_;
  const std::uint8_t* end_;
  const Fail& fail_;
};

class BinaryLexer : public Lexer {
 public:
  BinaryLexer(const std::uint8_t* p, std::size_t n, bool doubles, const Fail& fail)
      : p_(p), end_(p + n), floatSize_(doubles ? 8 : 4), fail_(fail) {}

  Token Next() override {
    while (true) {
      Raw t = next();
      if (!t.emptyList) return static_cast<Token&&>(std::move(t));
    }
  }

 private:
  struct Raw : Token {
    bool emptyList = false;
  };
  Raw next() {
    Raw t;
    if (listLeft_ > 0) {
      --listLeft_;
      t.kind = Tok::Number;
      if (listFloats_) {
        if (floatSize_ == 8) {
          t.d = readDouble();
          t.f = static_cast<float>(t.d);
        } else {
          t.f = readFloat();
          t.d = t.f;
        }
      } else {
        t.d = read32();
        t.f = static_cast<float>(t.d);
      }
      return t;
    }
    if (p_ >= end_) return t;
    const std::uint16_t token = read16();
    switch (token) {
      case 1:  // TOKEN_NAME
        t.kind = Tok::Name;
        t.text = readChars();
        return t;
      case 2: {  // TOKEN_STRING, then its terminator
        t.kind = Tok::String;
        t.text = readChars();
        const std::uint16_t term = read16();
        if (term != 0x13 && term != 0x14) fail_("string without its comma or semicolon");
        return t;
      }
      case 3:  // TOKEN_INTEGER
        t.kind = Tok::Number;
        t.d = read32();
        t.f = static_cast<float>(t.d);
        return t;
      case 5:  // TOKEN_GUID
        need(16);
        p_ += 16;
        t.kind = Tok::Guid;
        return t;
      case 6:    // TOKEN_INTEGER_LIST
      case 7: {  // TOKEN_FLOAT_LIST
        const std::uint32_t count = read32();
        listFloats_ = token == 7;
        const std::uint64_t bytes = static_cast<std::uint64_t>(count) * (listFloats_ ? floatSize_ : 4);
        if (bytes > remaining())
          fail_("a list of " + std::to_string(count) + " values runs past the end of the file");
        listLeft_ = count;
        if (count > 0) return next();
        t.emptyList = true;
        return t;
      }
      case 0x0A:
        t.kind = Tok::OBrace;
        return t;
      case 0x0B:
        t.kind = Tok::CBrace;
        return t;
      case 0x1F:
        t.kind = Tok::Template;
        return t;
      default:
        // Punctuation (0x0C..0x14) and the type keywords of template definitions (0x28..0x34).
        if ((token >= 0x0C && token <= 0x14) || (token >= 0x28 && token <= 0x34)) {
          t.kind = Tok::Punct;
          return t;
        }
        fail_("unknown binary token " + std::to_string(token));
    }
  }

  std::size_t remaining() const { return static_cast<std::size_t>(end_ - p_); }
  void need(std::size_t n) const {
    if (n > remaining()) fail_("the file ends inside a token");
  }
  std::uint16_t read16() {
    need(2);
    const std::uint16_t v = static_cast<std::uint16_t>(p_[0] | (p_[1] << 8));
    p_ += 2;
    return v;
  }
  std::uint32_t read32() {
    need(4);
    const std::uint32_t v = static_cast<std::uint32_t>(p_[0]) | (static_cast<std::uint32_t>(p_[1]) << 8) |
                            (static_cast<std::uint32_t>(p_[2]) << 16) |
                            (static_cast<std::uint32_t>(p_[3]) << 24);
    p_ += 4;
    return v;
  }
  float readFloat() {
    const std::uint32_t bits = read32();
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
  }
  double readDouble() {
    const std::uint64_t lo = read32();
    const std::uint64_t hi = read32();
    const std::uint64_t bits = lo | (hi << 32);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
  }
  std::string readChars() {
    const std::uint32_t n = read32();
    if (n > remaining())
      fail_("a name or string of " + std::to_string(n) + " bytes runs past the end of the file");
    std::string s(reinterpret_cast<const char*>(p_), n);
    p_ += n;
    return s;
  }

  const std::uint8_t* p_;
  const std::uint8_t* end_;
  unsigned floatSize_;
  const Fail& fail_;
  std::uint32_t listLeft_ = 0;
  bool listFloats_ = false;
};

// ---------------------------------------------------------------------------------------------
// Data objects. The reader needs no template definitions: each object's numbers and strings are
// kept in order, and the templates it knows give them their meaning. Objects of other types are
// read for their syntax and dropped.

struct XNum {
  double d;
  float f;
};

struct XObject {
  std::string type;  // a known type in its canonical spelling
  std::string name;
  std::vector<XNum> nums;
  std::vector<std::string> strings;
  // Nested objects and the objects that references name, in file order.
  std::vector<const XObject*> children;
};

// The types the model is built from. D3DX's parser matches type names without regard to case
// (MilkShape writes "TextureFileName"), so each is kept in the spelling below.
const char* KnownType(const std::string& t) {
  static const char* const kKnown[] = {"Mesh",
                                       "Frame",
                                       "FrameTransformMatrix",
                                       "MeshNormals",
                                       "MeshTextureCoords",
                                       "MeshMaterialList",
                                       "Material",
                                       "TextureFilename",
                                       "MeshVertexColors",
                                       "SkinWeights"};
  for (const char* k : kKnown)
    if (EqualsIgnoringCase(t, k)) return k;
  return nullptr;
}

// Every kept object lives in the reader's arena; the tree and the references point into it, so an
// object that a reference names may sit inside any other object, kept or dropped.
struct XObjects {
  std::vector<std::unique_ptr<XObject>> arena;
  std::vector<const XObject*> top;
};

class ObjectReader {
 public:
  ObjectReader(Lexer& lex, const Fail& fail) : lex_(lex), fail_(fail) {}

  XObjects ReadAll() {
    while (true) {
      Token t = lex_.Next();
      switch (t.kind) {
        case Tok::End:
          return std::move(objects_);
        case Tok::Template:
          skipTemplate();
          break;
        case Tok::Punct:
        // A closing brace with nothing open closes nothing; exporters leave one at the end.
        case Tok::CBrace:
          break;
        case Tok::Name: {
          const XObject* obj = readObject(t.text, 1);
          if (obj) objects_.top.push_back(obj);
          break;
        }
        default:
          fail_("unexpected token at the top level of the file");
      }
    }
  }

 private:
  void skipTemplate() {
    int depth = 0;
    while (true) {
      const Token t = lex_.Next();
      if (t.kind == Tok::End) fail_("the file ends inside a template");
      if (t.kind == Tok::OBrace) {
        ++depth;
      } else if (t.kind == Tok::CBrace) {
        if (--depth <= 0) return;
      } else if (depth == 0 && t.kind != Tok::Name) {
        fail_("malformed template");
      }
    }
  }

  // Reads one object after its type name; returns it when it is of a type the model uses. Its name
  // becomes known to references once the whole object has been read, so no object can reach itself.
  const XObject* readObject(const std::string& type, int depth) {
    if (depth > kMaxXNesting)
      fail_("data objects nested more than " + std::to_string(kMaxXNesting) + " deep");
    if (++count_ > kMaxXObjects) fail_("more than " + std::to_string(kMaxXObjects) + " data objects");
    XObject* obj = nullptr;
    if (const char* known = KnownType(type)) {
      objects_.arena.push_back(std::make_unique<XObject>());
      obj = objects_.arena.back().get();
      obj->type = known;
    }
    std::string name;
    Token t = lex_.Next();
    if (t.kind == Tok::Name) {
      name = std::move(t.text);
      t = lex_.Next();
    }
    if (t.kind == Tok::Guid) t = lex_.Next();
    if (t.kind != Tok::OBrace) fail_("a data object without its opening brace");
    while (true) {
      t = lex_.Next();
      switch (t.kind) {
        case Tok::End:
          fail_("the file ends inside a data object");
        case Tok::Number:
          if (obj) obj->nums.push_back(XNum{t.d, t.f});
          break;
        case Tok::String:
          if (obj) obj->strings.push_back(std::move(t.text));
          break;
        case Tok::Punct:
        case Tok::Guid:
          break;
        case Tok::Name: {
          const XObject* child = readObject(t.text, depth + 1);
          if (obj && child) obj->children.push_back(child);
          break;
        }
        case Tok::OBrace: {
          const std::string ref = readReference();
          // A reference by GUID alone names nothing this reader can find; it is passed over.
          if (obj && !ref.empty()) {
            const auto it = named_.find(ref);
            if (it == named_.end()) fail_(obj->type + ": no data object named \"" + ref + "\" before it");
            if (it->second) obj->children.push_back(it->second);
          }
          break;
        }
        case Tok::CBrace:
          // The first object of a name is the one its references mean.
          if (!name.empty()) named_.try_emplace(name, obj);
          if (obj) obj->name = std::move(name);
          return obj;
        case Tok::Template:
          fail_("a template inside a data object");
      }
    }
  }

  // `{ name }`, `{ name <GUID> }` or `{ <GUID> }`, after its opening brace.
  std::string readReference() {
    std::string name;
    Token t = lex_.Next();
    if (t.kind == Tok::Name) {
      name = std::move(t.text);
      t = lex_.Next();
    }
    if (t.kind == Tok::Guid) t = lex_.Next();
    if (t.kind != Tok::CBrace) fail_("malformed reference to a data object");
    return name;
  }

  Lexer& lex_;
  const Fail& fail_;
  std::size_t count_ = 0;
  XObjects objects_;
  // Every named object read so far; null for one of a type the model does not use.
  std::unordered_map<std::string, const XObject*> named_;
};

// ---------------------------------------------------------------------------------------------
// Building the model from the objects.

// Reads an object's numbers in order, refusing to read past them.
class Values {
 public:
  Values(const XObject& o, const Fail& fail) : o_(o), fail_(fail) {}

  std::size_t Left() const { return o_.nums.size() - pos_; }
  float Float() { return take().f; }
  // A count or an index: a whole number in 0..2^32-1.
  std::uint32_t Dword(const char* what) {
    const double d = take().d;
    if (!(d >= 0.0 && d <= 4294967295.0) || d != std::floor(d))
      fail_(o_.type + ": " + what + " is not a whole number in 0..4294967295");
    return static_cast<std::uint32_t>(d);
  }
  // A count of items of `perItem` numbers each, checked against the numbers that remain.
  std::uint32_t Count(const char* what, std::size_t perItem) {
    const std::uint32_t n = Dword(what);
    if (static_cast<std::uint64_t>(n) * perItem > Left())
      fail_(o_.type + ": " + what + " " + std::to_string(n) + " exceeds the data that follows");
    return n;
  }

 private:
  const XNum& take() {
    if (pos_ >= o_.nums.size()) fail_(o_.type + ": the object ends before its data");
    return o_.nums[pos_++];
  }
  const XObject& o_;
  const Fail& fail_;
  std::size_t pos_ = 0;
};

const XObject* FirstChild(const XObject& o, const char* type) {
  for (const XObject* c : o.children)
    if (c->type == type) return c;
  return nullptr;
}

d3d::D3DCOLOR ColorFromFloats(float r, float g, float b, float a) {
  auto channel = [](float v) -> std::uint32_t {
    if (!(v > 0.0f)) return 0;  // NaN too
    if (v >= 1.0f) return 255;
    return static_cast<std::uint32_t>(std::nearbyint(v * 255.0f));
  };
  return d3d::D3DColorARGB(channel(a), channel(r), channel(g), channel(b));
}

// The transform a normal takes (as a row vector): the cofactors of the upper 3 x 3, which are the
// inverse transpose times the determinant; its sign keeps the normal on its side under a mirroring frame.
struct NormalTransform {
  float m[3][3];
  explicit NormalTransform(const D3DMATRIX& t) {
    const auto& a = t.m;
    m[0][0] = a[1][1] * a[2][2] - a[1][2] * a[2][1];
    m[0][1] = a[1][2] * a[2][0] - a[1][0] * a[2][2];
    m[0][2] = a[1][0] * a[2][1] - a[1][1] * a[2][0];
    m[1][0] = a[0][2] * a[2][1] - a[0][1] * a[2][2];
    m[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
    m[1][2] = a[0][1] * a[2][0] - a[0][0] * a[2][1];
    m[2][0] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
    m[2][1] = a[0][2] * a[1][0] - a[0][0] * a[1][2];
    m[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
    const float det = a[0][0] * m[0][0] + a[0][1] * m[0][1] + a[0][2] * m[0][2];
    if (det < 0)
      for (auto& row : m)
        for (float& v : row) v = -v;
  }
  D3DVECTOR Apply(const D3DVECTOR& n) const {
    D3DVECTOR r{n.x * m[0][0] + n.y * m[1][0] + n.z * m[2][0], n.x * m[0][1] + n.y * m[1][1] + n.z * m[2][1],
                n.x * m[0][2] + n.y * m[1][2] + n.z * m[2][2]};
    const float len = std::sqrt(r.x * r.x + r.y * r.y + r.z * r.z);
    if (len > 0.0f && std::isfinite(len)) r = D3DVECTOR{r.x / len, r.y / len, r.z / len};
    return r;
  }
};

// What D3DX gives a mesh that names no material, so that it is drawn all the same.
XMaterial DefaultMaterial() {
  XMaterial m;
  m.material.Diffuse = d3d::D3DCOLORVALUE{0.5f, 0.5f, 0.5f, 0.0f};
  m.material.Specular = d3d::D3DCOLORVALUE{0.5f, 0.5f, 0.5f, 0.0f};
  return m;
}

bool IsIdentity(const D3DMATRIX& m) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      if (m.m[r][c] != (r == c ? 1.0f : 0.0f)) return false;
  return true;
}

class ModelBuilder {
 public:
  ModelBuilder(const XObjects& objects, const Fail& fail) : objects_(objects), fail_(fail) {}

  XModel Build() {
    D3DMATRIX identity;
    D3DXMatrixIdentity(&identity);
    for (const XObject* o : objects_.top) {
      if (o->type == "Mesh") addMesh(*o, identity);
      if (o->type == "Frame") addFrame(*o, identity, 1);
    }
    return std::move(model_);
  }

 private:
  // References let one object be drawn many times; the count of instances and the size of the
  // model are bounded, so a small file cannot multiply itself without end.
  void countInstance() {
    if (++instances_ > kMaxXObjects)
      fail_("more than " + std::to_string(kMaxXObjects) + " frames and meshes once references are followed");
  }

  // A frame's transform applies to what follows it within the frame, on top of its parent's. Each
  // further FrameTransformMatrix nests inside the ones before it, as a child frame would: the
  // transform becomes M x current, in file order. Meshes and frames that a reference names are
  // drawn here with this frame's transform.
  void addFrame(const XObject& frame, const D3DMATRIX& parent, int depth) {
    countInstance();
    // Frames a file nests are bounded when it is read; frames that references chain are bounded here.
    if (depth > kMaxXNesting)
      fail_("frames nested more than " + std::to_string(kMaxXNesting) + " deep once references are followed");
    D3DMATRIX current = parent;
    for (const XObject* c : frame.children) {
      const XObject& o = *c;
      if (o.type == "FrameTransformMatrix") {
        Values v(o, fail_);
        if (v.Left() < 16) fail_("FrameTransformMatrix: fewer than 16 values");
        D3DMATRIX local;
        for (auto& row : local.m)
          for (float& x : row) x = v.Float();
        D3DMATRIX composed;
        D3DXMatrixMultiply(&composed, &local, &current);
        current = composed;
      } else if (o.type == "Mesh") {
        addMesh(o, current);
      } else if (o.type == "Frame") {
        addFrame(o, current, depth + 1);
      }
    }
  }

  XMaterial readMaterial(const XObject& o) {
    Values v(o, fail_);
    if (v.Left() < 11) fail_("Material: fewer than 11 values");
    XMaterial m;
    auto& d = m.material;
    d.Diffuse.r = v.Float();
    d.Diffuse.g = v.Float();
    d.Diffuse.b = v.Float();
    d.Diffuse.a = v.Float();
    d.Power = v.Float();
    d.Specular.r = v.Float();
    d.Specular.g = v.Float();
    d.Specular.b = v.Float();
    d.Specular.a = 1.0f;
    d.Emissive.r = v.Float();
    d.Emissive.g = v.Float();
    d.Emissive.b = v.Float();
    d.Emissive.a = 1.0f;
    d.Ambient = d3d::D3DCOLORVALUE{0.0f, 0.0f, 0.0f, 1.0f};
    if (const XObject* tf = FirstChild(o, "TextureFilename")) {
      if (tf->strings.empty()) fail_("TextureFilename without its string");
      m.textureFilename = tf->strings.front();
    }
    return m;
  }

  void addMesh(const XObject& mesh, const D3DMATRIX& world) {
    countInstance();
    Values v(mesh, fail_);
    const std::uint32_t nVertices = v.Count("nVertices", 3);
    std::vector<D3DVECTOR> positions(nVertices);
    for (auto& p : positions) {
      p.x = v.Float();
      p.y = v.Float();
      p.z = v.Float();
    }
    const std::uint32_t nFaces = v.Count("nFaces", 1);
    // Each face: its corner count, then the corners.
    std::vector<std::uint32_t> faceStart(static_cast<std::size_t>(nFaces) + 1);
    std::vector<std::uint32_t> corners;
    for (std::uint32_t f = 0; f < nFaces; ++f) {
      const std::uint32_t n = v.Count("nFaceVertexIndices", 1);
      if (n < 3) fail_("Mesh: a face with fewer than three vertices");
      faceStart[f] = static_cast<std::uint32_t>(corners.size());
      for (std::uint32_t k = 0; k < n; ++k) {
        const std::uint32_t idx = v.Dword("a face vertex index");
        if (idx >= nVertices)
          fail_("Mesh: face vertex index " + std::to_string(idx) + " beyond " + std::to_string(nVertices) +
                " vertices");
        corners.push_back(idx);
      }
    }
    faceStart[nFaces] = static_cast<std::uint32_t>(corners.size());

    // Normals are indexed per corner, like the positions.
    std::vector<D3DVECTOR> normals;
    std::vector<std::uint32_t> normalOfCorner;
    if (const XObject* mn = FirstChild(mesh, "MeshNormals")) {
      Values n(*mn, fail_);
      const std::uint32_t nNormals = n.Count("nNormals", 3);
      normals.resize(nNormals);
      for (auto& p : normals) {
        p.x = n.Float();
        p.y = n.Float();
        p.z = n.Float();
      }
      const std::uint32_t nFaceNormals = n.Count("nFaceNormals", 1);
      if (nFaceNormals != nFaces) fail_("MeshNormals: nFaceNormals differs from the mesh's nFaces");
      normalOfCorner.reserve(corners.size());
      for (std::uint32_t f = 0; f < nFaces; ++f) {
        const std::uint32_t k = n.Count("nFaceVertexIndices", 1);
        if (k != faceStart[f + 1] - faceStart[f]) fail_("MeshNormals: a face with another corner count");
        for (std::uint32_t i = 0; i < k; ++i) {
          const std::uint32_t idx = n.Dword("a normal index");
          if (idx >= nNormals) fail_("MeshNormals: normal index " + std::to_string(idx) + " out of range");
          normalOfCorner.push_back(idx);
        }
      }
    }

    std::vector<float> uv;
    if (const XObject* tc = FirstChild(mesh, "MeshTextureCoords")) {
      Values t(*tc, fail_);
      const std::uint32_t n = t.Count("nTextureCoords", 2);
      if (n != nVertices) fail_("MeshTextureCoords: nTextureCoords differs from the mesh's nVertices");
      uv.resize(static_cast<std::size_t>(n) * 2);
      for (float& x : uv) x = t.Float();
    }

    std::vector<d3d::D3DCOLOR> colors;
    if (const XObject* vc = FirstChild(mesh, "MeshVertexColors")) {
      Values c(*vc, fail_);
      const std::uint32_t n = c.Count("nVertexColors", 5);
      colors.assign(nVertices, 0xFFFFFFFFu);
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t idx = c.Dword("a vertex colour index");
        if (idx >= nVertices)
          fail_("MeshVertexColors: vertex index " + std::to_string(idx) + " out of range");
        const float r = c.Float(), g = c.Float(), b = c.Float(), a = c.Float();
        colors[idx] = ColorFromFloats(r, g, b, a);
      }
    }

    for (const XObject* ch : mesh.children) {
      if (ch->type != "SkinWeights") continue;
      Values s(*ch, fail_);
      const std::uint32_t n = s.Count("nWeights", 2);
      for (std::uint32_t i = 0; i < n; ++i) {
        const std::uint32_t idx = s.Dword("a skin-weight vertex index");
        if (idx >= nVertices) fail_("SkinWeights: vertex index " + std::to_string(idx) + " out of range");
      }
    }

    // Material numbers continue after those of the meshes before this one.
    const std::uint32_t materialBase = static_cast<std::uint32_t>(model_.materials.size());
    std::vector<std::uint32_t> faceMaterial(nFaces, materialBase);
    std::vector<XMaterial> materials;
    if (const XObject* ml = FirstChild(mesh, "MeshMaterialList")) {
      for (const XObject* c : ml->children)
        if (c->type == "Material") materials.push_back(readMaterial(*c));
      Values m(*ml, fail_);
      const std::uint32_t nMaterials = m.Dword("nMaterials");
      if (nMaterials != materials.size())
        fail_(materials.empty()
                  ? "MeshMaterialList: " + std::to_string(nMaterials) + " but no Material objects"
                  : "MeshMaterialList: nMaterials " + std::to_string(nMaterials) + " but " +
                        std::to_string(materials.size()) + " materials");
      const std::uint32_t nIndexes = m.Count("nFaceIndexes", 1);
      if (nIndexes > nFaces) fail_("MeshMaterialList: more face indexes than faces");
      // A list of no materials says nothing about the faces: they get the default material.
      if (nMaterials > 0) {
        if (nIndexes == 0 && nFaces > 0) fail_("MeshMaterialList: no face indexes");
        for (std::uint32_t f = 0; f < nIndexes; ++f) {
          const std::uint32_t idx = m.Dword("a face material index");
          if (idx >= nMaterials)
            fail_("MeshMaterialList: material index " + std::to_string(idx) + " out of range");
          faceMaterial[f] = materialBase + idx;
        }
        // A shorter list leaves the remaining faces with its last material.
        for (std::uint32_t f = nIndexes; f < nFaces; ++f) faceMaterial[f] = faceMaterial[nIndexes - 1];
      }
    }
    if (materials.empty()) materials.push_back(DefaultMaterial());
    for (auto& mat : materials) model_.materials.push_back(std::move(mat));

    model_.hasNormals |= !normals.empty();
    model_.hasTexCoords |= !uv.empty();
    model_.hasColors |= !colors.empty();

    // One output vertex per distinct (position, normal) pair.
    const bool transform = !IsIdentity(world);
    const NormalTransform nt(world);
    std::unordered_map<std::uint64_t, std::uint32_t> vertexOf;
    auto vertexFor = [&](std::size_t corner) -> std::uint32_t {
      const std::uint32_t p = corners[corner];
      const std::uint32_t n = normalOfCorner.empty() ? 0 : normalOfCorner[corner];
      const std::uint64_t key = (static_cast<std::uint64_t>(p) << 32) | n;
      const auto [it, fresh] = vertexOf.try_emplace(key, static_cast<std::uint32_t>(model_.vertices.size()));
      if (fresh) {
        if (model_.vertices.size() >= kMaxModelVertices)
          fail_("more than " + std::to_string(kMaxModelVertices) + " vertices in the model");
        XVertex out;
        out.position = transform ? D3DXVec3TransformCoord(positions[p], world) : positions[p];
        if (!normals.empty()) out.normal = transform ? nt.Apply(normals[n]) : normals[n];
        if (!uv.empty()) {
          out.tu = uv[2 * static_cast<std::size_t>(p)];
          out.tv = uv[2 * static_cast<std::size_t>(p) + 1];
        }
        if (!colors.empty()) out.color = colors[p];
        model_.vertices.push_back(out);
      }
      return it->second;
    };
    for (std::uint32_t f = 0; f < nFaces; ++f) {
      const std::size_t first = faceStart[f];
      for (std::size_t k = first + 1; k + 1 < faceStart[f + 1]; ++k) {
        if (model_.attributes.size() >= kMaxModelTriangles)
          fail_("more than " + std::to_string(kMaxModelTriangles) + " triangles in the model");
        model_.indices.push_back(vertexFor(first));
        model_.indices.push_back(vertexFor(k));
        model_.indices.push_back(vertexFor(k + 1));
        model_.attributes.push_back(faceMaterial[f]);
      }
    }
  }

  const XObjects& objects_;
  const Fail& fail_;
  std::size_t instances_ = 0;
  XModel model_;
};

}  // namespace

std::vector<std::uint8_t> InflateMszip(const std::uint8_t* data, std::size_t size, const std::string& file,
                                       const std::string& call) {
  const Fail fail(call, file);
  if (size < 4) fail("compressed file without its size");
  const std::uint32_t total =
      static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
      (static_cast<std::uint32_t>(data[2]) << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
  if (total < 16) fail("compressed file with a total size below its header");
  const std::size_t bodySize = total - 16u;
  if (bodySize > kMaxXFileBody) fail("compressed file of " + std::to_string(total) + " bytes is too large");

  z_stream zs{};
  if (inflateInit2(&zs, -MAX_WBITS) != Z_OK) fail("cannot start the inflater");
  struct End {
    z_stream* z;
    ~End() { inflateEnd(z); }
  } end{&zs};

  std::vector<std::uint8_t> out;
  std::size_t pos = 4;
  std::size_t prevBlock = 0;  // start in `out` of the previous block's output
  while (pos < size) {
    if (size - pos < 6) fail("compressed block header cut short");
    const std::uint32_t outSize = data[pos] | (data[pos + 1] << 8);
    const std::uint32_t inSize = data[pos + 2] | (data[pos + 3] << 8);
    if (data[pos + 4] != 'C' || data[pos + 5] != 'K') fail("compressed block without its CK signature");
    if (inSize < 2 || inSize > size - pos - 4) fail("compressed block runs past the end of the file");
    if (outSize > bodySize - out.size()) fail("compressed blocks exceed the declared size");
    const std::size_t start = out.size();
    out.resize(start + outSize);
    if (inflateReset(&zs) != Z_OK) fail("cannot reset the inflater");
    if (start > 0) {
      // The dictionary is the previous block's output, of which deflate reaches back 32 KiB.
      const std::size_t dictLen = std::min<std::size_t>(start - prevBlock, 32768);
      if (inflateSetDictionary(&zs, out.data() + start - dictLen, static_cast<uInt>(dictLen)) != Z_OK)
        fail("cannot set the inflater's dictionary");
    }
    zs.next_in = const_cast<Bytef*>(data + pos + 6);
    zs.avail_in = inSize - 2;
    zs.next_out = out.data() + start;
    zs.avail_out = outSize;
    const int rc = inflate(&zs, Z_FINISH);
    if (rc != Z_STREAM_END || zs.avail_out != 0) fail("corrupt compressed block");
    prevBlock = start;
    pos += 4 + inSize;
  }
  if (out.size() != bodySize) fail("compressed data shorter than its declared size");
  return out;
}

XModel ParseXFile(const std::uint8_t* data, std::size_t size, const std::string& file,
                  const std::string& call) {
  const Fail fail(call, file);
  if (size < 16) fail("file shorter than an X file header");
  if (std::memcmp(data, "xof ", 4) != 0) fail("not an X file");
  for (int i = 4; i < 8; ++i)
    if (data[i] < '0' || data[i] > '9') fail("X file header with a malformed version");
  const std::string format(reinterpret_cast<const char*>(data + 8), 4);
  const std::string floats(reinterpret_cast<const char*>(data + 12), 4);
  if (floats != "0032" && floats != "0064") fail("X file with float size \"" + floats + "\"");
  const bool doubles = floats == "0064";

  const std::uint8_t* body = data + 16;
  std::size_t bodySize = size - 16;
  std::vector<std::uint8_t> inflated;
  bool binary;
  if (format == "txt " || format == "bin ") {
    binary = format == "bin ";
    if (bodySize > kMaxXFileBody) fail("file too large");
  } else if (format == "tzip" || format == "bzip") {
    binary = format == "bzip";
    inflated = InflateMszip(body, bodySize, file, call);
    body = inflated.data();
    bodySize = inflated.size();
  } else {
    fail("X file of unknown format \"" + format + "\"");
  }

  std::unique_ptr<Lexer> lex;
  if (binary)
    lex = std::make_unique<BinaryLexer>(body, bodySize, doubles, fail);
  else
    lex = std::make_unique<TextLexer>(body, bodySize, fail);
  const XObjects objects = ObjectReader(*lex, fail).ReadAll();
  XModel model = ModelBuilder(objects, fail).Build();
  model.binary = binary;
  model.compressed = format == "tzip" || format == "bzip";
  model.floatBits = doubles ? 64 : 32;
  return model;
}

}  // namespace d3dx
