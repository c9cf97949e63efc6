// File names as a Windows program sees them. Models and options written on Windows name their
// files with backslashes and in any case, and Windows finds them so; this file system spells the
// separator '/' and tells case apart.
//
// The rule: a path that exists exactly as written is taken as it is. Otherwise it is followed one
// component at a time, with '\' and '/' both separating components (repeated separators count as
// one, as Windows counts them); a component that is not there as written is matched against the
// folder's entries with the letters A-Z compared without regard to case (other characters must
// match exactly). When two or more entries match, the first in byte order is taken, so capitals go
// before small letters ("Bark.BMP" before "bark.bmp"); the note says so.
#pragma once

#include <string>

namespace platform {

struct FoundFile {
  std::string path;  // the file to open; empty when none matches
  // Empty for an exact match; otherwise why nothing matched, or how the name was matched.
  std::string note;
  bool found() const { return !path.empty(); }
};

// The media path: the application folder followed by a fixed relative path written with
// backslashes, which this platform's file system spells with '/'.
std::string MediaPath(const std::string& appFolder, const std::string& relative);

// Looks `path` up by the rule above.
FoundFile FindFile(const std::string& path);

// Looks up `name`, as a model or a Windows program writes it, in `folder` (a path of this file
// system). A name starting with a separator is still taken inside `folder`.
FoundFile FindFileIn(const std::string& folder, const std::string& name);

}  // namespace platform
