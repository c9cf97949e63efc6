// The files a model names beside itself: a glTF file's buffers and images, an OBJ file's material
// library and textures. A model comes from anyone, so it may only name files in its own folder or
// below: a name that is absolute (/x, C:\x, \\server\x), that climbs out (a ".." component) or that
// carries a scheme (file:, http:, ...) is refused naming it, and nothing is read.
#pragma once

#include <string>

namespace d3dx {

// The path of the file `name` names, looked up inside `folder` as Windows would
// (platform::FindFileIn). Throws platform::Error naming `call`, the model `file` and `name` when the
// name leaves the folder or no such file is there.
std::string ModelFilePath(const std::string& folder, const std::string& name, const std::string& file,
                          const std::string& call);

// A relative URI's path with its %XX escapes decoded (glTF writes "my%20tree.bin"). Throws
// platform::Error naming `call`, `file` and the URI when an escape is broken or decodes to NUL.
std::string DecodeUriPath(const std::string& uri, const std::string& file, const std::string& call);

}  // namespace d3dx
