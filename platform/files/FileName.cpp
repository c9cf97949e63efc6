#include "platform/files/FileName.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

namespace platform {

namespace {

namespace fs = std::filesystem;

char FoldCase(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

std::vector<std::string> Components(const std::string& name) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : name + '/') {
    if (c == '/' || c == '\\') {
      if (!part.empty() && part != ".") parts.push_back(part);
      part.clear();
    } else {
      part.push_back(c);
    }
  }
  return parts;
}

std::string Join(const std::string& folder, const std::string& part) {
  if (folder.empty()) return part;
  return folder.back() == '/' ? folder + part : folder + "/" + part;
}

// Follows `parts` from `folder`, which exists ("" is the current folder).
FoundFile Walk(std::string folder, const std::vector<std::string>& parts) {
  std::string note;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const bool last = i + 1 == parts.size();
    const std::string& part = parts[i];
    std::error_code ec;
    std::string next = Join(folder, part);
    const auto st = fs::status(next, ec);
    if (!ec && (last || fs::is_directory(st))) {
      folder = next;
      continue;
    }
    // Not there as written: the folder's entries that match without regard to case.
    std::vector<std::string> matches;
    const std::string where = folder.empty() ? "." : folder;
    for (fs::directory_iterator it(where, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string entry = it->path().filename().string();
      if (!SameIgnoringCase(entry, part)) continue;
      std::error_code ec2;
      if (!last && !fs::is_directory(it->path(), ec2)) continue;
      matches.push_back(entry);
    }
    if (matches.empty()) {
      if (ec) return {{}, "cannot list the folder " + where + ": " + ec.message()};
      return {{},
              std::string("no ") + (last ? "file" : "folder") + " named \"" + part + "\" in " + where +
                  ", in any case"};
    }
    std::sort(matches.begin(), matches.end());
    if (!note.empty()) note += "; ";
    note += "\"" + part + "\" matched \"" + matches.front() + "\" ignoring case";
    if (matches.size() > 1) {
      note += " (the first in byte order of " + std::to_string(matches.size()) + ":";
      for (const auto& m : matches) note += " \"" + m + "\"";
      note += ")";
    }
    folder = Join(folder, matches.front());
  }
  if (parts.empty()) return {{}, "no file name"};
  return {folder, note};
}

}  // namespace

// Media paths are the same on every platform: the desktop's and the browser's file systems both
// spell folders with '/'.
std::string MediaPath(const std::string& appFolder, const std::string& relative) {
  std::string rel = relative;
  for (char& c : rel)
    if (c == '\\') c = '/';
  return appFolder + rel;
}

FoundFile FindFile(const std::string& path) {
  std::error_code ec;
  if (!path.empty() && fs::exists(path, ec)) return {path, {}};
  const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
  return Walk(absolute ? "/" : "", Components(path));
}

FoundFile FindFileIn(const std::string& folder, const std::string& name) {
  const auto parts = Components(name);
  std::error_code ec;
  if (!fs::is_directory(folder.empty() ? "." : folder, ec)) return {{}, "no folder " + folder};
  return Walk(folder, parts);
}

}  // namespace platform
