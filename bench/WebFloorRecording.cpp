#include "bench/WebFloorRecording.h"

#include <array>
#include <bit>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <utility>

#include "platform/d3d/d3dxmath.h"
#include "tests/support/Harness.h"

namespace bench {

namespace {

using d3d::DWORD;

constexpr DWORD kTreeFvf = d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_TEX1;
constexpr DWORD kGroundFvf = d3d::D3DFVF_XYZ | d3d::D3DFVF_TEX1;
constexpr DWORD kSnowFvf = d3d::D3DFVF_XYZ | d3d::D3DFVF_DIFFUSE;
constexpr DWORD kTextFvf = d3d::D3DFVF_XYZRHW | d3d::D3DFVF_DIFFUSE | d3d::D3DFVF_TEX1;
constexpr std::size_t kSnowAlphaAt = 15;  // x, y, z, then the colour's bytes B, G, R, A

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putFloat(std::vector<std::uint8_t>& out, float f) {
  put32(out, std::bit_cast<std::uint32_t>(f));
}
void putBytes(std::vector<std::uint8_t>& out, const void* p, std::size_t n) {
  const auto* b = static_cast<const std::uint8_t*>(p);
  out.insert(out.end(), b, b + n);
  out.resize((out.size() + 3) & ~std::size_t{3}, 0);
}

WebFloorKind kindOf(const d3d::RecordingBackend::Draw& r) {
  const d3d::DrawCall& c = r.call;
  if (c.fvf == kTreeFvf && c.type == d3d::D3DPT_TRIANGLELIST && !r.indexData.empty())
    return r.state.textures[0] ? WebFloorKind::TreeTextured : WebFloorKind::TreePlain;
  if (c.fvf == kGroundFvf && c.type == d3d::D3DPT_TRIANGLESTRIP && r.indexData.empty()) return WebFloorKind::Ground;
  if (c.fvf == kSnowFvf && c.type == d3d::D3DPT_POINTLIST && r.indexData.empty()) return WebFloorKind::Snow;
  if (c.fvf == kTextFvf && c.type == d3d::D3DPT_TRIANGLELIST && r.indexData.empty()) return WebFloorKind::Text;
  throw std::runtime_error("the web floor draws the greeting's frame only: no shader for vertex format " +
                           std::to_string(c.fvf) + ", primitive type " + std::to_string(c.type) +
                           (r.indexData.empty() ? "" : ", indexed"));
}

}  // namespace

std::int32_t WebFloorRecorder::textureOf(const std::shared_ptr<d3d::Texture>& t) {
  if (!t) return -1;
  if (auto it = textureIds_.find(t.get()); it != textureIds_.end()) return it->second.second;
  if (t->levels.empty())
    throw std::runtime_error("the texture " + t->source + " holds no texels to record");
  const auto id = static_cast<std::int32_t>(textureOrder_.size());
  textureIds_[t.get()] = {t, id};
  textureOrder_.push_back(t.get());
  return id;
}

std::int32_t WebFloorRecorder::geometryOf(WebFloorKind kind, const d3d::RecordingBackend::Draw& d) {
  std::vector<std::uint16_t> indices = d.indexData;
  // WebGL2 takes a flat colour from a triangle's last vertex, Direct3D from its first: each triangle
  // turns once, its winding kept, so that the first vertex comes last.
  if (kind == WebFloorKind::TreeTextured || kind == WebFloorKind::TreePlain)
    for (std::size_t i = 0; i + 2 < indices.size(); i += 3)
      indices[i] = std::exchange(indices[i + 1], std::exchange(indices[i + 2], indices[i]));
  std::string key(4, '\0');
  std::memcpy(key.data(), &kind, 4);
  key.append(reinterpret_cast<const char*>(d.vertexData.data()), d.vertexData.size());
  key.append(reinterpret_cast<const char*>(indices.data()), indices.size() * 2);
  if (auto it = geometryIds_.find(key); it != geometryIds_.end()) return it->second;
  const auto id = static_cast<std::int32_t>(geometryCount_++);
  geometryIds_.emplace(std::move(key), id);
  put32(geometryBytes_, static_cast<std::uint32_t>(kind));
  put32(geometryBytes_, static_cast<std::uint32_t>(d.vertexData.size()));
  put32(geometryBytes_, static_cast<std::uint32_t>(indices.size()));
  putBytes(geometryBytes_, d.vertexData.data(), d.vertexData.size());
  putBytes(geometryBytes_, indices.data(), indices.size() * 2);
  return id;
}

void WebFloorRecorder::addFrame(const std::vector<d3d::RecordingBackend::Draw>& draws, d3d::D3DCOLOR clearColor) {
  std::vector<std::uint8_t> frame;
  put32(frame, clearColor);
  put32(frame, static_cast<std::uint32_t>(draws.size()));
  for (const auto& r : draws) {
    const WebFloorKind kind = kindOf(r);
    const auto& rs = r.state.renderStates;
    const bool perFrame = kind == WebFloorKind::Snow || kind == WebFloorKind::Text;
    std::vector<std::uint8_t> vertices;
    if (kind == WebFloorKind::Snow) {
      // Only the points that draw: one whose colour has alpha 0 adds nothing under the snow's blend.
      for (std::size_t i = 0; i < r.call.vertexCount; ++i) {
        const std::uint8_t* p = r.vertexData.data() + i * r.call.stride;
        if (p[kSnowAlphaAt] != 0) {
          vertices.insert(vertices.end(), p, p + r.call.stride);
          ++pointsKept;
        } else {
          ++pointsDropped;
        }
      }
    } else if (kind == WebFloorKind::Text) {
      vertices = r.vertexData;
    }
    put32(frame, static_cast<std::uint32_t>(kind));
    put32(frame, static_cast<std::uint32_t>(textureOf(r.state.textures[0])));
    put32(frame, static_cast<std::uint32_t>(perFrame ? -1 : geometryOf(kind, r)));
    put32(frame, static_cast<std::uint32_t>(perFrame ? vertices.size() / r.call.stride : r.call.vertexCount));
    d3d::D3DMATRIX worldView;
    d3dx::D3DXMatrixMultiply(&worldView, &r.state.world, &r.state.view);
    for (const d3d::D3DMATRIX* m : std::array<const d3d::D3DMATRIX*, 2>{&worldView, &r.state.projection})
      for (int row = 0; row < 4; ++row)
        for (int col = 0; col < 4; ++col) putFloat(frame, m->m[row][col]);
    const d3d::D3DCOLOR fog = rs[d3d::D3DRS_FOGCOLOR];
    for (int shift : {16, 8, 0}) putFloat(frame, static_cast<float>((fog >> shift) & 0xFF) / 255.0f);
    for (auto s : {d3d::D3DRS_FOGSTART, d3d::D3DRS_FOGEND, d3d::D3DRS_POINTSIZE, d3d::D3DRS_POINTSIZE_MIN,
                   d3d::D3DRS_POINTSIZE_MAX, d3d::D3DRS_POINTSCALE_A, d3d::D3DRS_POINTSCALE_B,
                   d3d::D3DRS_POINTSCALE_C})
      put32(frame, rs[s]);
    putFloat(frame, static_cast<float>(r.state.viewportHeight));
    if (perFrame) putBytes(frame, vertices.data(), vertices.size());
  }
  frameBytes_.insert(frameBytes_.end(), frame.begin(), frame.end());
  ++frames_;
}

std::vector<std::uint8_t> WebFloorRecorder::bytes() const {
  std::vector<std::uint8_t> out{'W', 'G', 'F', '1'};
  put32(out, static_cast<std::uint32_t>(frames_));
  put32(out, static_cast<std::uint32_t>(textureOrder_.size()));
  put32(out, static_cast<std::uint32_t>(geometryCount_));
  for (const d3d::Texture* t : textureOrder_) {
    put32(out, static_cast<std::uint32_t>(t->levels.size()));
    for (const auto& l : t->levels) {
      put32(out, static_cast<std::uint32_t>(l.width));
      put32(out, static_cast<std::uint32_t>(l.height));
      putBytes(out, l.rgba.data(), l.rgba.size());
    }
  }
  out.insert(out.end(), geometryBytes_.begin(), geometryBytes_.end());
  out.insert(out.end(), frameBytes_.begin(), frameBytes_.end());
  return out;
}

WebFloorRecorder WriteWebFloorRecording(const std::string& appDir, int frames, const std::string& path) {
  wgtest::RecordingDemo demo(appDir);
  demo.direct3d.recordCalls = false;
  // Frame 1 is drawn by start-up's first pass, as the page's runtime draws it; each later frame is
  // one pass with the clock one fixed step on.
  demo.startup();
  WebFloorRecorder recorder;
  for (int i = 0; i < frames; ++i) {
    demo.backend().reset();
    demo.frames(1);
    recorder.addFrame(demo.backend().draws, demo.backend().lastClearColor);
  }
  const std::vector<std::uint8_t> bytes = recorder.bytes();
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write the web floor's recording " + path);
  return recorder;
}

}  // namespace bench
