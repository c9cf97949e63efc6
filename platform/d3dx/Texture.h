// D3DX textures: JPEG and PNG files decoded with a full mip chain.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"

namespace d3dx {

// The largest side an image may have; larger images are refused before anything is allocated.
constexpr int kMaxImageSide = 16384;

// Checks that the data is a JPEG or PNG image that the decoder may read, and reads its size from
// the header; nothing is decoded. Throws naming `file` when the data is no such image or is too
// large.
void ReadImageSize(const std::uint8_t* data, std::size_t size, const std::string& file, int& width, int& height);

// Decodes a JPEG or PNG image held in memory into RGBA8 level 0 and builds every smaller level down
// to 1 x 1 by averaging. Throws naming `file` when the data is no image or is too large.
std::vector<d3d::Texture::Level> DecodeImageWithMips(const std::uint8_t* data, std::size_t size,
                                                     const std::string& file);

// The next mip level of an RGBA8 image: each pixel the mean of the 2 x 2 (or, at an odd edge,
// smaller) block above it.
d3d::Texture::Level Downsample(const d3d::Texture::Level& src);

// D3DXCreateTextureFromFile with its default options: the file's own size, a full mip chain.
// A missing, unreadable or undecodable file is an error naming it.
std::shared_ptr<d3d::Texture> D3DXCreateTextureFromFile(d3d::Device& device, const std::string& path);

// Reads a whole file; throws naming `call` and the file when it cannot.
std::vector<std::uint8_t> ReadFile(const std::string& call, const std::string& path);

// Writes RGBA8 pixels (top row first) as a PNG, to a temporary name renamed into place.
void WritePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height);

}  // namespace d3dx
