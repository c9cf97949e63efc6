// The video files --record writes, told apart by the extension of their name. Kept apart from the
// writers so that the program can check a name without loading the codec module.
#pragma once

#include <optional>
#include <string>

namespace video {

enum class Container {
  Mp4,       // .mp4: H.264 and AAC
  Matroska,  // .mkv: H.264 and AAC
  WebM,      // .webm: VP9 and Opus
};

// The container a file name's extension asks for (.mp4, .mkv or .webm, in any case); nothing for
// any other extension.
std::optional<Container> ContainerForFile(const std::string& path);

}  // namespace video
