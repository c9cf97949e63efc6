// The fir tree of the scene: a bark-textured trunk, six tiers of drooping needle-branch skirts with
// jagged rims, a golden star of two crossed faceted stars on top and a few coloured baubles at the
// branch tips. Written as a text X file: top-level materials referenced by name, one frame with its
// transform and one mesh with texture coordinates, vertex colours and a material list. The model
// stands on y = 0, centred on the vertical axis, about 2.3 units tall, so the demo's scale of 10
// makes it some 23 units high.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <numbers>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "tools/mediagen/mediagen.h"
#include "tools/mediagen/noise.h"

namespace mediagen {

namespace {

constexpr double kPi = std::numbers::pi;

enum Material { kBark = 0, kNeedles = 1, kStar = 2, kBaubles = 3 };

struct Vertex {
  double x, y, z;
  double u, v;
  double r, g, b;
};

struct TreeMesh {
  std::vector<Vertex> vertices;
  std::vector<std::vector<int>> faces;  // triangles and quads
  std::vector<int> material;

  int add(const Vertex& v) {
    vertices.push_back(v);
    return static_cast<int>(vertices.size()) - 1;
  }
  void face(std::vector<int> f, int m) {
    faces.push_back(std::move(f));
    material.push_back(m);
  }
};

void AddTrunk(TreeMesh& t) {
  constexpr int kSides = 12;
  constexpr double kTop = 0.75, kBottomR = 0.095, kTopR = 0.055;
  constexpr int kRows = 3;
  int base = static_cast<int>(t.vertices.size());
  for (int row = 0; row <= kRows; ++row) {
    const double s = static_cast<double>(row) / kRows;
    const double y = kTop * s, r = kBottomR + (kTopR - kBottomR) * s;
    for (int i = 0; i <= kSides; ++i) {
      const double a = 2 * kPi * i / kSides;
      const double shade = 0.75 + 0.25 * s;
      t.add(Vertex{r * std::cos(a), y, r * std::sin(a), 2.0 * i / kSides, 3.0 * y, shade, shade, shade});
    }
  }
  for (int row = 0; row < kRows; ++row)
    for (int i = 0; i < kSides; ++i) {
      const int a = base + row * (kSides + 1) + i, b = a + kSides + 1;
      t.face({a, a + 1, b + 1, b}, kBark);
    }
}

// One skirt of branches: a cone from its apex down to a jagged, drooping rim.
void AddTier(TreeMesh& t, Rng& rng, int tier, double yBase, double height, double radius,
             std::vector<Vertex>& tips) {
  constexpr int kSegments = 32;
  constexpr int kRings = 4;
  const double yTop = yBase + height;
  const double twist = rng.Uniform() * 2 * kPi / kSegments;
  std::vector<double> jag(kSegments + 1);
  for (int i = 0; i < kSegments; ++i) jag[i] = (i % 2 == 0 ? 1.08 : 0.86) + 0.08 * (rng.Uniform() - 0.5);
  jag[kSegments] = jag[0];
  const int apex = t.add(Vertex{0, yTop, 0, 0.5, 0.05 + 0.37 * tier, 0.45, 0.55, 0.45});
  int prevRing = -1;
  for (int ring = 1; ring <= kRings; ++ring) {
    const double s = static_cast<double>(ring) / kRings;
    const int first = static_cast<int>(t.vertices.size());
    for (int i = 0; i <= kSegments; ++i) {
      const double a = 2 * kPi * i / kSegments + twist;
      // Towards the rim the branches spread and their tips droop.
      const double spread = 1 + (jag[i] - 1) * s * s;
      const double r = radius * s * spread;
      const double droop = (jag[i] > 1 ? 0.07 : 0.03) * s * s * s;
      const double y = yTop - height * (0.82 * s + 0.18 * s * s) - droop;
      const double shade = 0.55 + 0.45 * s;
      t.add(Vertex{r * std::cos(a), y, r * std::sin(a), 4.0 * i / kSegments, 0.05 + 0.37 * tier + 1.6 * s,
                   shade * 0.95, shade, shade * 0.95});
      if (ring == kRings && i < kSegments && i % 2 == 0) tips.push_back(t.vertices.back());
    }
    for (int i = 0; i < kSegments; ++i) {
      if (prevRing < 0)
        t.face({apex, first + i + 1, first + i}, kNeedles);
      else
        t.face({prevRing + i, prevRing + i + 1, first + i + 1, first + i}, kNeedles);
    }
    prevRing = first;
  }
}

// A five-pointed star in the plane through the vertical axis at angle `turn`, bulging to a point on
// both faces.
void AddStar(TreeMesh& t, double cy, double turn) {
  constexpr double kOuter = 0.15, kInner = 0.062, kBulge = 0.045;
  const double ux = std::cos(turn), uz = std::sin(turn);  // in-plane horizontal direction
  const double nx = -uz, nz = ux;                         // the plane's normal
  auto at = [&](double h, double y, double n) {
    return Vertex{ux * h + nx * n, cy + y, uz * h + nz * n, 0, 0, 1.0, 0.86, 0.30};
  };
  const int front = t.add(at(0, 0, kBulge));
  const int back = t.add(at(0, 0, -kBulge));
  t.vertices[front].g = t.vertices[back].g = 0.95;  // a paler heart
  const int first = static_cast<int>(t.vertices.size());
  for (int i = 0; i < 10; ++i) {
    const double a = kPi / 2 + i * kPi / 5;
    const double r = i % 2 == 0 ? kOuter : kInner;
    t.add(at(r * std::cos(a), r * std::sin(a), 0));
  }
  for (int i = 0; i < 10; ++i) {
    const int a = first + i, b = first + (i + 1) % 10;
    t.face({front, a, b}, kStar);
    t.face({back, b, a}, kStar);
  }
}

// A small octahedron hanging below a branch tip.
void AddBauble(TreeMesh& t, const Vertex& tip, double r, double g, double b) {
  constexpr double kSize = 0.035;
  const double cx = tip.x * 0.97, cy = tip.y - 0.05, cz = tip.z * 0.97;
  const double off[6][3] = {{kSize, 0, 0},  {-kSize, 0, 0}, {0, kSize, 0},
                            {0, -kSize, 0}, {0, 0, kSize},  {0, 0, -kSize}};
  int v[6];
  for (int i = 0; i < 6; ++i) {
    const double lit = i == 2 ? 1.0 : (i == 3 ? 0.55 : 0.8);
    v[i] = t.add(Vertex{cx + off[i][0], cy + off[i][1], cz + off[i][2], 0, 0, r * lit, g * lit, b * lit});
  }
  const int f[8][3] = {{2, 0, 4}, {2, 4, 1}, {2, 1, 5}, {2, 5, 0},
                       {3, 4, 0}, {3, 1, 4}, {3, 5, 1}, {3, 0, 5}};
  for (const auto& tri : f) t.face({v[tri[0]], v[tri[1]], v[tri[2]]}, kBaubles);
}

TreeMesh BuildTree() {
  TreeMesh t;
  Rng rng(0x7EEF1Aull);
  AddTrunk(t);
  std::vector<Vertex> tips;
  constexpr int kTiers = 6;
  double top = 0;
  for (int k = 0; k < kTiers; ++k) {
    const double yBase = 0.33 + 0.27 * k;
    const double height = 0.62 - 0.035 * k;
    const double radius = 0.95 - 0.135 * k;
    AddTier(t, rng, k, yBase, height, radius, tips);
    top = yBase + height;
  }
  AddStar(t, top + 0.11, 0.0);
  AddStar(t, top + 0.11, kPi / 2);
  static const double kColours[4][3] = {
      {0.85, 0.10, 0.10}, {0.15, 0.30, 0.90}, {0.95, 0.75, 0.20}, {0.85, 0.85, 0.90}};
  int colour = 0;
  for (std::size_t i = 0; i < tips.size(); i += 7) {
    const auto& c = kColours[colour++ % 4];
    AddBauble(t, tips[i], c[0], c[1], c[2]);
  }
  return t;
}

std::string Num(double v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.6f", std::abs(v) < 5e-7 ? 0.0 : v);
  return buf;
}

void WriteMaterial(std::ostringstream& x, const char* name, double r, double g, double b, double power,
                   const char* texture) {
  x << "Material " << name << " {\n"
    << "  " << Num(r) << ";" << Num(g) << ";" << Num(b) << ";1.000000;;\n"
    << "  " << Num(power) << ";\n"
    << "  0.200000;0.200000;0.200000;;\n"
    << "  0.000000;0.000000;0.000000;;\n";
  if (texture) x << "  TextureFilename {\n    \"" << texture << "\";\n  }\n";
  x << "}\n\n";
}

std::string TreeX(const TreeMesh& t) {
  std::ostringstream x;
  x << "xof 0303txt 0032\n"
    << "// The fir tree of the winter scene, made by mediagen.\n\n"
    << "Header {\n  1;\n  0;\n  1;\n}\n\n";
  WriteMaterial(x, "Bark", 0.45, 0.32, 0.22, 4.0, "bark.jpg");
  WriteMaterial(x, "Needles", 0.20, 0.45, 0.22, 8.0, "needles.jpg");

  // The frame turns the tree a little about its axis, so the branch tips do not line up with the
  // world's axes.
  const double turn = 0.3;
  const double c = std::cos(turn), s = std::sin(turn);
  x << "Frame Tree {\n"
    << "  FrameTransformMatrix {\n"
    << "    " << Num(c) << "," << Num(0) << "," << Num(-s) << "," << Num(0) << ",\n"
    << "    0.000000,1.000000,0.000000,0.000000,\n"
    << "    " << Num(s) << "," << Num(0) << "," << Num(c) << "," << Num(0) << ",\n"
    << "    0.000000,0.000000,0.000000,1.000000;;\n"
    << "  }\n\n";

  const std::size_t nv = t.vertices.size(), nf = t.faces.size();
  x << "  Mesh Fir {\n    " << nv << ";\n";
  for (std::size_t i = 0; i < nv; ++i) {
    const auto& v = t.vertices[i];
    x << "    " << Num(v.x) << ";" << Num(v.y) << ";" << Num(v.z) << ";" << (i + 1 < nv ? "," : ";") << "\n";
  }
  x << "    " << nf << ";\n";
  for (std::size_t i = 0; i < nf; ++i) {
    const auto& f = t.faces[i];
    x << "    " << f.size() << ";";
    for (std::size_t k = 0; k < f.size(); ++k) x << f[k] << (k + 1 < f.size() ? "," : "");
    x << ";" << (i + 1 < nf ? "," : ";") << "\n";
  }

  x << "\n    MeshTextureCoords {\n      " << nv << ";\n";
  for (std::size_t i = 0; i < nv; ++i)
    x << "      " << Num(t.vertices[i].u) << ";" << Num(t.vertices[i].v) << ";" << (i + 1 < nv ? "," : ";")
      << "\n";
  x << "    }\n";

  x << "\n    MeshVertexColors {\n      " << nv << ";\n";
  for (std::size_t i = 0; i < nv; ++i) {
    const auto& v = t.vertices[i];
    x << "      " << i << ";" << Num(v.r) << ";" << Num(v.g) << ";" << Num(v.b) << ";1.000000;;"
      << (i + 1 < nv ? "," : ";") << "\n";
  }
  x << "    }\n";

  x << "\n    MeshMaterialList {\n      4;\n      " << nf << ";\n";
  for (std::size_t i = 0; i < nf; ++i) x << "      " << t.material[i] << (i + 1 < nf ? "," : ";") << "\n";
  x << "      {Bark}\n      {Needles}\n";
  // The star and the baubles take their colour from the vertices: they have no texture.
  x << "      Material Star {\n        1.000000;0.860000;0.300000;1.000000;;\n        32.000000;\n"
    << "        1.000000;1.000000;0.800000;;\n        0.600000;0.500000;0.150000;;\n      }\n"
    << "      Material Baubles {\n        1.000000;1.000000;1.000000;1.000000;;\n        48.000000;\n"
    << "        1.000000;1.000000;1.000000;;\n        0.000000;0.000000;0.000000;;\n      }\n"
    << "    }\n";
  x << "  }\n}\n";
  return x.str();
}

std::uint8_t Byte(double v) {
  return static_cast<std::uint8_t>(std::nearbyint(std::clamp(v, 0.0, 1.0) * 255));
}

// Brown bark with vertical furrows that wander a little; tiles in both directions.
void WriteBark(const std::string& path) {
  constexpr int kSize = 128;
  Image img(kSize, kSize, 3);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double u = static_cast<double>(x) / kSize, v = static_cast<double>(y) / kSize;
      const double wander = TileFbm(u * 4, v * 4, 4, 3, 0.5, 31);
      const double furrow = 0.5 + 0.5 * std::sin(2 * kPi * (u * 7 + 0.6 * wander));
      const double grain = TileFbm(u * 32, v * 32, 32, 2, 0.5, 37);
      const double k = 0.55 + 0.35 * furrow + 0.25 * (grain - 0.5);
      auto* p = img.at(x, y);
      p[0] = Byte(0.42 * k);
      p[1] = Byte(0.28 * k);
      p[2] = Byte(0.17 * k);
    }
  WriteJpeg(path, img, 90);
}

}  // namespace

