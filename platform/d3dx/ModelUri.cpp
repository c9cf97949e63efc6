#include "platform/d3dx/ModelUri.h"

#include <cctype>

#include "platform/base/Error.h"
#include "platform/files/FileName.h"

namespace d3dx {

namespace {

// Why `name` leaves the model's folder; empty when it stays inside.
std::string Escape(const std::string& name) {
  if (name.empty()) return "is empty";
  if (name[0] == '/' || name[0] == '\\') return "is an absolute path";
  if (name.size() >= 2 && std::isalpha(static_cast<unsigned char>(name[0])) && name[1] == ':')
    return "is an absolute path";
  // A scheme: letters, digits, '+', '-' or '.' after a letter, then ':' ("http:", "file:").
  const auto colon = name.find(':');
  if (colon != std::string::npos) return "names a location outside the model's folder";
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0) return "climbs out of the model's folder";
    start = end + 1;
  }
  return {};
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string ModelFilePath(const std::string& folder, const std::string& name, const std::string& file,
                          const std::string& call) {
  const std::string why = Escape(name);
  if (!why.empty()) throw platform::Error(call, "the model names \"" + name + "\", which " + why, file);
  const platform::FoundFile found = platform::FindFileIn(folder, name);
  if (!found.found())
    throw platform::Error(call, "the model names \"" + name + "\", which is not in its folder " + folder,
                          file);
  return found.path;
}

std::string DecodeUriPath(const std::string& uri, const std::string& file, const std::string& call) {
  std::string out;
  out.reserve(uri.size());
  for (std::size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] != '%') {
      out += uri[i];
      continue;
    }
    const int hi = i + 2 < uri.size() ? HexDigit(uri[i + 1]) : -1;
    const int lo = i + 2 < uri.size() ? HexDigit(uri[i + 2]) : -1;
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0))
      throw platform::Error(call, "the model names \"" + uri + "\", a URI with a broken %-escape", file);
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return out;
}

}  // namespace d3dx
