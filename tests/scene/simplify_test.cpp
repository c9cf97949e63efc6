// A model over the triangle budget is simplified by clustering its vertices: within the budget, its
// outline, seams, sides and materials kept; a model within it is left exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <set>
#include <tuple>

#include "platform/d3dx/Simplify.h"

namespace {

using d3dx::XModel;
using d3dx::XVertex;

// A flat n x n grid of quads in the xz plane, two triangles each, 1 unit across. Its texture runs 0..1
// over each half: the vertices on the middle line are there twice, once with u = 1 for the left half
// and once with u = 0 for the right, as a seam is stored. Triangles left of the middle use material 0,
// those right of it material 1.
XModel SeamedGrid(int n) {
  XModel m;
  m.hasNormals = m.hasTexCoords = true;
  const auto vertex = [&](int i, int j, bool rightHalf) {
    XVertex v;
    const float x = static_cast<float>(i) / n, z = static_cast<float>(j) / n;
    v.position = {x, 0, z};
    v.normal = {0, 1, 0};
    v.tu = rightHalf ? 2 * x - 1 : 2 * x;
    v.tv = z;
    m.vertices.push_back(v);
    return static_cast<std::uint32_t>(m.vertices.size() - 1);
  };
  std::vector<std::uint32_t> left((n + 1) * (n + 1)), right((n + 1) * (n + 1));
  for (int j = 0; j <= n; ++j)
    for (int i = 0; i <= n; ++i) {
      if (2 * i <= n) left[j * (n + 1) + i] = vertex(i, j, false);
      if (2 * i >= n) right[j * (n + 1) + i] = vertex(i, j, true);
    }
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) {
      const bool r = 2 * i >= n;
      const auto& at = r ? right : left;
      const std::uint32_t a = at[j * (n + 1) + i], b = at[j * (n + 1) + i + 1], c = at[(j + 1) * (n + 1) + i],
                          d = at[(j + 1) * (n + 1) + i + 1];
      m.indices.insert(m.indices.end(), {a, c, b, b, c, d});
      m.attributes.insert(m.attributes.end(), {r ? 1u : 0u, r ? 1u : 0u});
    }
  return m;
}

TEST(SimplifyModel, AModelWithinTheBudgetIsLeftExactlyAsItWas) {
  XModel m = SeamedGrid(20);  // 800 triangles
  const XModel before = m;
  EXPECT_EQ(d3dx::SimplifyModel(m, 800), 800u);
  EXPECT_EQ(m.indices, before.indices);
  EXPECT_EQ(m.attributes, before.attributes);
  ASSERT_EQ(m.vertices.size(), before.vertices.size());
  EXPECT_EQ(m.vertices.back().tu, before.vertices.back().tu);
}

TEST(SimplifyModel, ADenseGridComesWithinTheBudgetKeepingItsOutlineSeamAndMaterials) {
  XModel m = SeamedGrid(200);  // 80 000 triangles
  const std::size_t left = d3dx::SimplifyModel(m, 5000);
  EXPECT_EQ(left, m.attributes.size());
  EXPECT_LE(left, 5000u);
  EXPECT_GT(left, 3000u) << "the finest grid within the budget";
  ASSERT_EQ(m.indices.size(), 3 * left);

  float lo = 1, hi = 0;
  std::set<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t>> seen;
  int acrossSeam = 0, wrongMaterial = 0, turned = 0, twice = 0, tilted = 0;
  for (std::size_t t = 0; t < left; ++t) {
    const XVertex& a = m.vertices.at(m.indices[3 * t]);
    const XVertex& b = m.vertices.at(m.indices[3 * t + 1]);
    const XVertex& c = m.vertices.at(m.indices[3 * t + 2]);
    for (const XVertex* v : {&a, &b, &c}) {
      lo = std::min(lo, v->position.x);
      hi = std::max(hi, v->position.x);
      tilted += v->normal.y != 1.0f || v->position.y != 0.0f;
    }
    // No triangle reaches across the seam: its texture coordinates stay within one half's run.
    const float u0 = std::min({a.tu, b.tu, c.tu}), u1 = std::max({a.tu, b.tu, c.tu});
    acrossSeam += u1 - u0 >= 0.5f;
    // Each triangle keeps its side's material (within a cell of the middle), faces up as before,
    // and is there once.
    const float middle = (a.position.x + b.position.x + c.position.x) / 3;
    wrongMaterial += m.attributes[t] == 0 ? middle > 0.52f : middle < 0.48f;
    const float cross = (b.position.z - a.position.z) * (c.position.x - a.position.x) -
                        (b.position.x - a.position.x) * (c.position.z - a.position.z);
    turned += !(cross > 0);
    std::uint32_t i = m.indices[3 * t], j = m.indices[3 * t + 1], k = m.indices[3 * t + 2];
    while (i > j || i > k) std::tie(i, j, k) = std::make_tuple(j, k, i);
    twice += !seen.insert({i, j, k, m.attributes[t]}).second;
  }
  EXPECT_EQ(acrossSeam, 0);
  EXPECT_EQ(wrongMaterial, 0);
  EXPECT_EQ(turned, 0);
  EXPECT_EQ(twice, 0);
  EXPECT_EQ(tilted, 0) << "the flat grid stays flat, facing up";
  // The outline moves in by less than a cell of the grid (about 1/50 here).
  EXPECT_LT(lo, 0.02f);
  EXPECT_GT(hi, 0.98f);
}

TEST(SimplifyModel, BrokenCoordinatesAndAFlatModelDoNotStopIt) {
  XModel m = SeamedGrid(100);  // 20 000 triangles
  m.vertices[5].position.x = std::numeric_limits<float>::quiet_NaN();
  m.vertices[6].position.y = std::numeric_limits<float>::infinity();
  m.vertices[7].tu = std::numeric_limits<float>::quiet_NaN();
  EXPECT_LE(d3dx::SimplifyModel(m, 1000), 1000u);
  for (std::uint32_t i : m.indices) EXPECT_LT(i, m.vertices.size());

  // Every vertex in one place: nothing to cluster by, left as it is.
  XModel point = SeamedGrid(30);
  for (XVertex& v : point.vertices) v.position = {1, 2, 3};
  EXPECT_EQ(d3dx::SimplifyModel(point, 10), 1800u);
}

}  // namespace
