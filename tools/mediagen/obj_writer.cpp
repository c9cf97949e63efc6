// Wavefront OBJ and MTL written by hand, as exporters write them: positions, uvs and normals each
// listed once per distinct value in the order first met (so a face's three indices differ), one
// group per material, and vt's v counted from the image's bottom.
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>

#include "tools/mediagen/example_model.h"

namespace mediagen {

namespace {

std::string Numbers(std::initializer_list<float> values) {
  std::string s;
  char buf[32];
  for (float v : values) {
    // No "-0.000000": a value that prints as zero is written as zero.
    std::snprintf(buf, sizeof buf, " %.6f", std::abs(v) < 5e-7f ? 0.0 : static_cast<double>(v));
    s += buf;
  }
  return s;
}

// One kind of vertex data: each distinct line once, numbered from 1 in the order first met.
struct Pool {
  std::map<std::string, std::size_t> number;
  std::string lines;
  std::size_t Add(const std::string& line) {
    const auto [it, added] = number.emplace(line, number.size() + 1);
    if (added) lines += line + "\n";
    return it->second;
  }
};

}  // namespace

ObjFiles MakeObj(const ExampleModel& model, const std::string& mtlFile, const std::string& textureFile) {
  Pool positions, uvs, normals;
  std::string faces;
  for (const ModelPart& part : model.parts) {
    const std::string& name = model.materials[part.material].name;
    faces += "g " + name + "\nusemtl " + name + "\n";
    for (std::size_t t = 0; t < part.indices.size(); t += 3) {
      faces += "f";
      for (std::size_t k = 0; k < 3; ++k) {
        const ModelVertex& v = part.vertices[part.indices[t + k]];
        const auto& p = v.position;
        const auto& n = v.normal;
        faces += " " + std::to_string(positions.Add("v" + Numbers({p[0], p[1], p[2]}))) + "/" +
                 std::to_string(uvs.Add("vt" + Numbers({v.uv[0], 1.0f - v.uv[1]}))) + "/" +
                 std::to_string(normals.Add("vn" + Numbers({n[0], n[1], n[2]})));
      }
      faces += "\n";
    }
  }
  ObjFiles files;
  files.obj =
      "# A fir tree made by Winter Greeting's mediagen: right-handed, +y up, metres.\n"
      "mtllib " +
      mtlFile + "\no FirTree\n" + positions.lines + uvs.lines + normals.lines + faces;

  files.mtl = "# The materials of the fir tree, made by Winter Greeting's mediagen.\n";
  for (const ModelMaterial& m : model.materials) {
    const auto& c = m.color;
    files.mtl += "\nnewmtl " + m.name + "\nKa" + Numbers({c[0], c[1], c[2]}) + "\nKd" +
                 Numbers({c[0], c[1], c[2]}) + "\nKs 0.000000 0.000000 0.000000\nNs 0\nd" + Numbers({c[3]}) +
                 "\nillum 1\n";
    if (m.textured) files.mtl += "map_Kd " + textureFile + "\n";
  }
  return files;
}

}  // namespace mediagen
