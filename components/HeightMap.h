// The height-map files the terrain reads: the 8-bit greyscale TGA whose 18-byte header gives the
// size (the terrain's own format), the same TGA run-length compressed or with an image-ID field or
// colour-map field before its samples, and greyscale PNG of 1, 2, 4, 8 or 16 bits. Colour images
// are refused rather than converted: a height packed into colour channels, or a normal map, has no
// one grey that means its height, and a guess would give a wrong terrain without a word.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace components {

struct HeightMap {
  std::int32_t width = 0, height = 0;  // samples per row (XSize), rows (ZSize)
  // Row after row, x fastest, grid row 0 first, in 1/256 of a height step: an 8-bit sample s is
  // s * 256, a 16-bit sample keeps all its bits.
  std::vector<std::uint16_t> samples;
  std::string format;  // what the file was read as, for messages
};

// Reads `file` for InitLand. TGA rows come in stored order, as the terrain always took them (the
// header's top-down bit is not read); a TGA is normally stored bottom row first, so a PNG's last
// row becomes grid row 0, and the same picture gives the same terrain in either format. Refused,
// with an error naming InitLand, the file and what it is: an empty, unreadable or cut-short file,
// a colour image, any other format, a size of 0 or less or above 32767 on a side, and a grid of
// more than `maxSamples` samples (checked before anything that large is allocated).
HeightMap ReadHeightMap(const std::string& file, std::int64_t maxSamples);

}  // namespace components
