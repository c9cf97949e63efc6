// The D3DX calls that read a file and hand its bytes to a decoder. They are the same on every
// platform; what decodes differs (the browser's decoders read prepared media, Prepared.h).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "platform/base/Error.h"
#include "platform/d3dx/Texture.h"
#include "platform/files/FileName.h"

namespace d3dx {

// Read with the C library's streams, not iostreams: in the web page's runtime, iostreams would bring
// their locale machinery along, a fifth of the runtime's download.
std::vector<std::uint8_t> ReadFile(const std::string& call, const std::string& path) {
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!in) throw platform::Error(call, std::strerror(errno), path);
  // A folder opens like a file here and reports an end position near 2^63.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) throw platform::Error(call, "not a regular file", path);
  std::vector<std::uint8_t> bytes;
  if (const std::uintmax_t size = std::filesystem::file_size(path, ec); !ec) bytes.reserve(static_cast<std::size_t>(size));
  for (std::uint8_t chunk[1 << 16];;) {
    const std::size_t n = std::fread(chunk, 1, sizeof chunk, in.get());
    bytes.insert(bytes.end(), chunk, chunk + n);
    if (n < sizeof chunk) break;
  }
  if (std::ferror(in.get())) throw platform::Error(call, "cannot read the file", path);
  return bytes;
}

FoundBytes FindAndReadFile(const std::string& call, const std::string& path) {
  const platform::FoundFile found = platform::FindFile(path);
  if (!found.found()) throw platform::Error(call, found.note, path);
  return {found.path, ReadFile(call, found.path)};
}

std::shared_ptr<d3d::Texture> D3DXCreateTextureFromFile(d3d::Device& device, const std::string& path) {
  const FoundBytes file = FindAndReadFile("D3DXCreateTextureFromFile", path);
  return D3DXCreateTextureFromFileInMemory(device, file.bytes, file.path);
}

std::shared_ptr<d3d::Texture> D3DXCreateTextureFromFileInMemory(d3d::Device& device,
                                                                const std::vector<std::uint8_t>& bytes,
                                                                const std::string& name) {
  return device.CreateTexture(DecodeImageWithMips(bytes.data(), bytes.size(), name), name);
}

}  // namespace d3dx
