// A fir tree as a sender's modelling tool would export it: a brown trunk, a crown of four stacked
// cones under the needle texture and eight baubles on its slopes (red, gold, blue glass, and
// striped ones whose stripes are vertex colours). Written beside the application as
// examples-models/: tree.glb, tree.gltf with tree.bin and crown.png, tree-embedded.gltf (data
// URIs), tree.obj with tree.mtl and crown.jpg, and tree-no-normals.glb for models that bring no
// normals.
#include <cmath>
#include <numbers>
#include <stdexcept>

#include "platform/d3dx/Texture.h"
#include "platform/files/AtomicOutput.h"
#include "tools/mediagen/example_model.h"
#include "tools/mediagen/mediagen.h"

namespace mediagen {

namespace {

constexpr double kPi = std::numbers::pi;

enum Material { kTrunk, kCrown, kRed, kGold, kGlass, kStriped, kMaterials };

ModelVertex Vertex(double x, double y, double z, double nx, double ny, double nz, double u, double v) {
  const double n = std::sqrt(nx * nx + ny * ny + nz * nz);
  auto f = [](double d) { return static_cast<float>(d); };
  return ModelVertex{{f(x), f(y), f(z)}, {f(nx / n), f(ny / n), f(nz / n)}, {f(u), f(v)}};
}

void Triangle(ModelPart& part, std::size_t a, std::size_t b, std::size_t c) {
  for (const std::size_t i : {a, b, c}) {
    if (i > 0xFFFE) throw std::runtime_error("an example model's part is too large for 16-bit indices");
    part.indices.push_back(static_cast<std::uint16_t>(i));
  }
}

// The side of a cone cut off at `r1` (0: up to its apex), from y0 to y1, smoothly shaded. Each
// ring repeats its first vertex at its end, so u runs 0..uTurns without wrapping back; v runs
// v0..v1 from top to bottom.
void AddSlope(ModelPart& part, int sides, double y0, double y1, double r0, double r1, double uTurns,
              double v0, double v1) {
  const std::size_t bottom = part.vertices.size();
  const double h = y1 - y0;
  for (int ring = 0; ring < 2; ++ring) {
    const double y = ring == 0 ? y0 : y1, r = ring == 0 ? r0 : r1, v = ring == 0 ? v1 : v0;
    for (int i = 0; i <= sides; ++i) {
      const double a = 2 * kPi * i / sides;
      const double c = std::cos(a), s = std::sin(a);
      part.vertices.push_back(Vertex(r * c, y, r * s, h * c, r0 - r1, h * s, uTurns * i / sides, v));
    }
  }
  const std::size_t top = bottom + sides + 1;
  for (int i = 0; i < sides; ++i) {
    Triangle(part, bottom + i, top + i, bottom + i + 1);
    if (r1 > 0) Triangle(part, bottom + i + 1, top + i, top + i + 1);
  }
}

// A flat disc at height y facing down, its texture laid over it from above.
void AddUnderside(ModelPart& part, int sides, double y, double r) {
  const std::size_t centre = part.vertices.size();
  part.vertices.push_back(Vertex(0, y, 0, 0, -1, 0, 0.5, 0.5));
  for (int i = 0; i <= sides; ++i) {
    const double a = 2 * kPi * i / sides;
    const double c = std::cos(a), s = std::sin(a);
    part.vertices.push_back(Vertex(r * c, y, r * s, 0, -1, 0, 0.5 + 0.5 * c, 0.5 + 0.5 * s));
  }
  for (int i = 0; i < sides; ++i) Triangle(part, centre, centre + 1 + i, centre + 2 + i);
}

// A latitude-longitude sphere; with `stripes`, alternate bands of latitude painted red and white.
void AddSphere(ModelPart& part, double cx, double cy, double cz, double radius, bool stripes) {
  constexpr int kSegments = 16, kRows = 10;
  const std::size_t first = part.vertices.size();
  for (int j = 0; j <= kRows; ++j) {
    const double t = kPi * j / kRows;
    for (int i = 0; i <= kSegments; ++i) {
      const double p = 2 * kPi * i / kSegments;
      const double nx = std::sin(t) * std::cos(p), ny = std::cos(t), nz = std::sin(t) * std::sin(p);
      ModelVertex v = Vertex(cx + radius * nx, cy + radius * ny, cz + radius * nz, nx, ny, nz,
                             static_cast<double>(i) / kSegments, static_cast<double>(j) / kRows);
      if (stripes && (j / 2) % 2 == 1) v.rgba = {200, 16, 24, 255};
      part.vertices.push_back(v);
    }
  }
  auto at = [&](int j, int i) { return first + static_cast<std::size_t>(j) * (kSegments + 1) + i; };
  for (int j = 0; j < kRows; ++j)
    for (int i = 0; i < kSegments; ++i) {
      // The poles' rows meet in a point: only one triangle of each of their quads has an area.
      if (j + 1 < kRows) Triangle(part, at(j + 1, i), at(j, i), at(j + 1, i + 1));
      if (j > 0) Triangle(part, at(j + 1, i + 1), at(j, i), at(j, i + 1));
    }
}

}  // namespace

ExampleModel BuildExampleTree() {
  ExampleModel m;
  m.materials.resize(kMaterials);
  m.materials[kTrunk] = {"Trunk", {0.36f, 0.22f, 0.12f, 1.0f}, 0.0f, 0.9f};
  m.materials[kCrown] = {"Crown", {1.0f, 1.0f, 1.0f, 1.0f}, 0.0f, 0.8f, true};
  m.materials[kRed] = {"BaubleRed", {0.80f, 0.05f, 0.05f, 1.0f}, 0.0f, 0.3f};
  m.materials[kGold] = {"BaubleGold", {1.0f, 0.77f, 0.25f, 1.0f}, 1.0f, 0.3f};
  m.materials[kGlass] = {"BaubleGlass", {0.20f, 0.40f, 1.0f, 0.6f}, 0.0f, 0.1f, false, true};
  m.materials[kStriped] = {"BaubleStriped", {1.0f, 1.0f, 1.0f, 1.0f}, 0.0f, 0.4f};
  m.parts.resize(kMaterials);
  for (int k = 0; k < kMaterials; ++k) m.parts[k].material = k;
  m.parts[kStriped].vertexColors = true;

  AddSlope(m.parts[kTrunk], 16, 0.0, 0.40, 0.07, 0.05, 2.0, 0.0, 1.2);
  AddUnderside(m.parts[kTrunk], 16, 0.0, 0.07);

  // Four tiers, each narrower and shorter; the last one's apex is the top of the tree at 1.8 m.
  struct Tier {
    double base, height, radius;
  };
  static constexpr Tier kTiers[] = {
      {0.30, 0.62, 0.62}, {0.66, 0.56, 0.50}, {1.00, 0.48, 0.38}, {1.30, 0.50, 0.25}};
  for (const Tier& t : kTiers) {
    AddSlope(m.parts[kCrown], 32, t.base, t.base + t.height, t.radius, 0.0, 3.0, 0.0, 1.0);
    AddUnderside(m.parts[kCrown], 32, t.base, t.radius);
  }

  // Baubles sit on the three lower tiers' slopes, a quarter of the way in from the rim, half sunk
  // into the needles.
  struct Bauble {
    Material material;
    int tier;
    double angle;
  };
  static constexpr Bauble kBaubles[] = {{kRed, 0, 0.3},     {kRed, 2, 3.4},    {kGold, 0, 1.9},
                                        {kGold, 1, 4.6},    {kGlass, 0, 4.2},  {kGlass, 1, 1.1},
                                        {kStriped, 1, 2.7}, {kStriped, 2, 0.9}};
  constexpr double kBaubleRadius = 0.05, kInset = 0.75;
  for (const Bauble& b : kBaubles) {
    const Tier& t = kTiers[b.tier];
    const double c = std::cos(b.angle), s = std::sin(b.angle);
    const double slope = std::hypot(t.height, t.radius);  // the outward normal is (h c, r, h s) / slope
    const double out = 0.5 * kBaubleRadius / slope;
    const double r = kInset * t.radius + out * t.height,
                 y = t.base + (1 - kInset) * t.height + out * t.radius;
    AddSphere(m.parts[b.material], r * c, y, r * s, kBaubleRadius, b.material == kStriped);
  }
  return m;
}

namespace {

void Save(const std::string& path, const void* data, std::size_t size) {
  platform::WriteFileAtomically(path, data, size);
}
void Save(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  Save(path, bytes.data(), bytes.size());
}
void Save(const std::string& path, const std::string& text) {
  Save(path, text.data(), text.size());
}

// The crown's needles as RGBA texels.
std::vector<std::uint8_t> NeedleTexels(const Image& needles) {
  std::vector<std::uint8_t> rgba;
  rgba.reserve(needles.pixels.size() / 3 * 4);
  for (std::size_t i = 0; i < needles.pixels.size(); i += 3)
    rgba.insert(rgba.end(), {needles.pixels[i], needles.pixels[i + 1], needles.pixels[i + 2], 255});
  return rgba;
}

}  // namespace

std::vector<std::uint8_t> ExampleTreeGlb(const std::string& path) {
  const Image needles = NeedleImage();
  const std::vector<std::uint8_t> png =
      d3dx::EncodePng(path, NeedleTexels(needles), needles.width, needles.height);
  const GltfWriter glb(BuildExampleTree(), true, &png);
  return Glb(glb.Json("", ""), glb.Bin());
}

void WriteExampleModels(const std::string& out) {
  const std::string dir = out + "/examples-models";
  MakeFolder(dir);
  const ExampleModel tree = BuildExampleTree();

  const Image needles = NeedleImage();
  const std::vector<std::uint8_t> rgba = NeedleTexels(needles);
  const std::vector<std::uint8_t> png =
      d3dx::EncodePng(dir + "/crown.png", rgba, needles.width, needles.height);
  Save(dir + "/crown.png", png);
  d3dx::WriteJpeg(dir + "/crown.jpg", rgba, needles.width, needles.height, 90);

  Save(dir + "/tree.glb", ExampleTreeGlb(dir + "/tree.glb"));
  const GltfWriter bare(tree, false, &png);
  Save(dir + "/tree-no-normals.glb", Glb(bare.Json("", ""), bare.Bin()));

  const GltfWriter apart(tree, true, nullptr);
  Save(dir + "/tree.bin", apart.Bin());
  Save(dir + "/tree.gltf", apart.Json("tree.bin", "crown.png"));
  Save(dir + "/tree-embedded.gltf",
       apart.Json(DataUri("application/octet-stream", apart.Bin()), DataUri("image/png", png)));

  const ObjFiles obj = MakeObj(tree, "tree.mtl", "crown.jpg");
  Save(dir + "/tree.obj", obj.obj);
  Save(dir + "/tree.mtl", obj.mtl);
}

}  // namespace mediagen
