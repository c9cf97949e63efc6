#include "platform/d3dx/Simplify.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace d3dx {

namespace {

// Which cluster each vertex falls in, for one grid: an open-addressing table from cell key to
// cluster number.
class Clusters {
 public:
  explicit Clusters(std::size_t vertices) {
    std::size_t size = 16;
    while (size < 2 * vertices) size *= 2;
    keys_.assign(size, kEmpty);
    ids_.assign(size, 0);
  }
  std::uint32_t idOf(std::uint64_t key) {
    const std::size_t mask = keys_.size() - 1;
    std::size_t at = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 20) & mask;
    while (keys_[at] != kEmpty && keys_[at] != key) at = (at + 1) & mask;
    if (keys_[at] == kEmpty) {
      keys_[at] = key;
      ids_[at] = count_++;
    }
    return ids_[at];
  }
  std::uint32_t count() const { return count_; }

 private:
  static constexpr std::uint64_t kEmpty = ~0ull;
  std::vector<std::uint64_t> keys_;
  std::vector<std::uint32_t> ids_;
  std::uint32_t count_ = 0;
};

struct Grid {
  d3d::D3DVECTOR lo{};
  float cell = 1;
};

// The side of the model a normal faces: its largest component and that component's sign.
std::uint64_t SideOf(const d3d::D3DVECTOR& n) {
  const float ax = std::fabs(n.x), ay = std::fabs(n.y), az = std::fabs(n.z);
  if (ax >= ay && ax >= az) return n.x < 0 ? 1 : 2;
  if (ay >= az) return n.y < 0 ? 3 : 4;
  return n.z < 0 ? 5 : 6;
}

std::uint64_t Quantize(float v, float scale, std::uint64_t mask) {
  const double q = std::floor(static_cast<double>(v) * scale);
  if (!std::isfinite(q)) return 0;
  return static_cast<std::uint64_t>(static_cast<std::int64_t>(std::clamp(q, -1e15, 1e15))) & mask;
}

// Each vertex's cluster for `grid`, and each vertex's cell (the clusters of one cell differ only in
// the side and texture patch they belong to, and share the cell's position).
void Cluster(const XModel& m, const Grid& grid, std::vector<std::uint32_t>& clusterOf,
             std::vector<std::uint32_t>& cellOf) {
  Clusters clusters(m.vertices.size()), cells(m.vertices.size());
  clusterOf.resize(m.vertices.size());
  cellOf.resize(m.vertices.size());
  const float inv = 1.0f / grid.cell;
  for (std::size_t i = 0; i < m.vertices.size(); ++i) {
    const XVertex& v = m.vertices[i];
    std::uint64_t key = Quantize(v.position.x - grid.lo.x, inv, 0xFFF);
    key = key << 12 | Quantize(v.position.y - grid.lo.y, inv, 0xFFF);
    key = key << 12 | Quantize(v.position.z - grid.lo.z, inv, 0xFFF);
    cellOf[i] = cells.idOf(key);
    key = key << 3 | (m.hasNormals ? SideOf(v.normal) : 0);
    if (m.hasTexCoords) {
      key = key << 8 | Quantize(v.tu, 8, 0xFF);
      key = key << 8 | Quantize(v.tv, 8, 0xFF);
    }
    clusterOf[i] = clusters.idOf(key);
  }
}

// Triangles whose corners fall in three different cells, each set of corners in the same winding
// and material counted once (as the triangles kept are; the key packs three cluster numbers of at
// most 21 bits, which kMaxModelVertices keeps them within, and mixes in the material).
std::size_t Surviving(const XModel& m, const std::vector<std::uint32_t>& clusterOf,
                      const std::vector<std::uint32_t>& cellOf) {
  Clusters distinct(m.indices.size() / 3);
  for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3) {
    // Corners in one cell meet at its place: such a triangle has no area left.
    const std::uint32_t p = cellOf[m.indices[t]], q = cellOf[m.indices[t + 1]], r = cellOf[m.indices[t + 2]];
    if (p == q || q == r || p == r) continue;
    std::uint64_t a = clusterOf[m.indices[t]], b = clusterOf[m.indices[t + 1]], c = clusterOf[m.indices[t + 2]];
    if (a == b || b == c || a == c) continue;
    while (a > b || a > c) std::swap(a, b), std::swap(b, c);
    distinct.idOf((a << 42 | b << 21 | c) ^ (m.attributes[t / 3] * 0x9E3779B97F4A7C15ull));
  }
  return distinct.count();
}

}  // namespace

