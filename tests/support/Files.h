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

}  // namespace wgtest
