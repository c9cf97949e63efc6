// The benchmarks' 100 000-triangle model: a fir-like cone of `sides` x `rings` cells, two triangles
// each, as one indexed mesh with normals, texture coordinates and 32-bit indices, in a GLB file, as a
// sender's detailed tree would come from a modelling tool (250 x 200 cells: 100 000 triangles).
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <vector>

#include "tests/support/GltfWriter.h"

namespace wgtest {

inline std::vector<std::uint8_t> DenseConeGlb(int sides, int rings, double ragged = 0.1) {
  constexpr double kHeight = 2.0, kRadius = 0.8;
  wgtest::GltfDoc d;
  std::vector<float> pos, nor, uv;
  const double slope = std::atan2(kRadius, kHeight);
  for (int r = 0; r <= rings; ++r)
    for (int s = 0; s <= sides; ++s) {
      const double t = r / static_cast<double>(rings), a = 2 * std::numbers::pi * s / sides;
      // Each ring a little ragged, as needles are.
      const double radius = kRadius * t * (1 - ragged + ragged * std::sin(a * 17 + r));
      pos.insert(pos.end(), {static_cast<float>(radius * std::cos(a)), static_cast<float>(kHeight * (1 - t)),
                             static_cast<float>(radius * std::sin(a))});
      nor.insert(nor.end(), {static_cast<float>(std::cos(slope) * std::cos(a)), static_cast<float>(std::sin(slope)),
                             static_cast<float>(std::cos(slope) * std::sin(a))});
      uv.insert(uv.end(), {static_cast<float>(4.0 * s / sides), static_cast<float>(4.0 * t)});
    }
  std::vector<std::uint32_t> idx;
  for (int r = 0; r < rings; ++r)
    for (int s = 0; s < sides; ++s) {
      const auto a = static_cast<std::uint32_t>(r * (sides + 1) + s), b = a + 1,
                 e = a + static_cast<std::uint32_t>(sides + 1), f = e + 1;
      idx.insert(idx.end(), {a, e, b, b, e, f});
    }
  auto add = [&](const auto& values, int componentType, const char* type, std::size_t count,
                 const std::string& more) {
    const std::size_t at = d.bin.Add<std::uint8_t>({});
    const auto* p = reinterpret_cast<const std::uint8_t*>(values.data());
    const std::size_t size = values.size() * sizeof(values[0]);
    d.bin.bytes.insert(d.bin.bytes.end(), p, p + size);
    d.accessors.push_back(R"({"bufferView":)" + std::to_string(d.View(at, size)) + R"(,"componentType":)" +
                          std::to_string(componentType) + R"(,"count":)" + std::to_string(count) +
                          R"(,"type":")" + type + "\"" + more + "}");
  };
  const std::size_t vertices = pos.size() / 3;
  const std::string bounds = R"(,"min":[)" + std::to_string(-kRadius) + ",0," + std::to_string(-kRadius) +
                             R"(],"max":[)" + std::to_string(kRadius) + "," + std::to_string(kHeight) + "," +
                             std::to_string(kRadius) + "]";
  add(pos, 5126, "VEC3", vertices, bounds);
  add(nor, 5126, "VEC3", vertices, "");
  add(uv, 5126, "VEC2", vertices, "");
  add(idx, 5125, "SCALAR", idx.size(), "");
  d.materials = {R"({"pbrMetallicRoughness":{"baseColorFactor":[0.15,0.45,0.2,1]}})"};
  d.meshes = {
      R"({"primitives":[{"attributes":{"POSITION":0,"NORMAL":1,"TEXCOORD_0":2},"indices":3,"material":0}]})"};
  d.nodes = {R"({"mesh":0})"};
  return d.GlbFile();
}

}  // namespace wgtest
