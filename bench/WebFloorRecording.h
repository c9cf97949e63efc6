// The input of the web floor page (bench/web-floor): the greeting's frames as the recording backend
// keeps them, written to one file the page loads whole. Every draw is one of the kinds the page has
// a shader for; the ground's and the tree's geometry is written once and named by number, the snow's
// visible points and the text's vertices are written with each frame, as the page sends them.
//
// The file, little-endian, every section starting on 4 bytes so that the page views it in place:
//   "WGF1", u32 frames, u32 textures, u32 geometries
//   textures:   u32 levels, then per level u32 width, u32 height, width x height RGBA8 (top row first)
//   geometries: u32 kind, u32 vertex bytes, u32 indices, the vertices, the u16 indices (padded to 4)
//   frames:     u32 clear colour (D3DCOLOR), u32 draws, then per draw
//                 u32 kind, i32 texture (-1: none), i32 geometry (-1: vertices follow), u32 vertices,
//                 f32 x 44 (world x view and projection as the device stores them, fog colour, start
//                 and end, point size, minimum, maximum, scale A, B, C, viewport height),
//                 and for a draw without geometry its vertices (padded to 4)
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/RecordingBackend.h"

namespace bench {

// The kinds of draw the greeting's frame is made of, in the page's numbering.
enum class WebFloorKind : std::uint32_t { TreeTextured, TreePlain, Ground, Snow, Text };
constexpr std::size_t kWebFloorFloats = 44;

class WebFloorRecorder {
 public:
  // One frame's draws and its clear colour. Throws std::runtime_error for a draw the page has no
  // shader for, naming its vertex format and primitive type.
  void addFrame(const std::vector<d3d::RecordingBackend::Draw>& draws, d3d::D3DCOLOR clearColor);
  // The whole file.
  std::vector<std::uint8_t> bytes() const;

  std::size_t frames() const { return frames_; }
  std::size_t geometries() const { return geometryCount_; }
  std::size_t textures() const { return textureOrder_.size(); }
  // Snow points written, and those left out because they draw nothing (alpha 0).
  std::size_t pointsKept = 0, pointsDropped = 0;

 private:
  std::int32_t textureOf(const std::shared_ptr<d3d::Texture>& t);
  std::int32_t geometryOf(WebFloorKind kind, const d3d::RecordingBackend::Draw& d);

  std::size_t frames_ = 0;
  std::vector<std::uint8_t> frameBytes_, geometryBytes_;
  std::size_t geometryCount_ = 0;
  // Held, so that no texture made later takes a recorded one's address.
  std::map<const d3d::Texture*, std::pair<std::shared_ptr<d3d::Texture>, std::int32_t>> textureIds_;
  std::vector<const d3d::Texture*> textureOrder_;
  std::map<std::string, std::int32_t> geometryIds_;  // by kind, vertex and index bytes
};

// Runs the default greeting from the application folder `appDir` on the recording backend for
// `frames` frames at the page's fixed step and writes them to `path`; returns the recorder for its
// counts.
WebFloorRecorder WriteWebFloorRecording(const std::string& appDir, int frames, const std::string& path);

}  // namespace bench
