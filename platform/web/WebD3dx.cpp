// D3DX in the browser. Its file-reading calls are the desktop's (D3dxFile.cpp, Mesh.cpp, Font.cpp);
// only the decoders differ: the browser has neither the image decoders, zlib nor FreeType, so it
// reads the media the exporter prepared with them (Prepared.h). A texture comes as its texels alone
// (the page has the browser decode a JPEG into them): its smaller levels are made here, as the
// desktop makes them after decoding.
#include <filesystem>

#include "platform/base/Error.h"
#include "platform/d3dx/Font.h"
#include "platform/d3dx/MipChain.h"
#include "platform/d3dx/Prepared.h"
#include "platform/d3dx/Texture.h"
#include "platform/d3dx/XFile.h"

namespace d3dx {

namespace {

// Where the page's script puts the prepared faces in the runtime's file system.
constexpr const char* kFontFolder = "/fonts/";

}  // namespace

std::vector<d3d::Texture::Level> DecodeImageWithMips(const std::uint8_t* data, std::size_t size,
                                                     const std::string& file) {
  auto levels = ReadPreparedTexture(data, size, file, "D3DXCreateTextureFromFile");
  if (levels.size() == 1) CompleteMipChain(levels);
  return levels;
}

XModel ParseModel(const std::uint8_t* data, std::size_t size, const std::string& file,
                  const std::string& call) {
  return ReadPreparedModel(data, size, file, call);
}

GdiFont StdFont::hFont() const {
  const char* call = "StdFont hFont";
  GdiFont f;
  f.name = Name;
  f.pixelHeight = GdiPixelHeight(Size, Name, call);
  f.bold = Bold;
  f.italic = Italic;
  f.underline = Underline;
  f.file = kFontFolder + PreparedFaceName(f);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(f.file, ec))
    throw platform::Error(call, "no face was prepared for \"" + Name + "\" at this size", f.file);
  return f;
}

std::unique_ptr<GlyphSource> OpenGlyphSource(const GdiFont& font) {
  const auto bytes = ReadFile("D3DXCreateFont", font.file);
  return PreparedGlyphSource(ReadPreparedFace(bytes.data(), bytes.size(), font.file, "D3DXCreateFont"));
}

}  // namespace d3dx
