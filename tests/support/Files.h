// Files as tests read them back: a whole file, byte for byte.
#pragma once

#include <fstream>
#include <iterator>
#include <string>

namespace wgtest {

// Every byte of the file at `path`; empty when it cannot be opened, so a log a program never wrote
// reads as "" in a failure message.
inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `bytes` as the whole file at `path`.
template <typename Bytes>
void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace wgtest
