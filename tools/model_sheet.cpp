// model-sheet FOLDER OUT.png: a contact sheet of every model (X, glTF, GLB, OBJ) under FOLDER, each
// drawn by the program's own OpenGL renderer (headless) with its textures found beside it, in a tile
// of its own, seen from the front, right and above and fitted to its bounding box. Each is drawn as
// the greeting draws a tree someone chose: in its materials' colours, lit where it has normals; a
// fog over the model's depth shades the far side.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"
#include "platform/d3d/d3dxmath.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/Mesh.h"
#include "platform/d3dx/Texture.h"
#include "platform/gl/GlDirect3D8.h"
#include "platform/files/FileName.h"
#include "scene/Mesh.h"

namespace {

namespace fs = std::filesystem;
using namespace d3d;

constexpr int kFrameW = 1024, kFrameH = 768, kShrink = 4;
constexpr int kTileW = kFrameW / kShrink, kTileH = kFrameH / kShrink;
constexpr D3DCOLOR kBackground = 0xFF283040;

constexpr const char* kUsage =
    "usage: model-sheet FOLDER OUT.png [--columns N]\n"
    "Draws every model (.x, .glb, .gltf, .obj) under FOLDER (sorted by path) with the program's OpenGL renderer, headless,\n"
    "one 256 x 192 tile each (N to a row, 9 by default), fitted to the model's bounding box and\n"
    "labelled with its folder and name, and writes the sheet as a PNG.\n";

DWORD Bits(float f) {
  DWORD d;
  std::memcpy(&d, &f, 4);
  return d;
}

// Draws one model into the back buffer and returns the frame, RGBA, top row first.
std::vector<std::uint8_t> DrawModel(Device& dev, d3dx::Font& font, const fs::path& file,
                                    const std::string& label) {
  dev.Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, kBackground, 1.0f, 0);
  dev.BeginScene();
  std::string note;
  try {
    scene::Mesh model;
    model.Load(&dev, file.string());
    model.SetViewerLook(true);
    const d3dx::D3DXMesh* mesh = model.GetMesh();
    if (!mesh) throw std::runtime_error(model.LoadErrors().empty() ? "no model" : model.LoadErrors().front());
    D3DVECTOR lo{1e30f, 1e30f, 1e30f}, hi{-1e30f, -1e30f, -1e30f};
    for (DWORD v = 0; v < mesh->GetNumVertices(); ++v) {
      const D3DVECTOR p = mesh->GetVertex(v).position;
      lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
      hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    const D3DVECTOR centre{(lo.x + hi.x) / 2, (lo.y + hi.y) / 2, (lo.z + hi.z) / 2};
    const float dx = hi.x - lo.x, dy = hi.y - lo.y, dz = hi.z - lo.z;
    const float radius = std::max(0.5f * std::sqrt(dx * dx + dy * dy + dz * dz), 1e-3f);
    // The bounding sphere fills the 40-degree vertical field of view.
    const float fov = 0.6981317f, distance = radius / std::sin(fov / 2) * 1.02f;
    const float ex = 0.55f, ey = 0.45f, ez = -0.70f;  // towards the eye: front, right and above
    const float n = std::sqrt(ex * ex + ey * ey + ez * ez);
    const D3DVECTOR eye{centre.x + ex / n * distance, centre.y + ey / n * distance,
                        centre.z + ez / n * distance};
    const D3DVECTOR up{0, 1, 0};
    D3DMATRIX m;
    d3dx::D3DXMatrixLookAtLH(&m, &eye, &centre, &up);
    dev.SetTransform(D3DTS_VIEW, m);
    d3dx::D3DXMatrixPerspectiveFovLH(&m, fov, static_cast<float>(kFrameW) / kFrameH,
                                     std::max(distance - radius * 1.5f, distance * 0.01f),
                                     distance + radius * 1.5f);
    dev.SetTransform(D3DTS_PROJECTION, m);
    d3dx::D3DXMatrixIdentity(&m);
    dev.SetTransform(D3DTS_WORLD, m);
    dev.SetRenderState(D3DRS_FOGENABLE, 1);
    dev.SetRenderState(D3DRS_FOGSTART, Bits(distance - radius));
    dev.SetRenderState(D3DRS_FOGEND, Bits(distance + radius * 2.5f));
    model.RenderOn(dev);
    dev.SetRenderState(D3DRS_FOGENABLE, 0);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%u triangles", mesh->GetNumFaces());
    note = buf;
  } catch (const std::exception& e) {
    note = e.what();
  }
  font.DrawText(label + "\n" + note, D3DRECT{8, 4, kFrameW - 8, kFrameH}, d3dx::DT_TOP | d3dx::DT_LEFT,
                0xFFFFFFFF);
  dev.EndScene();
  dev.Present(nullptr, nullptr, nullptr, nullptr);
  DWORD w = 0, h = 0;
  return dev.GetBackend().readBack(w, h);
}

int Run(const std::string& folder, const std::string& out, int columns) {
  std::vector<fs::path> models;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    std::string ext = e.path().extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (e.is_regular_file() && (ext == ".x" || ext == ".glb" || ext == ".gltf" || ext == ".obj"))
      models.push_back(e.path());
  }
  std::sort(models.begin(), models.end());
  if (models.empty()) {
    std::fprintf(stderr, "model-sheet: no models (.x, .glb, .gltf, .obj) under %s\n", folder.c_str());
    return 1;
  }
  gl::GlDirect3D8 d3d(true);
  auto dev = d3d.CreateDevice(
      D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, nullptr, D3DCREATE_SOFTWARE_VERTEXPROCESSING,
      D3DPRESENT_PARAMETERS{static_cast<DWORD>(kFrameW), static_cast<DWORD>(kFrameH), D3DFMT_X8R8G8B8, 1, 0,
                            D3DSWAPEFFECT_FLIP, 0, 0, 1, D3DFMT_D16, 0, 0, 0});
  dev->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
  dev->SetRenderState(D3DRS_LIGHTING, 0);
  dev->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
  dev->SetRenderState(D3DRS_ALPHABLENDENABLE, 0);
  dev->SetRenderState(D3DRS_FOGTABLEMODE, D3DFOG_LINEAR);
  dev->SetRenderState(D3DRS_FOGCOLOR, kBackground);
  dev->SetTextureStageState(0, D3DTSS_MAGFILTER, D3DTEXF_LINEAR);
  dev->SetTextureStageState(0, D3DTSS_MINFILTER, D3DTEXF_LINEAR);
  dev->SetTextureStageState(0, D3DTSS_MIPFILTER, D3DTEXF_LINEAR);
  d3dx::StdFont face;
  face.Name = "Arial";
  face.Size = 27;
  face.Bold = true;
  auto font = d3dx::D3DXCreateFont(*dev, face.hFont());

