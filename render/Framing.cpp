#include "render/Framing.h"

#include <algorithm>
#include <cmath>

namespace render {

namespace {

// The picture draws the scene 16/9 wider than tall: its projection's aspect of 3/4 on a 4:3 screen.
constexpr double kStretch = 16.0 / 9.0;
// The narrowest horizontal field, as the projection's aspect: the tree then takes about half the
// frame's width, at the widest point of its turn.
constexpr double kMinAspect = 0.2;
// The em height for a frame's height: the capitals of the picture's face are about 0.69 em, so
// this puts them at 2.5 % of the height and a little over.
constexpr double kTextPixelsPerHeight = 0.037;
// How far text keeps from the frame's edges, as a share of its width.
constexpr double kMarginPerWidth = 0.02;

}  // namespace

Framing FrameFor(int width, int height) {
  Framing f;
  f.width = width;
  f.height = height;
  if (f.IsPicture()) return f;
  // The projection's aspect for the picture's stretch at this shape: 3/4 exactly for any 4:3 frame.
  const double aspect = static_cast<double>(width) / (kStretch * static_cast<double>(height));
  f.aspect = static_cast<float>(std::max(aspect, kMinAspect));
  f.textPixels = static_cast<int>(std::ceil(kTextPixelsPerHeight * height));
  f.margin = static_cast<int>(std::lround(kMarginPerWidth * width));
  return f;
}

LinePlace PlaceLine(const Framing& f, float usualX, float usualY, int lineWidth, int lineHeight) {
  LinePlace p;
  const double scale = static_cast<double>(f.textPixels) / kPictureTextPixels;
  // The line's centre at the share of the width it has in the picture, its top at the same share of
  // the height. In the picture itself that is the usual place.
  const double centre = (usualX + lineWidth / (2.0 * scale)) * f.width / kPictureWidth;
  double x = centre - lineWidth / 2.0;
  x = std::min(x, static_cast<double>(f.width - f.margin - lineWidth));
  x = std::max(x, static_cast<double>(f.margin));
  p.x = static_cast<float>(x);
  p.y = static_cast<float>(static_cast<double>(usualY) * f.height / kPictureHeight);
  p.fits = lineWidth <= MaxLineWidth(f) && p.y + static_cast<float>(lineHeight) <= static_cast<float>(f.height - f.margin);
  return p;
}

}  // namespace render
