// The scene in any frame shape. The picture's own shape is 1024 x 768; a video for a phone held
// upright is 1080 x 1920, a square one 1080 x 1080, a wide one 1920 x 1080. One rule frames them all:
//
// - The camera, the tree and the snow are those of the picture. The vertical field of view stays
//   1.57 radians, and the horizontal one follows from the frame's shape with the picture's own
//   stretch (its projection is made for an aspect of 3/4 on a 4:3 screen, so the scene is drawn 16/9
//   wider than tall): a wider frame sees more to each side, a narrower one less, the tree taking a
//   larger share of its width. Below a shape of about 1:3 the horizontal field stops narrowing, so
//   that the tree stays whole: it never takes more than about half the width. Sky and ground fill
//   every frame; there are no bars.
// - The text lines are drawn in a face scaled with the frame's height: the capitals are at least
//   2.5 % of it. Each line keeps its place: its centre at the same share of the width, its top at the
//   same share of the height, moved in where it would run past the frame's edge and wrapped where it
//   is wider than the frame. The picture's own 1024 x 768 keeps its text exactly as it always was.
#pragma once

namespace render {

constexpr int kPictureWidth = 1024, kPictureHeight = 768;
// The sides a frame may have: even numbers of pixels in this range (video encoders take even sides).
constexpr int kMinFrameSide = 320, kMaxFrameSide = 4096;
// The em height, in pixels, of the picture's text face (Arial, 18 points, at 96 DPI).
constexpr int kPictureTextPixels = 24;

struct Framing {
  int width = kPictureWidth, height = kPictureHeight;
  // For the left-handed perspective projection: the vertical field of view in radians and the
  // aspect ratio (1.57 and 3/4 for the picture).
  float fieldOfView = 1.57f;
  float aspect = 0.75f;
  // The text face's em height in pixels, and how far the text keeps from the frame's edges.
  int textPixels = kPictureTextPixels;
  int margin = 0;

  bool IsPicture() const { return width == kPictureWidth && height == kPictureHeight; }
  // The text face's size in points at 96 DPI.
  float TextPoints() const { return static_cast<float>(textPixels) * 0.75f; }
};

// The framing of a width x height frame (both in kMinFrameSide..kMaxFrameSide; the picture's own
// 1024 x 768 is also any size's fallback for the caller to check).
Framing FrameFor(int width, int height);

// Where a text line of `lineWidth` x `lineHeight` pixels (measured in the frame's face) is drawn:
// its usual place (`usualX`, `usualY`) is given in pixels of the 1024 x 768 picture. `x` is moved in
// to keep `margin` from the right edge (and then from the left); `fits` is false when the line is
// wider than the frame allows or would end below it.
struct LinePlace {
  float x = 0, y = 0;
  bool fits = true;
};
LinePlace PlaceLine(const Framing& f, float usualX, float usualY, int lineWidth, int lineHeight);
// The widest a text line may be in this frame.
inline int MaxLineWidth(const Framing& f) {
  return f.width - 2 * f.margin;
}

}  // namespace render