// Dense needles: many short strokes in greens over a dark ground, with a few flecks of snow.
Image NeedleImage() {
  constexpr int kSize = 256;
  Image img(kSize, kSize, 3);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const double n = TileFbm(x / 32.0, y / 32.0, 8, 3, 0.5, 41);
      auto* p = img.at(x, y);
      p[0] = Byte(0.05 + 0.05 * n);
      p[1] = Byte(0.17 + 0.10 * n);
      p[2] = Byte(0.07 + 0.05 * n);
    }
  Rng rng(0x4EED1E5ull);
  for (int i = 0; i < 2600; ++i) {
    const double x0 = rng.Uniform() * kSize, y0 = rng.Uniform() * kSize;
    // Needles point outwards and down the branch, with some scatter.
    const double a = (rng.Uniform() < 0.5 ? 0.35 : kPi - 0.35) + (rng.Uniform() - 0.5) * 0.6;
    const double len = 5 + rng.Uniform() * 9;
    const double light = rng.Uniform();
    const double r = 0.10 + 0.18 * light, g = 0.32 + 0.35 * light, b = 0.14 + 0.14 * light;
    for (double s = 0; s <= len; s += 0.5) {
      const int px = (static_cast<int>(std::floor(x0 + std::cos(a) * s)) % kSize + kSize) % kSize;
      const int py = (static_cast<int>(std::floor(y0 + std::sin(a) * s)) % kSize + kSize) % kSize;
      auto* p = img.at(px, py);
      const double fade = 0.7 + 0.3 * (s / len);
      p[0] = Byte(r * fade);
      p[1] = Byte(g * fade);
      p[2] = Byte(b * fade);
    }
  }
  for (int i = 0; i < 90; ++i) {
    const int cx = static_cast<int>(rng.Uniform() * kSize), cy = static_cast<int>(rng.Uniform() * kSize);
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -2; dx <= 2; ++dx) {
        if (std::abs(dx) + std::abs(dy) > 2) continue;
        auto* p = img.at((cx + dx + kSize) % kSize, (cy + dy + kSize) % kSize);
        p[0] = Byte(0.88);
        p[1] = Byte(0.92);
        p[2] = Byte(0.96);
      }
  }
  return img;
}

void WriteTreeModel(const std::string& out) {
  const std::string dir = out + "/models";
  MakeFolder(dir);
  WriteBark(dir + "/bark.jpg");
  WriteJpeg(dir + "/needles.jpg", NeedleImage(), 90);
  const std::string text = TreeX(BuildTree());
  const std::string path = dir + "/tree.x", tmp = path + ".tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f || !f.write(text.data(), static_cast<std::streamsize>(text.size())) || !f.flush())
      throw std::runtime_error("cannot write " + tmp);
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) throw std::runtime_error("cannot rename " + tmp);
}

}  // namespace mediagen
