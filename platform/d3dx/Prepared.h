// Media prepared for a runtime that cannot decode them itself (the browser's): a texture as its
// decoded texels with the whole mip chain, a model as the model readers' result, a face as its
// rasterised glyphs. The exporter makes them with the decoders, reader and rasteriser the desktop
// program uses, so the browser draws the same texels; the browser's D3DX reads them back.
// Each file starts with its own eight-byte signature; numbers are little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d/Device.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/XFile.h"

namespace d3dx {

std::vector<std::uint8_t> WritePreparedTexture(const std::vector<d3d::Texture::Level>& levels);
std::vector<std::uint8_t> WritePreparedModel(const XModel& model);
std::vector<std::uint8_t> WritePreparedFace(const PreparedFace& face);

// Each checks every size against the bytes that remain before it reads or allocates, and throws
// platform::Error naming `call` and `file` when the data is not what it should be.
std::vector<d3d::Texture::Level> ReadPreparedTexture(const std::uint8_t* data, std::size_t size,
                                                     const std::string& file, const std::string& call);
XModel ReadPreparedModel(const std::uint8_t* data, std::size_t size, const std::string& file,
                         const std::string& call);
PreparedFace ReadPreparedFace(const std::uint8_t* data, std::size_t size, const std::string& file,
                              const std::string& call);

}  // namespace d3dx
