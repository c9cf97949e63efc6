// The terrain example's media: a 256 x 256 height map as an uncompressed 8-bit greyscale TGA, a
// detail texture for the ground's second texture stage, and a winter sky as a standard cube-map set
// (sky_posx.jpg ... sky_negz.jpg), each image the right way round as cube-map tools write them.
// Every sky texel is coloured from its direction out of the cube's centre, so the faces meet
// without seams.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "tools/mediagen/mediagen.h"
#include "tools/mediagen/noise.h"

namespace mediagen {

namespace {

constexpr int kMapSize = 256;
constexpr int kFaceSize = 512;
constexpr int kDetailSize = 256;

void WriteHeightMap(const std::string& path) {
  std::vector<std::uint8_t> samples(static_cast<std::size_t>(kMapSize) * kMapSize);
  for (int z = 0; z < kMapSize; ++z) {
    for (int x = 0; x < kMapSize; ++x) {
      const double u = static_cast<double>(x) / kMapSize, v = static_cast<double>(z) / kMapSize;
      // Broad hills, with ridges where the fractal sum folds over its middle value.
      const double hills = TileFbm(u * 3, v * 3, 3, 5, 0.5, 71);
      const double ridge = 1.0 - std::abs(TileFbm(u * 6, v * 6, 6, 4, 0.5, 73) * 2.0 - 1.0);
      double h = 0.70 * hills + 0.30 * ridge * ridge;
      h = std::clamp((h - 0.25) / 0.6, 0.0, 1.0);
      h = h * h * (3.0 - 2.0 * h);
      samples[static_cast<std::size_t>(z) * kMapSize + x] = static_cast<std::uint8_t>(std::lround(h * 255.0));
    }
  }
  std::array<std::uint8_t, 18> header{};
  header[2] = 3;  // uncompressed greyscale
  header[12] = kMapSize & 0xFF;
  header[13] = kMapSize >> 8;
  header[14] = kMapSize & 0xFF;
  header[15] = kMapSize >> 8;
  header[16] = 8;  // bits per pixel
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  const bool ok = std::fwrite(header.data(), 1, header.size(), f) == header.size() &&
                  std::fwrite(samples.data(), 1, samples.size(), f) == samples.size();
  if (std::fclose(f) != 0 || !ok) throw std::runtime_error("cannot write " + path);
}

struct Dir {
  double x, y, z;
};

// The sky seen along a unit direction: a pale horizon deepening to blue overhead, a low sun behind
// thin cloud, and below and just above the horizon an even haze. The haze is the terrain example's
// fog colour (192, 200, 218), so that ground fogged out far away meets the sky without an outline.
void SkyColour(const Dir& d, double rgb[3]) {
  const double e = d.y;
  const double horizon[3] = {0.80, 0.84, 0.90}, zenith[3] = {0.32, 0.46, 0.72},
               haze[3] = {192 / 255.0, 200 / 255.0, 218 / 255.0};
  const double t = std::pow(std::clamp(e, 0.0, 1.0), 0.6);
  const double clear = std::clamp(e / 0.12, 0.0, 1.0);
  const double lift = clear * clear * (3 - 2 * clear);
  for (int c = 0; c < 3; ++c) rgb[c] = haze[c] + (horizon[c] + (zenith[c] - horizon[c]) * t - haze[c]) * lift;
  if (e > 0.02) {
    // Clouds on a flat layer overhead, fading towards the horizon where the layer is seen edge-on.
    const double k = 1.0 / e;
    const double cu = d.x * k * 0.25 + 8.0, cv = d.z * k * 0.25 + 8.0;
    const double n = TileFbm(cu, cv, 16, 5, 0.55, 91);
    const double cover = std::clamp((n - 0.48) * 3.0, 0.0, 1.0) * std::clamp((e - 0.02) * 4.0, 0.0, 1.0);
    for (int c = 0; c < 3; ++c) rgb[c] += (0.95 - rgb[c]) * cover * 0.8;
  }
  // The sun sits opposite the terrain's light direction (1, -1, 0.5).
  const double sl = std::sqrt(1.0 + 1.0 + 0.25);
  const double sun = std::max(0.0, (-d.x * 1.0 + d.y * 1.0 - d.z * 0.5) / sl);
  const double glow = std::pow(sun, 64.0) * 0.6 + std::pow(sun, 8.0) * 0.15;
  rgb[0] += glow;
  rgb[1] += glow * 0.92;
  rgb[2] += glow * 0.75;
}

// The cube-map faces in their standard order, and their file names.
constexpr const char* kFaceNames[6] = {"posx", "negx", "posy", "negy", "posz", "negz"};

// The direction through the point (s, t) of cube-map face k, s and t in 0..1 from the image's
// top-left corner, by the cube-map table that Direct3D and OpenGL share.
Dir FacePoint(int k, double s, double t) {
  const double sc = 2 * s - 1, tc = 2 * t - 1;
  switch (k) {
    case 0:
      return {1, -tc, -sc};
    case 1:
      return {-1, -tc, sc};
    case 2:
      return {sc, 1, tc};
    case 3:
      return {sc, -1, -tc};
    case 4:
      return {sc, -tc, 1};
    default:
      return {-sc, -tc, -1};
  }
}

void WriteSkyFace(const std::string& path, int k) {
  Image img(kFaceSize, kFaceSize, 3);
  for (int py = 0; py < kFaceSize; ++py) {
    for (int px = 0; px < kFaceSize; ++px) {
      Dir d = FacePoint(k, (px + 0.5) / kFaceSize, (py + 0.5) / kFaceSize);
      const double len = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
      d = {d.x / len, d.y / len, d.z / len};
      double rgb[3];
      SkyColour(d, rgb);
      auto* p = img.at(px, py);
      for (int c = 0; c < 3; ++c)
        p[c] = static_cast<std::uint8_t>(std::lround(std::clamp(rgb[c], 0.0, 1.0) * 255.0));
    }
  }
  WriteJpeg(path, img, 90);
}

// Grey around 128, so that doubling it against the ground (MODULATE2X) leaves the ground's own
// brightness on average: wind ripples and fine grain that the ground texture is too coarse to show.
void WriteDetail(const std::string& path) {
  Image img(kDetailSize, kDetailSize, 3);
  for (int y = 0; y < kDetailSize; ++y) {
    for (int x = 0; x < kDetailSize; ++x) {
      const double u = static_cast<double>(x) / kDetailSize, v = static_cast<double>(y) / kDetailSize;
      const double ripple =
          std::sin((u * 6 + TileFbm(u * 4, v * 4, 4, 3, 0.5, 131) * 1.5) * 2 * 3.14159265358979);
      const double grain = TileFbm(u * 32, v * 32, 32, 3, 0.6, 137) - 0.5;
      const double value = 128 + 14 * ripple + 60 * grain;
      auto* p = img.at(x, y);
      p[0] = p[1] = p[2] = static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0)));
    }
  }
  WriteJpeg(path, img, 90);
}

}  // namespace

void WriteTerrain(const std::string& out) {
  MakeFolder(out + "/terrain");
  WriteHeightMap(out + "/terrain/height.tga");
  WriteDetail(out + "/terrain/detail.jpg");
  for (int k = 0; k < 6; ++k) WriteSkyFace(out + "/terrain/sky_" + kFaceNames[k] + ".jpg", k);
}

}  // namespace mediagen
