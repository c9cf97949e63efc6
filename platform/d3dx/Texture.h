// D3DX textures: images decoded with a full mip chain. JPEG (libjpeg-turbo), PNG (libpng), BMP,
// TGA and DDS (ImageMagick), told apart by their content, never by the file name. Texels are the
// values stored in the file: no gamma and no colour management, as D3DX applies none; 16-bit samples
// become 8-bit by rounding v x 255 / 65535.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"
#include "platform/d3dx/MipChain.h"

namespace d3dx {

// The largest side an image may have; larger images are refused from their header, before anything
// is allocated.
constexpr int kMaxImageSide = 16384;
// The largest side of a texture: a larger image is reduced while it is decoded, halving its size
// until it fits (the JPEG decoder scales its DCT; the others average blocks of pixels).
constexpr int kMaxTextureSide = 4096;
// ImageMagick decodes a BMP, TGA or DDS image whole at 8 bytes a pixel before it is reduced, so
// these may have at most this many pixels (4096 x 4096, or 8192 x 2048, ...); JPEG and PNG images
// are reduced as they are read and have no such bound.
constexpr std::int64_t kMaxLibraryPixels = std::int64_t{1} << 24;

enum class ImageFormat { Jpeg, Png, Bmp, Tga, Dds };
const char* ImageFormatName(ImageFormat format);

// Which format the data is by its content. Throws naming `file`, and the formats that are read,
// when it is none of them.
ImageFormat DetectImageFormat(const std::uint8_t* data, std::size_t size, const std::string& file);

// Checks that the data is an image that the decoder may read, and reads its size from the header;
// nothing is decoded. Throws naming `file` when the data is no such image or is too large.
void ReadImageSize(const std::uint8_t* data, std::size_t size, const std::string& file, int& width,
                   int& height);

struct DecodedImage {
  ImageFormat format;
  int width = 0, height = 0;  // the file's own size
  d3d::Texture::Level level;  // the texels, reduced to at most kMaxTextureSide a side
};

// Decodes a whole image held in memory. Throws naming `file` when the data is no image it reads,
// is too large or is broken.
DecodedImage DecodeImage(const std::uint8_t* data, std::size_t size, const std::string& file);

// DecodeImage's texels as level 0, then every smaller level down to 1 x 1 by averaging.
std::vector<d3d::Texture::Level> DecodeImageWithMips(const std::uint8_t* data, std::size_t size,
                                                     const std::string& file);


// D3DXCreateTextureFromFile with its default options: the file's own size, a full mip chain. The
// path is looked up as Windows would (platform::FindFile: any case, backslashes as separators). A
// missing, unreadable or undecodable file is an error naming it.
std::shared_ptr<d3d::Texture> D3DXCreateTextureFromFile(d3d::Device& device, const std::string& path);

// The same from an image file's bytes held in memory (an image a model carries inside it); `name`
// names it in errors.
std::shared_ptr<d3d::Texture> D3DXCreateTextureFromFileInMemory(d3d::Device& device,
                                                                const std::vector<std::uint8_t>& bytes,
                                                                const std::string& name);

// Reads a whole file; throws naming `call` and the file when it cannot.
std::vector<std::uint8_t> ReadFile(const std::string& call, const std::string& path);

// A file as D3DX's loaders find it: looked up as Windows would (platform::FindFile), then read whole.
// Throws naming `call` and the file when there is none or it cannot be read.
struct FoundBytes {
  std::string path;  // the file read
  std::vector<std::uint8_t> bytes;
};
FoundBytes FindAndReadFile(const std::string& call, const std::string& path);

// RGBA8 pixels (top row first) as the bytes of a PNG file; `path` names it in errors.
std::vector<std::uint8_t> EncodePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width,
                                    int height);
// Writes them as a PNG, whole or not at all (platform::WriteFileAtomically).
void WritePng(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height);
// The same as a baseline JPEG of `quality` (1..100), and written whole or not at all.
std::vector<std::uint8_t> EncodeJpeg(const std::string& path, const std::vector<std::uint8_t>& rgba, int width,
                                     int height, int quality = 90);
void WriteJpeg(const std::string& path, const std::vector<std::uint8_t>& rgba, int width, int height,
               int quality = 90);

}  // namespace d3dx
