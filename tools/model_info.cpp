// model-info FILE: what the program makes of a model, for users who bring their own. It reads the
// model (X, glTF, GLB or OBJ) as the demo does, looks each texture up beside it as Windows would and decodes
// it, and says what would not draw as intended. Exit code 0 when everything would, 1 when anything would not,
// 2 for a wrong command line.
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/base/Error.h"
#include "platform/d3dx/Texture.h"
#include "platform/d3dx/XFile.h"
#include "platform/files/FileName.h"

namespace {

constexpr const char* kUsage =
    "usage: model-info FILE\n"
    "Reads a model (DirectX .x, glTF .glb or .gltf, Wavefront .obj) as Winter Greeting does and prints\n"
    "its form (for X: text, binary or compressed, float size), its vertex, triangle and material counts, its "
    "bounding box, and for each material\n"
    "its colour, its texture name, the file that name finds beside the model (names are matched as\n"
    "Windows matches them: any case, backslashes as folder separators) and whether that image\n"
    "decodes. Exit code 0 when the model would draw as intended, 1 when any part of it would not.\n";

std::string Number(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%g", static_cast<double>(v));
  return buf;
}

std::string Colour(const d3d::D3DCOLORVALUE& c) {
  return "(" + Number(c.r) + ", " + Number(c.g) + ", " + Number(c.b) + ", " + Number(c.a) + ")";
}

// Prints the texture's story; returns whether it would be drawn.
bool ReportTexture(const std::string& folder, const d3dx::XMaterial& m) {
  const std::string& name = m.textureFilename;
  std::string path = name;
  if (m.textureData.empty()) {
    const platform::FoundFile found = platform::FindFileIn(folder, name);
    if (!found.found()) {
      std::printf("    not found: %s\n", found.note.c_str());
      return false;
    }
    std::printf("    file %s%s\n", found.path.c_str(),
                found.note.empty() ? "" : (" (" + found.note + ")").c_str());
    path = found.path;
  } else {
    std::printf("    inside the model, %zu bytes\n", m.textureData.size());
  }
  try {
    const auto bytes = m.textureData.empty() ? d3dx::ReadFile("model-info", path) : m.textureData;
    const d3dx::DecodedImage image = d3dx::DecodeImage(bytes.data(), bytes.size(), path);
    std::printf("    %s image of %dx%d pixels, decodes", d3dx::ImageFormatName(image.format), image.width,
                image.height);
    if (image.level.width != image.width || image.level.height != image.height)
      std::printf(" (reduced to %dx%d)", image.level.width, image.level.height);
    std::printf("\n");
    return true;
  } catch (const std::exception& e) {
    std::printf("    does not decode: %s\n", e.what());
    return false;
  }
}

int Run(const std::string& path) {
  const platform::FoundFile file = platform::FindFile(path);
  if (!file.found()) {
    std::printf("%s: %s\nresult: the model cannot be loaded\n", path.c_str(), file.note.c_str());
    return 1;
  }
  d3dx::XModel model;
  try {
    const auto bytes = d3dx::ReadFile("model-info", file.path);
    model = d3dx::ParseModel(bytes.data(), bytes.size(), file.path);
  } catch (const std::exception& e) {
    std::printf("%s\nresult: the model cannot be loaded\n", e.what());
    return 1;
  }
  std::printf("%s\n", file.path.c_str());
  switch (model.format) {
    case d3dx::ModelFormat::X:
      std::printf("  form: X, %s%s, %d-bit floats\n", model.compressed ? "compressed " : "",
                  model.binary ? "binary" : "text", model.floatBits);
      break;
    case d3dx::ModelFormat::Glb:
      std::printf("  form: glTF 2.0, binary (GLB)\n");
      break;
    case d3dx::ModelFormat::Gltf:
      std::printf("  form: glTF 2.0, JSON\n");
      break;
    case d3dx::ModelFormat::Obj:
      std::printf("  form: Wavefront OBJ\n");
      break;
  }
  std::printf("  normals %s, vertex colours %s, texture coordinates %s\n", model.hasNormals ? "yes" : "no",
              model.hasColors ? "yes" : "no", model.hasTexCoords ? "yes" : "no");
  std::printf("  vertices %zu, triangles %zu, materials %zu\n", model.vertices.size(),
              model.attributes.size(), model.materials.size());
  if (!model.vertices.empty()) {
    d3d::D3DVECTOR lo = model.vertices[0].position, hi = lo;
    for (const auto& v : model.vertices) {
      lo = {std::min(lo.x, v.position.x), std::min(lo.y, v.position.y), std::min(lo.z, v.position.z)};
      hi = {std::max(hi.x, v.position.x), std::max(hi.y, v.position.y), std::max(hi.z, v.position.z)};
    }
    std::printf("  bounding box: (%s, %s, %s) to (%s, %s, %s)\n", Number(lo.x).c_str(), Number(lo.y).c_str(),
                Number(lo.z).c_str(), Number(hi.x).c_str(), Number(hi.y).c_str(), Number(hi.z).c_str());
  }
  std::vector<std::size_t> faces(model.materials.size(), 0);
  for (std::uint32_t a : model.attributes)
    if (a < faces.size()) ++faces[a];
  const std::string folder = std::filesystem::path(file.path).parent_path().string();
  int problems = 0, textures = 0;
  for (std::size_t i = 0; i < model.materials.size(); ++i) {
    const d3dx::XMaterial& m = model.materials[i];
    std::printf("  material %zu: %zu triangles, diffuse %s", i, faces[i], Colour(m.material.Diffuse).c_str());
    if (m.alphaMode == d3dx::AlphaMode::Mask)
      std::printf(", cut out below alpha %s", Number(m.alphaCutoff).c_str());
    if (m.alphaMode == d3dx::AlphaMode::Blend) std::printf(", blended");
    if (m.doubleSided && model.format != d3dx::ModelFormat::X) std::printf(", two-sided");
    if (m.textureFilename.empty()) {
      std::printf(", no texture\n");
      continue;
    }
    std::printf(", texture \"%s\"\n", m.textureFilename.c_str());
    ++textures;
    if (!ReportTexture(folder.empty() ? "." : folder, m)) ++problems;
  }
  if (model.attributes.empty()) {
    std::printf("result: the model has no triangles to draw\n");
    return 1;
  }
  if (problems > 0) {
    std::printf("result: %d of %d textures cannot be used; their triangles draw untextured\n", problems,
                textures);
    return 1;
  }
  std::printf("result: the model draws as intended\n");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    return Run(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "model-info: %s\n", e.what());
    return 1;
  }
}
