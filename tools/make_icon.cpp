// make-icon SCENE.png X Y SIDE OUT_DIR: the application's icon, cut from a frame of the scene: the
// square of SIDE pixels at (X, Y), then each half of it down to 16 pixels, written as
// OUT_DIR/SIZE.png (SIDE.png, SIDE/2.png, ...). The desktop shows whichever size it needs.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "platform/d3dx/Texture.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: make-icon SCENE.png X Y SIDE OUT_DIR\n");
    return 2;
  }
  try {
    const std::string scene = argv[1];
    const int x0 = std::atoi(argv[2]), y0 = std::atoi(argv[3]), side = std::atoi(argv[4]);
    const auto bytes = d3dx::ReadFile("make-icon", scene);
    const d3d::Texture::Level frame = d3dx::DecodeImageWithMips(bytes.data(), bytes.size(), scene).front();
    if (side < 16 || x0 < 0 || y0 < 0 || x0 + side > frame.width || y0 + side > frame.height)
      throw std::invalid_argument("the square does not lie inside the " + std::to_string(frame.width) +
                                  " x " + std::to_string(frame.height) + " frame");
    d3d::Texture::Level icon;
    icon.width = icon.height = side;
    icon.rgba.resize(static_cast<std::size_t>(side) * side * 4);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side * 4; ++x)
        icon.rgba[static_cast<std::size_t>(y) * side * 4 + x] =
            frame.rgba[(static_cast<std::size_t>(y0 + y) * frame.width + x0) * 4 + x];
    for (;;) {
      d3dx::WritePng(std::string(argv[5]) + "/" + std::to_string(icon.width) + ".png", icon.rgba, icon.width,
                     icon.height);
      if (icon.width / 2 < 16) break;
      icon = d3dx::Downsample(icon);
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-icon: %s\n", e.what());
    return 1;
  }
  return 0;
}
