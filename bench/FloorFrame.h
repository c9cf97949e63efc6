// The floor a frame of the demo is measured against: a minimal OpenGL program, written by hand, that
// draws one recorded frame's primitives with the same states, each kind of draw through a shader
// written for exactly that draw. No device layer, no state translation, no shader branches: what is
// left is what the rasteriser must do for the picture.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tests/support/RecordingBackend.h"

namespace bench {

class FloorFrame {
 public:
  // `draws`: one frame as the recording backend kept it; `clearColor`: that frame's clear.
  FloorFrame(const std::vector<d3d::RecordingBackend::Draw>& draws, d3d::D3DCOLOR clearColor);
  ~FloorFrame();
  FloorFrame(const FloorFrame&) = delete;
  FloorFrame& operator=(const FloorFrame&) = delete;

  // Draws the frame and waits until the rasteriser is done with it.
  void draw();
  // The frame as RGBA8, top row first, as the device's read-back gives it.
  std::vector<std::uint8_t> readBack();

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// Pixels of two RGB(A)8 pictures of the same size that differ, and by how many levels at most.
struct PixelDifference {
  std::size_t differing = 0;
  int maxLevels = 0;
};
PixelDifference Compare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

}  // namespace bench