  const int rows = (static_cast<int>(models.size()) + columns - 1) / columns;
  const int sheetW = columns * kTileW, sheetH = rows * kTileH;
  std::vector<std::uint8_t> sheet(static_cast<std::size_t>(sheetW) * sheetH * 4, 0);
  for (std::size_t i = 0; i < models.size(); ++i) {
    const fs::path rel = fs::relative(models[i], folder);
    const std::string label = (rel.parent_path().filename() / rel.filename()).string();
    std::printf("[%zu/%zu] %s\n", i + 1, models.size(), rel.string().c_str());
    std::fflush(stdout);
    const auto frame = DrawModel(*dev, *font, models[i], label);
    // Each tile is the frame shrunk by averaging 4 x 4 blocks.
    const int tx = static_cast<int>(i) % columns * kTileW, ty = static_cast<int>(i) / columns * kTileH;
    for (int y = 0; y < kTileH; ++y)
      for (int x = 0; x < kTileW; ++x)
        for (int c = 0; c < 4; ++c) {
          unsigned sum = 0;
          for (int yy = 0; yy < kShrink; ++yy)
            for (int xx = 0; xx < kShrink; ++xx)
              sum +=
                  frame[((static_cast<std::size_t>(y) * kShrink + yy) * kFrameW + x * kShrink + xx) * 4 + c];
          sheet[((static_cast<std::size_t>(ty) + y) * sheetW + tx + x) * 4 + c] =
              c == 3 ? 255 : static_cast<std::uint8_t>((sum + kShrink * kShrink / 2) / (kShrink * kShrink));
        }
  }
  d3dx::WritePng(out, sheet, sheetW, sheetH);
  std::printf("wrote %s: %zu models, %d x %d\n", out.c_str(), models.size(), sheetW, sheetH);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  int columns = 9;
  if (args.size() == 4 && args[2] == "--columns") {
    columns = std::atoi(args[3].c_str());
    args.resize(2);
  }
  if (args.size() != 2 || columns < 1 || columns > 64) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    return Run(args[0], args[1], columns);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "model-sheet: %s\n", e.what());
    return 1;
  }
}