std::size_t SimplifyModel(XModel& m, std::size_t maxTriangles) {
  const std::size_t triangles = m.indices.size() / 3;
  if (triangles <= maxTriangles || m.vertices.empty() || m.vertices.size() > kMaxModelVertices ||
      m.attributes.size() != triangles)
    return triangles;

  Grid grid;
  d3d::D3DVECTOR hi = m.vertices[0].position;
  grid.lo = hi;
  for (const XVertex& v : m.vertices) {
    if (!std::isfinite(v.position.x) || !std::isfinite(v.position.y) || !std::isfinite(v.position.z)) continue;
    grid.lo = {std::min(grid.lo.x, v.position.x), std::min(grid.lo.y, v.position.y),
               std::min(grid.lo.z, v.position.z)};
    hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
  }
  const float extent = std::max({hi.x - grid.lo.x, hi.y - grid.lo.y, hi.z - grid.lo.z});
  if (!(extent > 0) || !std::isfinite(extent)) return triangles;

  // Cells along the model's longest side. A surface crossing n x n cells keeps about two triangles a
  // cell, so the model's area gives the first try; each further try scales the last by the square root
  // of how far its count was from the budget, within the bounds tried so far. The finest grid within
  // the budget is kept.
  double area = 0;
  for (std::size_t t = 0; t + 2 < m.indices.size(); t += 3) {
    const d3d::D3DVECTOR& p = m.vertices[m.indices[t]].position;
    const d3d::D3DVECTOR& q = m.vertices[m.indices[t + 1]].position;
    const d3d::D3DVECTOR& r = m.vertices[m.indices[t + 2]].position;
    const double ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z, vx = r.x - p.x, vy = r.y - p.y, vz = r.z - p.z;
    const double cx = uy * vz - uz * vy, cy = uz * vx - ux * vz, cz = ux * vy - uy * vx;
    const double a = 0.5 * std::sqrt(cx * cx + cy * cy + cz * cz);
    if (std::isfinite(a)) area += a;
  }
  constexpr int kMaxCells = 4095;
  const double unitArea = area / (static_cast<double>(extent) * extent);
  int cells = unitArea > 0 ? static_cast<int>(std::sqrt(static_cast<double>(maxTriangles) / (2 * unitArea))) : 64;
  cells = std::clamp(cells, 1, kMaxCells);
  std::vector<std::uint32_t> clusterOf, cellOf;
  int under = 0, over = kMaxCells + 1;  // finest grid within the budget, coarsest over it
  for (int attempt = 0; attempt < 10; ++attempt) {
    grid.cell = extent / static_cast<float>(cells) * 1.0001f;
    Cluster(m, grid, clusterOf, cellOf);
    const std::size_t count = Surviving(m, clusterOf, cellOf);
    (count <= maxTriangles ? under : over) = cells;
    if (over - under <= 1) break;
    const double scale = std::sqrt(0.98 * static_cast<double>(maxTriangles) /
                                   static_cast<double>(std::max<std::size_t>(count, 1)));
    int next = static_cast<int>(cells * scale);
    if (next <= under || next >= over) next = under + (over - under) / 2;
    cells = std::clamp(next, 1, kMaxCells);
  }
  // No grid tried meets the budget: the coarsest there is.
  under = std::max(under, 1);
  grid.cell = extent / static_cast<float>(under) * 1.0001f;
  std::vector<std::uint32_t> best;
  Cluster(m, grid, best, cellOf);

  // Each cluster's vertex: at its cell's place (the clusters of a cell meet there, leaving no crack
  // between them), with the mean normal, colour and texture coordinate of its own members. A cell's
  // place is the point nearest to the planes of the triangles around its vertices (each weighted by
  // its area), and among such points the one nearest to the vertices' mean: on a flat patch the mean
  // moved onto the surface, on a ridge a point of the ridge, at a tip the tip. The outline then stays
  // where it was instead of shrinking toward the inside of each curve.
  struct Sum {
    double n[3] = {0, 0, 0}, c[4] = {0, 0, 0, 0}, t[2] = {0, 0};
    std::uint32_t members = 0, cell = 0;
  };
  struct Cell {
    double mean[3] = {0, 0, 0}, a[6] = {0, 0, 0, 0, 0, 0}, b[3] = {0, 0, 0};  // a: xx xy xz yy yz zz
    std::uint32_t members = 0;
  };
  const std::uint32_t clusters = *std::max_element(best.begin(), best.end()) + 1;
  std::vector<Sum> sums(clusters);
  std::vector<Cell> cellSums(*std::max_element(cellOf.begin(), cellOf.end()) + 1);
  const auto finite = [](const d3d::D3DVECTOR& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
  };
  for (std::size_t i = 0; i < m.vertices.size(); ++i) {
    const XVertex& v = m.vertices[i];
    Cell& cell = cellSums[cellOf[i]];
    if (finite(v.position)) {
      cell.mean[0] += v.position.x, cell.mean[1] += v.position.y, cell.mean[2] += v.position.z;
      ++cell.members;
    }
    Sum& s = sums[best[i]];
    s.cell = cellOf[i];
    s.n[0] += v.normal.x, s.n[1] += v.normal.y, s.n[2] += v.normal.z;
    for (int k = 0; k < 4; ++k) s.c[k] += (v.color >> (8 * k)) & 0xFF;
    s.t[0] += v.tu, s.t[1] += v.tv;
    ++s.members;
  }
  for (std::size_t t = 0; t < triangles; ++t) {
    const d3d::D3DVECTOR& p = m.vertices[m.indices[3 * t]].position;
    const d3d::D3DVECTOR& q = m.vertices[m.indices[3 * t + 1]].position;
    const d3d::D3DVECTOR& r = m.vertices[m.indices[3 * t + 2]].position;
    if (!finite(p) || !finite(q) || !finite(r)) continue;
    const double ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z, vx = r.x - p.x, vy = r.y - p.y, vz = r.z - p.z;
    double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
    const double twiceArea = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (!(twiceArea > 0) || !std::isfinite(twiceArea)) continue;
    nx /= twiceArea, ny /= twiceArea, nz /= twiceArea;
    const double d = -(nx * p.x + ny * p.y + nz * p.z), w = twiceArea / 2;
    for (int k = 0; k < 3; ++k) {
      Cell& cell = cellSums[cellOf[m.indices[3 * t + static_cast<std::size_t>(k)]]];
      cell.a[0] += w * nx * nx, cell.a[1] += w * nx * ny, cell.a[2] += w * nx * nz;
      cell.a[3] += w * ny * ny, cell.a[4] += w * ny * nz, cell.a[5] += w * nz * nz;
      cell.b[0] -= w * d * nx, cell.b[1] -= w * d * ny, cell.b[2] -= w * d * nz;
    }
  }
  const double reach = grid.cell;
  const auto place = [reach](const Cell& cell) {
    const double k = cell.members ? 1.0 / cell.members : 0.0;
    const double mx = cell.mean[0] * k, my = cell.mean[1] * k, mz = cell.mean[2] * k;
    // (A + eI) x = b + e mean, e small beside A's scale: directions the planes leave free take the
    // mean's value.
    const double e = 1e-3 * (cell.a[0] + cell.a[3] + cell.a[5]) + 1e-30;
    const double a = cell.a[0] + e, b = cell.a[1], c = cell.a[2], dd = cell.a[3] + e, f = cell.a[4],
                 g = cell.a[5] + e;
    const double rx = cell.b[0] + e * mx, ry = cell.b[1] + e * my, rz = cell.b[2] + e * mz;
    const double c00 = dd * g - f * f, c01 = c * f - b * g, c02 = b * f - c * dd;
    const double det = a * c00 + b * c01 + c * c02;
    d3d::D3DVECTOR at{static_cast<float>(mx), static_cast<float>(my), static_cast<float>(mz)};
    if (std::fabs(det) > 1e-300 && std::isfinite(det)) {
      const double c11 = a * g - c * c, c12 = b * c - a * f, c22 = a * dd - b * b;
      const double x = (c00 * rx + c01 * ry + c02 * rz) / det, y = (c01 * rx + c11 * ry + c12 * rz) / det,
                   z = (c02 * rx + c12 * ry + c22 * rz) / det;
      // Planes nearly parallel meet far off: such a cell keeps the mean.
      const double far = (x - mx) * (x - mx) + (y - my) * (y - my) + (z - mz) * (z - mz);
      if (std::isfinite(far) && far <= reach * reach)
        at = {static_cast<float>(x), static_cast<float>(y), static_cast<float>(z)};
    }
    return at;
  };
  // Only clusters some kept triangle uses become vertices.
  std::vector<std::uint32_t> newIndex(clusters, UINT32_MAX);
  std::vector<XVertex> vertices;
  std::vector<std::uint32_t> indices, attributes;
  // A triangle kept once per material, whichever way round its corners come.
  std::vector<std::uint64_t> seen;
  seen.reserve(triangles);
  std::vector<d3d::D3DVECTOR> cellPlace(cellSums.size());
  for (std::size_t i = 0; i < cellSums.size(); ++i) cellPlace[i] = place(cellSums[i]);
  const auto normal = [](const d3d::D3DVECTOR& p, const d3d::D3DVECTOR& q, const d3d::D3DVECTOR& r) {
    const double ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z, vx = r.x - p.x, vy = r.y - p.y, vz = r.z - p.z;
    return std::array<double, 3>{uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx};
  };
  // A triangle whose corners merged, or that the merging left without area, is left out. One the
  // merging turned over (its face pointing against the face it came from) is turned back: left as it
  // is, the side of the model it stands for would show a hole where it folds.
  std::vector<std::size_t> kept;
  std::vector<bool> turned;
  for (std::size_t t = 0; t < triangles; ++t) {
    const std::uint32_t i0 = m.indices[3 * t], i1 = m.indices[3 * t + 1], i2 = m.indices[3 * t + 2];
    if (best[i0] == best[i1] || best[i1] == best[i2] || best[i0] == best[i2]) continue;
    const auto was = normal(m.vertices[i0].position, m.vertices[i1].position, m.vertices[i2].position);
    const auto now = normal(cellPlace[cellOf[i0]], cellPlace[cellOf[i1]], cellPlace[cellOf[i2]]);
    const double along = was[0] * now[0] + was[1] * now[1] + was[2] * now[2];
    if (!(now[0] != 0 || now[1] != 0 || now[2] != 0)) continue;
    kept.push_back(t);
    turned.push_back(along < 0);
  }
  // Triangles over the same three clusters, in the same winding and material, are drawn once.
  const auto canonical = [&](std::size_t t) {
    std::uint32_t a = best[m.indices[3 * t]], b = best[m.indices[3 * t + 1]], c = best[m.indices[3 * t + 2]];
    while (a > b || a > c) {
      const std::uint32_t x = a;
      a = b, b = c, c = x;
    }
    return std::array<std::uint32_t, 4>{a, b, c, m.attributes[t]};
  };
  std::vector<std::array<std::uint32_t, 4>> keys;
  keys.reserve(kept.size());
  for (std::size_t i = 0; i < kept.size(); ++i) {
    keys.push_back(canonical(kept[i]));
    if (turned[i]) std::swap(keys.back()[1], keys.back()[2]);
  }
  std::vector<std::size_t> order(kept.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return keys[x] < keys[y]; });
  std::vector<bool> keep(kept.size(), false);
  for (std::size_t i = 0; i < order.size(); ++i)
    keep[order[i]] = i == 0 || keys[order[i]] != keys[order[i - 1]];
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (!keep[i]) continue;
    const std::size_t t = kept[i];
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t cl = best[m.indices[3 * t + static_cast<std::size_t>(k)]];
      if (newIndex[cl] == UINT32_MAX) {
        const Sum& s = sums[cl];
        const double w = 1.0 / s.members;
        XVertex v;
        v.position = cellPlace[s.cell];
        const double len = std::sqrt(s.n[0] * s.n[0] + s.n[1] * s.n[1] + s.n[2] * s.n[2]);
        if (len > 0)
          v.normal = {static_cast<float>(s.n[0] / len), static_cast<float>(s.n[1] / len),
                      static_cast<float>(s.n[2] / len)};
        v.color = 0;
        for (int c = 0; c < 4; ++c)
          v.color |= static_cast<std::uint32_t>(std::lround(s.c[c] * w)) << (8 * c);
        v.tu = static_cast<float>(s.t[0] * w);
        v.tv = static_cast<float>(s.t[1] * w);
        newIndex[cl] = static_cast<std::uint32_t>(vertices.size());
        vertices.push_back(v);
      }
      indices.push_back(newIndex[cl]);
    }
    if (turned[i]) std::swap(indices[indices.size() - 1], indices[indices.size() - 2]);
    attributes.push_back(m.attributes[t]);
  }
  m.vertices = std::move(vertices);
  m.indices = std::move(indices);
  m.attributes = std::move(attributes);
  return m.attributes.size();
}

std::unique_ptr<D3DXMesh> D3DXSimplifyMesh(const D3DXMesh& mesh, std::size_t maxTriangles) {
  if (mesh.GetNumFaces() <= maxTriangles) return nullptr;
  XModel model;
  const d3d::DWORD fvf = mesh.GetFVF();
  model.hasNormals = (fvf & d3d::D3DFVF_NORMAL) != 0;
  model.hasColors = (fvf & d3d::D3DFVF_DIFFUSE) != 0;
  model.hasTexCoords = (fvf & d3d::D3DFVF_TEX1) != 0;
  model.vertices.reserve(mesh.GetNumVertices());
  for (d3d::DWORD i = 0; i < mesh.GetNumVertices(); ++i) model.vertices.push_back(mesh.GetVertex(i));
  model.indices = mesh.Indices();
  model.attributes = mesh.Attributes();
  SimplifyModel(model, maxTriangles);
  return std::make_unique<D3DXMesh>(mesh.GetDevice(), model, mesh.GetOptions());
}

}  // namespace d3dx
